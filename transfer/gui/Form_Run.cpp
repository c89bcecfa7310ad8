// The transfer window. Everything here runs on the GUI thread, often from
// inside a blocking download (the anti-freeze serves window events every
// 250 ms), so the display operations repaint at once instead of waiting for
// the event loop.
#include "transfer/gui/Form_Run.h"

#include "transfer/core/ByteCount.h"
#include "transfer/gui/TransferWidgets.h"

#include <QApplication>
#include <QCloseEvent>
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

#include <algorithm>
#include <climits>

using transfer::gui::kBlue;
using transfer::gui::kGreen;
using transfer::gui::kRed;
using transfer::gui::TTransferHost;

QPointer<TForm_Run> Form_Run;

namespace {

// Every text the window shows, side by side.
namespace text {
const QString kStorno = QStringLiteral("Storno");
const QString kNastaveni = QStringLiteral("Nastavení");
const QString kConnected = QStringLiteral("SPOJENÍ NAVÁZÁNO");
const QString kNotConnected = QStringLiteral("SPOJENÍ SE NEPODAŘILO NAVÁZAT");
const QString kEnded = QStringLiteral("SPOJENÍ UKONČENO");
const QString kCancelled = QStringLiteral("SPOJENÍ ZRUŠENO");
const QString kDone = QStringLiteral("HOTOVO");
const QString kToDownload = QStringLiteral("Ke stažení: ");
const QString kDownloaded = QStringLiteral("Staženo: ");
const QString kOfTotal = QStringLiteral(" z celkem ");
} // namespace text

constexpr int kClientWidth = 571;
constexpr int kClientHeight = 126;
constexpr int kPictureSide = 36;
constexpr int kEscape = 27;

const QString kIconFileName = QStringLiteral("MIRASTE.ICO");
const QString kBuiltInIcon = QStringLiteral(":/glyphs/halvorne.png");
const QString kPictureFolder = QStringLiteral(":/gif");
const QString kPictureName = QStringLiteral("zavinac");

// The gauge counts in int; larger transfers are shown against a clamped
// range rather than wrapping to negative values.
int ClampToInt(int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX)); }

// Where count stands on a gauge of ClampToInt(total) steps: the count
// itself while the total fits, else the first step at which the gauge
// shows the count's whole percentage of the file, so a download beyond
// 2 GiB moves the gauge in proportion to the whole file.
int GaugePosition(int64_t count, int64_t total) {
    if (total <= INT_MAX)
        return ClampToInt(count);
    count = std::clamp<int64_t>(count, 0, total);
    const int64_t percent = total <= INT64_MAX / 100
                                ? count * 100 / total
                                : static_cast<int64_t>(static_cast<long double>(count) * 100 / total);
    return static_cast<int>((percent * INT_MAX + 99) / 100);
}

// The character a key press types, as the handlers expect it (Esc is 27).
int KeyCharacter(const QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape)
        return kEscape;
    const QString t = e->text();
    return t.isEmpty() ? 0 : t.at(0).unicode();
}

} // namespace

TForm_Run::TForm_Run(TTransferHost& host, QWidget* parent) : QWidget(parent), host_(host) {
    BuildLayout();
    FormCreate();
}

TForm_Run::~TForm_Run() {
    // The client may still call back into the window while it is torn down.
    IdHTTP1.OnConnected = nullptr;
    IdHTTP1.OnDisconnected = nullptr;
    IdHTTP1.OnWorkBegin = nullptr;
    IdHTTP1.OnWork = nullptr;
    IdHTTP1.OnWorkEnd = nullptr;
    IdHTTP1.AntiFreeze = nullptr;
    IdAntiFreeze1.OnIdle = nullptr;
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

    BitBtn_Storno = new QPushButton(QIcon(QStringLiteral(":/glyphs/cross.png")), text::kStorno, this);
    BitBtn_Storno->setObjectName(QStringLiteral("BitBtn_Storno"));
    BitBtn_Storno->setGeometry(242, 94, 91, 25);
    BitBtn_Storno->setIconSize(QSize(18, 18));
    BitBtn_Storno->setAutoDefault(false);

    BitBtn_Set = new QPushButton(QIcon(QStringLiteral(":/glyphs/cog.png")), text::kNastaveni, this);
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

    connect(BitBtn_Storno, &QPushButton::clicked, this, [this] { BitBtn_StornoClick(this); });
    connect(BitBtn_Set, &QPushButton::clicked, this, [this] { BitBtn_SetClick(); });
    BitBtn_Storno->installEventFilter(this);
}

