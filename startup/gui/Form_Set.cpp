#include "startup/gui/Form_Set.h"

#include "startup/core/IniFile.h"
#include "startup/gui/Form_MainGlyphs.h"
#include "startup/gui/Form_Master.h"
#include "startup/gui/WindowStacking.h"
#include "transfer/gui/Form_Run.h"

#include <QCheckBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QShowEvent>
#include <QSpinBox>

#include <functional>
#include <limits>
#include <vector>

QPointer<TForm_Set> Form_Set;

namespace {

// The dialog's texts, side by side.
const char* const kCaption = "Nastavení";
const char* const kCaptionCheckBox = "&Použití proxy serveru";
const char* const kLabelProxyName = "Proxy server";
const char* const kCaptionProxyPort = "Proxy port";
const char* const kCaptionTest = "&Test spojení";
const char* const kCaptionSave = "&Uložit";
const char* const kCaptionStorno = "&Storno";
const char* const kRefusedText =
    "Chybné nastavení parametrů připojení!\r\n\r\nZrušte použití proxy serveru nebo zadejte potřebné údaje!";
const char* const kTestOkText = "Připojení k internetu je fukční, můžete pokračovat.";
const char* const kTestFailedText =
    "Připojení k internetu nefunguje - opravte nastavení a případně prověřte firewall a technická zařízení!";
const char* const kCheckRunningText = "Právě probíhá kontrola verze - test spojení zopakujte po jejím dokončení!";

const char* const kSection = "Proxy Server";
const char* const kKeyUseProxy = "UseProxy";
const char* const kKeyProxyName = "ProxyName";
const char* const kKeyProxyPort = "ProxyPort";

constexpr int kPortMin = 0;
constexpr int kPortMax = 65535;
constexpr int kEscape = 27;

// The configuration file returns text values of at most this many
// characters; a longer name would be saved but read back cut short.
constexpr int kProxyNameMaxLength = 2047;

// Outer size (frame included): the height is fixed, the width may grow.
constexpr int kOuterWidth = 281;
constexpr int kOuterHeight = 149;

// The control positions are laid out for a client area of this size; the
// anchors keep each control's distance to the edges it is tied to.
constexpr int kDesignClientWidth = 273;
constexpr int kDesignClientHeight = 122;

constexpr int kFontPixels = 11;

// Distance between the name field and its label above it.
constexpr int kLabelSpacing = 8;
// Extra pixels between glyph and caption on the save and cancel buttons.
constexpr int kGlyphGap = 8;

enum Anchor : unsigned { AnchorLeft = 1, AnchorTop = 2, AnchorRight = 4, AnchorBottom = 8 };

// Keeps controls at their design distance from the panel edges they are
// anchored to when the panel changes size.
class AnchorKeeper : public QObject {
public:
    AnchorKeeper(QWidget* panel, int designWidth, int designHeight)
        : QObject(panel), panel_(panel), designWidth_(designWidth), designHeight_(designHeight) {
        panel->installEventFilter(this);
    }

    void Add(QWidget* w, const QRect& design, unsigned anchors) {
        items_.push_back({w, design, anchors});
        Place(items_.back(), panel_->size());
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == panel_ && event->type() == QEvent::Resize)
            for (const Item& item : items_)
                Place(item, panel_->size());
        return false;
    }

private:
    struct Item {
        QWidget* widget;
        QRect design;
        unsigned anchors;
    };

    void Place(const Item& item, const QSize& now) const {
        const int dw = now.width() - designWidth_;
        const int dh = now.height() - designHeight_;
        QRect r = item.design;
        const bool left = item.anchors & AnchorLeft, right = item.anchors & AnchorRight;
        const bool top = item.anchors & AnchorTop, bottom = item.anchors & AnchorBottom;
        if (left && right)
            r.setWidth(std::max(0, r.width() + dw));
        else if (right)
            r.moveLeft(r.left() + dw);
        else if (!left)
            r.moveLeft(r.left() + dw / 2);
        if (top && bottom)
            r.setHeight(std::max(0, r.height() + dh));
        else if (bottom)
            r.moveTop(r.top() + dh);
        else if (!top)
            r.moveTop(r.top() + dh / 2);
        item.widget->setGeometry(r);
    }

    QWidget* panel_;
    int designWidth_;
    int designHeight_;
    std::vector<Item> items_;
};

// Sees the Esc key before whichever control has the focus handles it.
class EscapeWatcher : public QObject {
public:
    EscapeWatcher(QObject* parent, std::function<bool()> onEscape) : QObject(parent), onEscape_(std::move(onEscape)) {}

    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier)
                return onEscape_();
        }
        return false;
    }

private:
    std::function<bool()> onEscape_;
};

