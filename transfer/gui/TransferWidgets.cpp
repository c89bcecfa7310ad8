#include "transfer/gui/TransferWidgets.h"

#include "platform/files/FileOps.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QIconEngine>
#include <QImageReader>
#include <QPixmap>

namespace transfer::gui {

TGauge::TGauge(QWidget* parent) : QProgressBar(parent) {
    setRange(0, 100);
    setValue(0);
    setTextVisible(true);
    QFont f = WindowFont(5);
    setFont(f);
}

int TGauge::PercentDone() const {
    const qint64 span = qint64(maximum()) - minimum();
    if (span <= 0)
        return 0;
    const qint64 done = qint64(value()) - minimum();
    if (done <= 0)
        return 0;
    return static_cast<int>(done * 100 / span);
}

QString TGauge::text() const { return QString::number(PercentDone()) + QLatin1Char('%'); }

void TGauge::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect all = rect();
    const QRect inner = all.adjusted(1, 1, -1, -1);
    p.fillRect(all, Qt::black);
    p.fillRect(inner, BackColor);

    const int filledWidth = inner.width() * PercentDone() / 100;
    const QRect filled(inner.left(), inner.top(), filledWidth, inner.height());
    p.fillRect(filled, ForeColor);

    if (!isTextVisible())
        return;
    // The figure reads in the fore colour over the empty part and in the
    // back colour over the filled part.
    const QString label = text();
    p.setFont(font());
    p.save();
    p.setClipRect(inner.adjusted(filledWidth, 0, 0, 0));
    p.setPen(ForeColor);
    p.drawText(inner, Qt::AlignCenter, label);
    p.restore();
    if (filledWidth > 0) {
        p.setClipRect(filled);
        p.setPen(BackColor);
        p.drawText(inner, Qt::AlignCenter, label);
    }
}

namespace {

QImage ReadBuiltInPng(const QString& resource) {
    QImageReader reader(resource, "PNG");
    // Even with the format named, a reader that may guess asks every
    // plugin first whether it wants the file.
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

// An icon read only when it is first drawn or measured: a short run may
// end before its window is ever drawn. Everything else is the ordinary
// pixmap icon's.
class BuiltInPngEngine : public QIconEngine {
public:
    explicit BuiltInPngEngine(QString resource) : resource_(std::move(resource)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
        Loaded().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return Loaded().pixmap(size, mode, state);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override {
        return Loaded().pixmap(size, scale, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return Loaded().actualSize(size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
        return Loaded().availableSizes(mode, state);
    }
    // A built-in picture is there, read or not.
    bool isNull() override { return false; }
    QString key() const override { return QStringLiteral("halvorne.builtin.png"); }
    QIconEngine* clone() const override { return new BuiltInPngEngine(*this); }

private:
    QIcon& Loaded() {
        if (loaded_.isNull())
            loaded_ = QIcon(QPixmap::fromImage(ReadBuiltInPng(resource_)));
        return loaded_;
    }

    QString resource_;
    QIcon loaded_;
};

} // namespace

QIcon BuiltInPngIcon(const QString& resource) { return QIcon(new BuiltInPngEngine(resource)); }

QFont WindowFont(int pixelSize, bool bold) {
    QFont f;
    f.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
        QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

void SetLabelColour(QLabel* label, const QColor& colour) {
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, colour);
    pal.setColor(QPalette::Text, colour);
    label->setPalette(pal);
}

QString FindResourceIgnoringCase(const QString& folder, const QString& name) {
    const QDir dir(folder);
    const QStringList entries = dir.entryList(QDir::Files, QDir::Name);
    for (const QString& entry : entries) {
        if (QFileInfo(entry).completeBaseName().compare(name, Qt::CaseInsensitive) == 0)
            return dir.filePath(entry);
    }
    return {};
}

QString FindFileIgnoringCase(const QString& dirPath, const QString& fileName) {
    const std::string found = platform::files::FindFileIgnoringCase(
        QFile::encodeName(dirPath).toStdString(), QFile::encodeName(fileName).toStdString());
    return found.empty() ? QString() : QFile::decodeName(QByteArray::fromStdString(found));
}

} // namespace transfer::gui