void TForm_Run::FormCreate() {
    ReshowConnected = false;

    setWindowIcon(QIcon(kBuiltInIcon));
    const QString iconPath = transfer::gui::FindFileIgnoringCase(QDir::currentPath(), kIconFileName);
    if (!iconPath.isEmpty()) {
        const QIcon icon(iconPath);
        // An unreadable file keeps the built-in icon.
        if (!icon.isNull() && !icon.availableSizes().isEmpty())
            setWindowIcon(icon);
    }

    setWindowTitle(QString::fromStdString(host_.CaptionText()));

    Label_Msg->hide();
    Label_Download->show();
    transfer::gui::SetLabelColour(Label_Download, kGreen);
    Gauge1->show();

    const bool autoMode = host_.AutoMode();
    BitBtn_Set->setVisible(autoMode);
    BitBtn_Set->setEnabled(autoMode);

    CloseWhenDone = false;
    ConnectionMade = false;
    FinishedOk = true;

    LoadPicture();

    // The HTTP client reports into this window and keeps it alive while it
    // waits.
    IdHTTP1.OnConnected = [this](TIdHTTP*) { ConnectedInfo(this); };
    IdHTTP1.OnDisconnected = [this](TIdHTTP*) { DisconnectedInfo(this); };
    IdHTTP1.OnWorkBegin = [this](TIdHTTP*, TWorkMode mode, int64_t max) { HTTPWorkBegin(this, mode, max); };
    IdHTTP1.OnWork = [this](TIdHTTP*, TWorkMode mode, int64_t count) { HTTPWork(this, mode, count); };
    IdHTTP1.OnWorkEnd = [this](TIdHTTP*, TWorkMode mode) { HTTPWorkEnd(this, mode); };
    IdHTTP1.AntiFreeze = &IdAntiFreeze1;
    IdAntiFreeze1.OnIdle = [] { QCoreApplication::processEvents(QEventLoop::AllEvents); };

    setWindowFlag(Qt::WindowStaysOnTopHint, true);
}

void TForm_Run::LoadPicture() {
    const QString path = transfer::gui::FindResourceIgnoringCase(kPictureFolder, kPictureName);
    if (path.isEmpty())
        return;
    QImageReader reader(path);
    QSize size = reader.size();
    if (!size.isValid())
        return;
    size.scale(kPictureSide, kPictureSide, Qt::KeepAspectRatio);
    GifMovie = new QMovie(path, QByteArray(), this);
    if (!GifMovie->isValid()) {
        delete GifMovie;
        GifMovie = nullptr;
        return;
    }
    GifMovie->setScaledSize(size);
    ImageGIf->setMovie(GifMovie);
    GifMovie->start();
}

// ---- display operations ----

void TForm_Run::ShowStatusLine(const QString& text, const QColor& colour) {
    transfer::gui::SetLabelColour(Label_Top, colour);
    Label_Top->setText(text);
    Label_Top->repaint();
    repaint();
}

void TForm_Run::ShowMessageLine(const QString& text, const QColor& colour) {
    transfer::gui::SetLabelColour(Label_Msg, colour);
    Label_Msg->setText(text);
    Label_Msg->show();
    Label_Download->hide();
    Gauge1->hide();
    Label_Msg->repaint();
}

void TForm_Run::ShowAnimation() {
    Panel_Img->show();
    repaint();
}

void TForm_Run::HideAnimation() {
    Panel_Img->hide();
    repaint();
}

QString TForm_Run::FormatByteCount(int32_t count) { return QString::fromStdString(transfer::FormatByteCount(count)); }

std::string TForm_Run::ShowFileName(bool pdf) { return host_.ChangesAddress(pdf); }

void TForm_Run::ConnectedInfo(QObject*) {
    ShowStatusLine(text::kConnected, kGreen);
    ConnectionMade = true;
}

void TForm_Run::DisconnectedInfo(QObject*) {
    if (!ConnectionMade)
        ShowStatusLine(text::kNotConnected, kRed);
    else if (FinishedOk)
        ShowStatusLine(text::kEnded, kBlue);
    else
        ShowStatusLine(text::kCancelled, kRed);
}

// ---- progress handlers ----