// The port field: an integer field whose text may be anything. Text that is
// not a number counts as 0, a number outside the range counts as the nearer
// limit, and the text is rewritten to that value when the field loses the
// focus.
class PortSpinBox : public QSpinBox {
public:
    using QSpinBox::QSpinBox;

    static int Interpret(const QString& text, int lo, int hi) {
        bool ok = false;
        const qlonglong n = text.trimmed().toLongLong(&ok, 10);
        if (!ok)
            return 0;
        if (n < lo)
            return lo;
        if (n > hi)
            return hi;
        return static_cast<int>(n);
    }

protected:
    QValidator::State validate(QString&, int&) const override { return QValidator::Acceptable; }
    int valueFromText(const QString& text) const override { return Interpret(text, minimum(), maximum()); }
};

// Line breaks or NUL in the name would split the configuration file's line
// and plant keys of their own.
bool BreaksIniLine(const QString& s) {
    for (QChar c : s)
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QChar(0))
            return true;
    return false;
}

void SetBackground(QWidget* w, const QColor& c) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::Base, c);
    w->setPalette(pal);
}

} // namespace

TForm_Set::TForm_Set(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("Form_Set"));
    setWindowTitle(QString::fromUtf8(kCaption));
    setWindowIcon(startup::gui::SettingsGlyph());
    setModal(false);
    setSizeGripEnabled(false);
    // The positions are laid out for a small dialog font of 11 pixels.
    QFont small = font();
    small.setPixelSize(kFontPixels);
    setFont(small);

    auto* frame = new QFrame(this);
    frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1 = frame;
    Panel1->setObjectName(QStringLiteral("Panel1"));

    // Until the frame is known the client takes the whole outer size;
    // showEvent takes the frame off.
    resize(kOuterWidth, kOuterHeight);
    setMinimumWidth(kOuterWidth);
    setFixedHeight(kOuterHeight);
    // The panel fills the window whatever its size.
    (new AnchorKeeper(this, kOuterWidth, kOuterHeight))
        ->Add(Panel1, QRect(0, 0, kOuterWidth, kOuterHeight), AnchorLeft | AnchorTop | AnchorRight | AnchorBottom);

    auto* anchors = new AnchorKeeper(Panel1, kDesignClientWidth, kDesignClientHeight);

    CheckBox_Set = new QCheckBox(QString::fromUtf8(kCaptionCheckBox), Panel1);
    CheckBox_Set->setObjectName(QStringLiteral("CheckBox_Set"));
    anchors->Add(CheckBox_Set, QRect(8, 8, 142, 17), AnchorLeft | AnchorTop | AnchorRight);
    // A click of the user; programmatic changes apply the handler themselves.
    connect(CheckBox_Set, &QCheckBox::clicked, this, [this] { CheckBox_SetClick(); });

    LabeledEdit_ProxyName = new QLineEdit(Panel1);
    LabeledEdit_ProxyName->setObjectName(QStringLiteral("LabeledEdit_ProxyName"));
    LabeledEdit_ProxyName->setMaxLength(kProxyNameMaxLength);
    LabeledEdit_ProxyName->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[^\\r\\n\\x{0}]*")), LabeledEdit_ProxyName));
    anchors->Add(LabeledEdit_ProxyName, QRect(8, 56, 175, 21), AnchorLeft | AnchorTop | AnchorRight);

    LabeledEdit_ProxyNameLabel = new QLabel(QString::fromUtf8(kLabelProxyName), Panel1);
    LabeledEdit_ProxyNameLabel->setObjectName(QStringLiteral("LabeledEdit_ProxyNameLabel"));
    LabeledEdit_ProxyNameLabel->setBuddy(LabeledEdit_ProxyName);
    {
        const int h = LabeledEdit_ProxyNameLabel->sizeHint().height();
        anchors->Add(LabeledEdit_ProxyNameLabel, QRect(8, 56 - kLabelSpacing - h, 175, h), AnchorLeft | AnchorTop);
    }

    SpinEdit_ProxyPort = new PortSpinBox(Panel1);
    SpinEdit_ProxyPort->setObjectName(QStringLiteral("SpinEdit_ProxyPort"));
    SpinEdit_ProxyPort->setRange(kPortMin, kPortMax);
    anchors->Add(SpinEdit_ProxyPort, QRect(190, 56, 75, 22), AnchorTop | AnchorRight);

    StaticText_ProxyPort = new QLabel(QString::fromUtf8(kCaptionProxyPort), Panel1);
    StaticText_ProxyPort->setObjectName(QStringLiteral("StaticText_ProxyPort"));
    // A wider font than the designed one must not cut the text short.
    anchors->Add(StaticText_ProxyPort, QRect(190, 32, std::max(51, StaticText_ProxyPort->sizeHint().width()), 17),
        AnchorTop | AnchorRight);

    Button_Test = new QPushButton(startup::gui::TestGlyph(), QString::fromUtf8(kCaptionTest), Panel1);
    Button_Test->setObjectName(QStringLiteral("Button_Test"));
    anchors->Add(Button_Test, QRect(8, 86, 97, 25), AnchorLeft | AnchorBottom);
    connect(Button_Test, &QPushButton::clicked, this, [this] { Button_TestClick(); });

    BitBtn_Save = new QPushButton(startup::gui::WithTrailingGap(startup::gui::SaveGlyph(), kGlyphGap / 2),
        QString::fromUtf8(kCaptionSave), Panel1);
    BitBtn_Save->setObjectName(QStringLiteral("BitBtn_Save"));
    BitBtn_Save->setIconSize(QSize(16 + kGlyphGap / 2, 16));
    anchors->Add(BitBtn_Save, QRect(110, 86, 75, 25), AnchorRight | AnchorBottom);
    connect(BitBtn_Save, &QPushButton::clicked, this, [this] { BitBtn_SaveClick(); });

    BitBtn_Storno = new QPushButton(startup::gui::WithTrailingGap(startup::gui::CancelGlyph(), kGlyphGap / 2),
        QString::fromUtf8(kCaptionStorno), Panel1);
    BitBtn_Storno->setObjectName(QStringLiteral("BitBtn_Storno"));
    BitBtn_Storno->setIconSize(QSize(16 + kGlyphGap / 2, 16));
    anchors->Add(BitBtn_Storno, QRect(190, 86, 75, 25), AnchorRight | AnchorBottom);
    connect(BitBtn_Storno, &QPushButton::clicked, this, [this] { BitBtn_StornoClick(); });

    // Enter in a field must not press a button: the test button would start
    // a connection nobody asked for.
    for (QPushButton* b : {Button_Test, BitBtn_Save, BitBtn_Storno}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }

    // Tab order: check box, name, port, test, save, storno; the static text
    // takes no focus.
    setTabOrder(CheckBox_Set, LabeledEdit_ProxyName);
    setTabOrder(LabeledEdit_ProxyName, SpinEdit_ProxyPort);
    setTabOrder(SpinEdit_ProxyPort, Button_Test);
    setTabOrder(Button_Test, BitBtn_Save);
    setTabOrder(BitBtn_Save, BitBtn_Storno);
    StaticText_ProxyPort->setFocusPolicy(Qt::NoFocus);

    auto* esc = new EscapeWatcher(this, [this] { return FormKeyPress(kEscape); });
    for (QWidget* w : findChildren<QWidget*>())
        w->installEventFilter(esc);

    FormCreate();
}

