// The transfer window. Everything here runs on the GUI thread, often from
// inside a blocking download (the flow lets window events run every 250 ms
// through PumpEvents), so the lines repaint at once instead of waiting for
// the event loop. What the lines say and when the window goes are the
// flow's; this file draws and forwards.
#include "transfer/gui/Form_Run.h"

#include "transfer/core/ByteCount.h"
#include "transfer/gui/FormDownloadSet.h"
#include "transfer/gui/TransferWidgets.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QMovie>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

using transfer::flow::NextStep;
using transfer::flow::NextStepChoice;
using transfer::flow::Rgb;
using transfer::flow::TransferPart;
namespace texts = transfer::flow::texts;

QPointer<TForm_Run> Form_Run;

namespace {

constexpr int kClientWidth = 571;
constexpr int kClientHeight = 126;
constexpr int kPictureSide = 36;

const QString kIconFileName = QStringLiteral("MIRASTE.ICO");
const QString kBuiltInIcon = QStringLiteral(":/glyphs/halvorne.png");
const QString kPictureFolder = QStringLiteral(":/gif");
const QString kPictureName = QStringLiteral("zavinac");
const QByteArray kPictureFormat = QByteArrayLiteral("GIF");

QString Utf8(const std::string& text) { return QString::fromStdString(text); }
QString Utf8(const char* text) { return QString::fromUtf8(text); }

constexpr int kEscape = 27;

bool IsPlainEscape(const QKeyEvent* e) { return e->key() == Qt::Key_Escape; }

} // namespace

TForm_Run::TForm_Run(QWidget* parent) : QWidget(parent) {
    BuildLayout();
    LoadIcon();
    // The animated picture is read when the window is first drawn (see
    // paintEvent): a check that ends before that never needs it.
}

TForm_Run::~TForm_Run() {
    if (Form_Run == this)
        Form_Run = nullptr;
}