void TForm_Run::HTTPWorkBegin(QObject*, int, int64_t workCountMax) {
    Panel_Img->hide();
    Gauge1->setValue(0);
    // A negative size would drag the gauge's minimum below 0 with it.
    gaugeTotal_ = std::max<int64_t>(workCountMax, 0);
    Gauge1->setMaximum(ClampToInt(gaugeTotal_));
    if (workCountMax > 0)
        Label_Download->setText(text::kToDownload + QString::fromStdString(transfer::FormatByteCount(workCountMax)));
    repaint();
}

void TForm_Run::HTTPWork(QObject*, int, int64_t workCount) {
    if (gaugeTotal_ > 0) {
        if (workCount > gaugeTotal_) {
            gaugeTotal_ = workCount;
            Gauge1->setMaximum(ClampToInt(gaugeTotal_));
        }
        Label_Download->setText(text::kDownloaded + QString::fromStdString(transfer::FormatByteCount(workCount)) +
                                text::kOfTotal + QString::fromStdString(transfer::FormatByteCount(gaugeTotal_)));
        Label_Download->repaint();
        Gauge1->setValue(GaugePosition(workCount, gaugeTotal_));
    } else {
        Label_Download->setText(text::kDownloaded + QString::fromStdString(transfer::FormatByteCount(workCount)));
    }
}

void TForm_Run::HTTPWorkEnd(QObject*, int) {
    Gauge1->hide();
    Panel_Img->show();
    Label_Top->setText(text::kDone);
    repaint();
}

// ---- window handlers ----

void TForm_Run::FormShow() {
    FinishedOk = false;
    if (ReshowConnected)
        ConnectedInfo(this);
    else
        DisconnectedInfo(this);
    ShowAnimation();
}

void TForm_Run::FormClose() {
    IdHTTP1.Disconnect();
    Label_Msg->hide();
    Gauge1->show();
    if (host_.AutoMode())
        host_.EndProgram();
}

bool TForm_Run::FormKeyPress(int key) {
    if (key != kEscape)
        return false;
    host_.CloseMainWindow();
    return true;
}

bool TForm_Run::BitBtn_StornoKeyPress(int key) {
    if (key != kEscape)
        return false;
    BitBtn_StornoClick(BitBtn_Storno);
    return true;
}

void TForm_Run::BitBtn_StornoClick(QObject*) {
    // Whether Qt delivers a close event for a window that is already hidden
    // depends on its version and platform; the close handler must run
    // exactly once for this close either way.
    closeHandled_ = false;
    closingByStorno_ = true;
    close();
    closingByStorno_ = false;
    if (!closeHandled_)
        FormClose();
    LeaveForTheMainWindow();
}

void TForm_Run::LeaveForTheMainWindow() {
    if (host_.AutoMode())
        host_.CloseMainWindow();
    else
        host_.ShowMainWindow();
}

void TForm_Run::BitBtn_SetClick() {
    IdHTTP1.Disconnect();
    host_.OpenSettingsDialog();
}

// ---- Qt events ----

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
    FormShow();
}

void TForm_Run::closeEvent(QCloseEvent* event) {
    event->accept();
    closeHandled_ = true;
    FormClose();
    // A close that does not come from Storno (the desktop's close request,
    // Alt+F4) ends the window all the same, so it must also do what Storno
    // does after it: in the interactive mode the main window is hidden
    // while this one is up, and without it the program would go on with
    // nothing on the screen.
    if (!closingByStorno_)
        LeaveForTheMainWindow();
}

void TForm_Run::keyPressEvent(QKeyEvent* event) {
    // Keys reach the window itself only when none of its controls has the
    // focus; a key a focused control ignored is not the window's.
    QWidget* focused = focusWidget();
    if (focused != nullptr && focused != this && focused->isVisible() && focused->isEnabled()) {
        QWidget::keyPressEvent(event);
        return;
    }
    if (FormKeyPress(KeyCharacter(event)))
        event->accept();
    else
        QWidget::keyPressEvent(event);
}

bool TForm_Run::eventFilter(QObject* watched, QEvent* event) {
    if (watched == BitBtn_Storno && event->type() == QEvent::KeyPress) {
        if (BitBtn_StornoKeyPress(KeyCharacter(static_cast<QKeyEvent*>(event))))
            return true;
    }
    return QWidget::eventFilter(watched, event);
}