void TForm_Set::FormCreate() {
    SavedColor = LabeledEdit_ProxyName->palette().color(QPalette::Base);
    const bool interactive = !(Form_Master && Form_Master->RunParameters.AutoMode);
    Button_Test->setVisible(interactive);
    Button_Test->setEnabled(interactive);
}

void TForm_Set::ShowModeless() {
    if (isVisible()) {
        // Already open: no second FormShow, only to the front.
        raise();
        activateWindow();
        return;
    }
    // Opened from the always-on-top transfer window ("Nastavení"), the
    // dialog must stay above it, or it would open hidden behind it.
    startup::gui::KeepAboveTopmostWindow(this);
    show();
    raise();
    activateWindow();
}

void TForm_Set::FormShow() {
    if (!Form_Master)
        return;
    TRunParameters& rp = Form_Master->RunParameters;
    Form_Master->ReadProxySettings();

    CheckBox_Set->setChecked(rp.UseProxy);
    LabeledEdit_ProxyName->setText(QString::fromStdString(rp.ProxyName));

    SpinEdit_ProxyPort->setRange(kPortMin, kPortMax);
    if (rp.ProxyPort < kPortMin)
        rp.ProxyPort = kPortMin;
    if (rp.ProxyPort > kPortMax)
        rp.ProxyPort = kPortMax;
    SpinEdit_ProxyPort->setValue(rp.ProxyPort);

    SavedUseProxy = rp.UseProxy;
    SavedProxyName = rp.ProxyName;
    SavedProxyPort = rp.ProxyPort;

    CheckBox_SetClick();
}

bool TForm_Set::FormKeyPress(int key) {
    if (key != kEscape)
        return false;
    close();
    return true;
}