void TForm_Run::BuildLayout() {
    using transfer::gui::WindowFont;

    setWindowFlags(Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(kClientWidth, kClientHeight);
    setFont(WindowFont(11));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    setPalette(pal);
    setAutoFillBackground(true);

    const QFont bold = WindowFont(11, true);

    Label_Top = new QLabel(this);
    Label_Top->setObjectName(QStringLiteral("Label_Top"));
    Label_Top->setGeometry(0, 0, kClientWidth, 17);
    Label_Top->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label_Top->setFont(bold);
    // The lines carry texts from the network (file names, error texts):
    // never interpret them as markup.
    Label_Top->setTextFormat(Qt::PlainText);

    Label_Download = new QLabel(this);
    Label_Download->setObjectName(QStringLiteral("Label_Download"));
    Label_Download->setGeometry(40, 24, 505, 17);
    Label_Download->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label_Download->setFont(bold);
    Label_Download->setTextFormat(Qt::PlainText);

    auto* gauge = new transfer::gui::TGauge(this);
    gauge->setObjectName(QStringLiteral("Gauge1"));
    gauge->setGeometry(8, 42, 557, 15);
    Gauge1 = gauge;

    // Created after the byte-count line and the gauge so that it lies above
    // them in the band they share.
    Label_Msg = new QLabel(this);
    Label_Msg->setObjectName(QStringLiteral("Label_Msg"));
    Label_Msg->setGeometry(0, 24, 569, 33);
    Label_Msg->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label_Msg->setWordWrap(true);
    Label_Msg->setFont(bold);
    Label_Msg->setTextFormat(Qt::PlainText);

    BitBtn_Storno = new QPushButton(
        transfer::gui::BuiltInPngIcon(QStringLiteral(":/glyphs/cross.png")), Utf8(texts::kStorno), this);
    BitBtn_Storno->setObjectName(QStringLiteral("BitBtn_Storno"));
    BitBtn_Storno->setGeometry(242, 94, 91, 25);
    BitBtn_Storno->setIconSize(QSize(18, 18));
    BitBtn_Storno->setAutoDefault(false);

    BitBtn_Set = new QPushButton(
        transfer::gui::BuiltInPngIcon(QStringLiteral(":/glyphs/cog.png")), Utf8(texts::kNastaveni), this);
    BitBtn_Set->setObjectName(QStringLiteral("BitBtn_Set"));
    BitBtn_Set->setGeometry(474, 92, 91, 25);
    BitBtn_Set->setIconSize(QSize(18, 18));
    BitBtn_Set->setAutoDefault(false);

    Panel_Img = new QWidget(this);
    Panel_Img->setObjectName(QStringLiteral("Panel_Img"));
    Panel_Img->setGeometry(8, 85, kPictureSide, kPictureSide);

    ImageGIf = new QLabel(Panel_Img);
    ImageGIf->setObjectName(QStringLiteral("ImageGIf"));
    ImageGIf->setGeometry(0, 0, kPictureSide, kPictureSide);
    ImageGIf->setAlignment(Qt::AlignCenter);
    ImageGIf->setAttribute(Qt::WA_TranslucentBackground);

    setTabOrder(BitBtn_Storno, BitBtn_Set);

    connect(BitBtn_Storno, &QPushButton::clicked, this, [this] {
        if (flow_)
            flow_->OnStorno();
    });
    connect(BitBtn_Set, &QPushButton::clicked, this, [this] {
        if (flow_)
            flow_->OnSettings();
    });
    BitBtn_Storno->installEventFilter(this);
}

void TForm_Run::LoadIcon() {
    setWindowIcon(transfer::gui::BuiltInPngIcon(kBuiltInIcon));
    const QString iconPath = transfer::gui::FindFileIgnoringCase(QDir::currentPath(), kIconFileName);
    if (iconPath.isEmpty())
        return;
    const QIcon icon(iconPath);
    // An unreadable file keeps the built-in icon.
    if (!icon.isNull() && !icon.availableSizes().isEmpty())
        setWindowIcon(icon);
}

void TForm_Run::LoadPicture() {
    const QString path = transfer::gui::FindResourceIgnoringCase(kPictureFolder, kPictureName);
    if (path.isEmpty())
        return;
    // The picture is ours and a GIF: naming the format loads only that
    // image plugin instead of every one to guess it.
    QImageReader reader(path, kPictureFormat);
    QSize size = reader.size();
    if (!size.isValid())
        return;
    size.scale(kPictureSide, kPictureSide, Qt::KeepAspectRatio);
    GifMovie = new QMovie(path, kPictureFormat, this);
    if (!GifMovie->isValid()) {
        delete GifMovie;
        GifMovie = nullptr;
        return;
    }
    GifMovie->setScaledSize(size);
    ImageGIf->setMovie(GifMovie);
    GifMovie->start();
}

// ---- what the flow shows ----

QString TForm_Run::FormatByteCount(int32_t count) { return Utf8(transfer::FormatByteCount(count)); }

void TForm_Run::SetCaption(const std::string& text) { setWindowTitle(Utf8(text)); }

void TForm_Run::ShowStatusLine(const std::string& text, Rgb colour) {
    transfer::gui::SetLabelColour(Label_Top, transfer::gui::ToQColor(colour));
    Label_Top->setText(Utf8(text));
    Label_Top->repaint();
    repaint();
}

void TForm_Run::SetStatusText(const std::string& text) {
    Label_Top->setText(Utf8(text));
    repaint();
}

void TForm_Run::SetMessageLine(const std::string& text, Rgb colour) {
    transfer::gui::SetLabelColour(Label_Msg, transfer::gui::ToQColor(colour));
    Label_Msg->setText(Utf8(text));
    Label_Msg->repaint();
}

void TForm_Run::SetByteCountLine(const std::string& text, Rgb colour) {
    transfer::gui::SetLabelColour(Label_Download, transfer::gui::ToQColor(colour));
    Label_Download->setText(Utf8(text));
    Label_Download->repaint();
}

void TForm_Run::SetGauge(int position, int maximum) {
    Gauge1->setMaximum(maximum);
    Gauge1->setValue(position);
}

QWidget* TForm_Run::Part(TransferPart part) const {
    switch (part) {
    case TransferPart::MessageLine: return Label_Msg;
    case TransferPart::ByteCountLine: return Label_Download;
    case TransferPart::Gauge: return Gauge1;
    case TransferPart::Animation: return Panel_Img;
    case TransferPart::SettingsButton: return BitBtn_Set;
    }
    return nullptr;
}

void TForm_Run::SetPartVisible(TransferPart part, bool visible) {
    QWidget* w = Part(part);
    w->setVisible(visible);
    if (part == TransferPart::SettingsButton)
        w->setEnabled(visible);
    repaint();
}

void TForm_Run::ShowWindow() { show(); }

void TForm_Run::HideWindow() { hide(); }

void TForm_Run::CloseWindow() {
    closingForTheFlow_ = true;
    close();
    closingForTheFlow_ = false;
    // Whether Qt delivers a close event for a window that is already hidden
    // depends on its version and platform; hidden it is either way.
    hide();
}

NextStepChoice TForm_Run::AskNextStep(const std::string& newVersionText) {
    NextStepChoice choice;
    TFormDownloadSet* dialog = nextStepDialog_ ? nextStepDialog_() : FormDownloadSet.data();
    if (!dialog)
        return choice;
    dialog->SetNewVersionText(Utf8(newVersionText));
    if (dialog->exec() != QDialog::Accepted)
        return choice;
    bool showChanges = false, download = false, pdf = false;
    dialog->GetChoice(showChanges, download, pdf);
    choice.Step = showChanges ? NextStep::ShowChanges : download ? NextStep::Download : NextStep::Cancel;
    choice.Pdf = pdf;
    return choice;
}

void TForm_Run::PumpEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

// ---- Qt events, forwarded ----

void TForm_Run::paintEvent(QPaintEvent* event) {
    if (!pictureLoaded_) {
        pictureLoaded_ = true;
        LoadPicture();
    }
    QWidget::paintEvent(event);
}

void TForm_Run::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    BitBtn_Storno->setFocus(Qt::OtherFocusReason);
    if (flow_)
        flow_->OnShown();
}

void TForm_Run::closeEvent(QCloseEvent* event) {
    if (closingForTheFlow_) {
        event->accept();
        return;
    }
    // The desktop's close: the flow closes the window when it goes.
    event->ignore();
    if (flow_)
        flow_->OnDesktopClose();
}

void TForm_Run::keyPressEvent(QKeyEvent* event) {
    // Keys reach the window itself only when none of its controls has the
    // focus; a key a focused control ignored is not the window's.
    QWidget* focused = focusWidget();
    if (focused != nullptr && focused != this && focused->isVisible() && focused->isEnabled()) {
        QWidget::keyPressEvent(event);
        return;
    }
    if (IsPlainEscape(event) && FormKeyPress(kEscape)) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool TForm_Run::FormKeyPress(int key) {
    if (key != kEscape || !flow_)
        return false;
    flow_->OnEscape();
    return true;
}

bool TForm_Run::eventFilter(QObject* watched, QEvent* event) {
    if (watched == BitBtn_Storno && event->type() == QEvent::KeyPress &&
        IsPlainEscape(static_cast<QKeyEvent*>(event)) && flow_) {
        flow_->OnStorno();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