void TForm_Set::CheckBox_SetClick() {
    const bool on = CheckBox_Set->isChecked();
    if (on) {
        LabeledEdit_ProxyName->setEnabled(true);
        SpinEdit_ProxyPort->setEnabled(true);
        StaticText_ProxyPort->setEnabled(true);
        LabeledEdit_ProxyName->setReadOnly(false);
        SpinEdit_ProxyPort->setReadOnly(false);
        SetBackground(LabeledEdit_ProxyName, SavedColor);
        SetBackground(SpinEdit_ProxyPort, SavedColor);
    } else {
        LabeledEdit_ProxyName->clear();
        LabeledEdit_ProxyName->setEnabled(false);
        SpinEdit_ProxyPort->setValue(0);
        SpinEdit_ProxyPort->setEnabled(false);
        StaticText_ProxyPort->setEnabled(false);
        const QColor own = palette().color(QPalette::Window);
        SetBackground(LabeledEdit_ProxyName, own);
        SetBackground(SpinEdit_ProxyPort, own);
    }
}

bool TForm_Set::SaveSettings() {
    const bool useProxy = CheckBox_Set->isChecked();
    const QString name = LabeledEdit_ProxyName->text();
    // The text is read rather than the field's last accepted value, so that
    // text typed but not yet taken over counts as typed.
    const int port = PortSpinBox::Interpret(
        SpinEdit_ProxyPort->text(), SpinEdit_ProxyPort->minimum(), SpinEdit_ProxyPort->maximum());

    if ((useProxy && (name.trimmed().isEmpty() || port == 0)) || BreaksIniLine(name)) {
        if (Form_Master)
            Form_Master->ShowMessageDlg(TMsgDlgType::mtWarning, QString::fromUtf8(kRefusedText));
        return false;
    }
    if (!Form_Master)
        return false;

    TRunParameters& rp = Form_Master->RunParameters;
    // Blanks around a host name are never part of it: kept, they would make
    // the lookup fail in this run, and the file reader drops them at the
    // next start anyway. The field shows what was saved.
    const QString trimmedName = name.trimmed();
    const std::string nameText = trimmedName.toStdString();
    try {
        TIniFile ini(rp.IniFileName);
        ini.WriteBool(kSection, kKeyUseProxy, useProxy);
        ini.WriteString(kSection, kKeyProxyName, nameText);
        ini.WriteInteger(kSection, kKeyProxyPort, port);
    } catch (const EIniFileException& e) {
        Form_Master->ShowMessageDlg(TMsgDlgType::mtError, QString::fromStdString(e.what()));
        return false;
    }

    rp.UseProxy = useProxy;
    rp.ProxyName = nameText;
    rp.ProxyPort = port;
    if (trimmedName != name)
        LabeledEdit_ProxyName->setText(trimmedName);
    return true;
}

void TForm_Set::BitBtn_SaveClick() {
    if (SaveSettings())
        close();
}

void TForm_Set::Button_TestClick() {
    if (!Form_Master)
        return;
    // Pressed while a check waits for the server (the dialog stays usable
    // then): the test would only read back that check's state, not measure
    // anything. Say so, and leave the settings as they are.
    if (Form_Run && Form_Run->VersionCheckRunning()) {
        Form_Master->ShowMessageDlg(TMsgDlgType::mtWarning, QString::fromUtf8(kCheckRunningText));
        return;
    }
    if (!SaveSettings())
        return;
    const bool connected = Form_Run && Form_Run->CheckAndDownloadVersionFiles(this, true);
    if (connected) {
        Form_Master->ShowMessageDlg(TMsgDlgType::mtInformation, QString::fromUtf8(kTestOkText));
        // The full check reports its outcome in the transfer window, and a
        // check that fails leaves it open with its message: show it, as the
        // main window's own check does, or the user never learns the result.
        if (Form_Run) {
            Form_Run->show();
            Form_Run->CheckAndDownloadVersionFiles(this, false);
        }
    } else {
        Form_Master->ShowMessageDlg(TMsgDlgType::mtWarning, QString::fromUtf8(kTestFailedText));
    }
}

void TForm_Set::BitBtn_StornoClick() {
    if (Form_Master) {
        TRunParameters& rp = Form_Master->RunParameters;
        rp.UseProxy = SavedUseProxy;
        rp.ProxyName = SavedProxyName;
        rp.ProxyPort = SavedProxyPort;
    }
    close();
}

void TForm_Set::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Un-minimising sends a spontaneous show; only a real opening starts
    // again from the file.
    if (event->spontaneous())
        return;
    // The design sizes include the frame; take it off the client once known.
    const QSize frame = frameGeometry().size() - geometry().size();
    if (!frameFitted_ && (frame.width() > 0 || frame.height() > 0)) {
        setMinimumWidth(kOuterWidth - frame.width());
        setFixedHeight(kOuterHeight - frame.height());
        resize(kOuterWidth - frame.width(), kOuterHeight - frame.height());
        frameFitted_ = true;
    }
    FormShow();
}

void TForm_Set::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        FormKeyPress(kEscape);
        return;
    }
    QDialog::keyPressEvent(event);
}
