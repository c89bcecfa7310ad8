#include "startup/gui/Form_Set.h"

#include "startup/flow/WindowTexts.h"
#include "startup/gui/Form_MainGlyphs.h"
#include "startup/gui/WindowStacking.h"

#include <QCheckBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QCloseEvent>
#include <QShowEvent>
#include <QSpinBox>

#include <functional>
#include <limits>
#include <vector>

QPointer<TForm_Set> Form_Set;

namespace {

// The dialog's texts come from the flow.
namespace texts = startup::flow::texts;
const char* const kCaption = texts::kSettingsCaption;
const char* const kCaptionCheckBox = texts::kUseProxy;
const char* const kLabelProxyName = texts::kProxyName;
const char* const kCaptionProxyPort = texts::kProxyPort;
const char* const kCaptionTest = texts::kTest;
const char* const kCaptionSave = texts::kSave;
const char* const kCaptionStorno = texts::kStorno;

constexpr int kPortMin = startup::flow::kPortMin;
constexpr int kPortMax = startup::flow::kPortMax;
constexpr int kProxyNameMaxLength = startup::flow::kProxyNameMaxLength;

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
        return startup::flow::InterpretPortText(text.toStdString(), lo, hi);
    }

protected:
    QValidator::State validate(QString&, int&) const override { return QValidator::Acceptable; }
    int valueFromText(const QString& text) const override { return Interpret(text, minimum(), maximum()); }
};

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
    connect(CheckBox_Set, &QCheckBox::clicked, this, [this] {
        if (flow_)
            flow_->OnUseProxyClicked();
    });

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
    connect(Button_Test, &QPushButton::clicked, this, [this] {
        if (flow_)
            flow_->OnTest();
    });

    BitBtn_Save = new QPushButton(startup::gui::WithTrailingGap(startup::gui::SaveGlyph(), kGlyphGap / 2),
        QString::fromUtf8(kCaptionSave), Panel1);
    BitBtn_Save->setObjectName(QStringLiteral("BitBtn_Save"));
    BitBtn_Save->setIconSize(QSize(16 + kGlyphGap / 2, 16));
    anchors->Add(BitBtn_Save, QRect(110, 86, 75, 25), AnchorRight | AnchorBottom);
    connect(BitBtn_Save, &QPushButton::clicked, this, [this] {
        if (flow_)
            flow_->OnSave();
    });

    BitBtn_Storno = new QPushButton(startup::gui::WithTrailingGap(startup::gui::CancelGlyph(), kGlyphGap / 2),
        QString::fromUtf8(kCaptionStorno), Panel1);
    BitBtn_Storno->setObjectName(QStringLiteral("BitBtn_Storno"));
    BitBtn_Storno->setIconSize(QSize(16 + kGlyphGap / 2, 16));
    anchors->Add(BitBtn_Storno, QRect(190, 86, 75, 25), AnchorRight | AnchorBottom);
    connect(BitBtn_Storno, &QPushButton::clicked, this, [this] {
        if (flow_)
            flow_->OnStorno();
    });

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

    auto* esc = new EscapeWatcher(this, [this] {
        if (!flow_)
            return false;
        flow_->OnEscape();
        return true;
    });
    for (QWidget* w : findChildren<QWidget*>())
        w->installEventFilter(esc);

    SavedColor = LabeledEdit_ProxyName->palette().color(QPalette::Base);
}

bool TForm_Set::IsOpen() const { return isVisible(); }

void TForm_Set::Open() {
    // Opened from the always-on-top transfer window ("Nastavení"), the
    // dialog must stay above it, or it would open hidden behind it.
    startup::gui::KeepAboveTopmostWindow(this);
    show();
    raise();
    activateWindow();
}

void TForm_Set::BringToFront() {
    raise();
    activateWindow();
}

// Hidden rather than closed: a close event is the desktop's, for the flow.
void TForm_Set::Close() { hide(); }

void TForm_Set::SetTestButtonVisible(bool visible) {
    Button_Test->setVisible(visible);
    Button_Test->setEnabled(visible);
}

void TForm_Set::Fill(const startup::flow::ProxyFields& fields) {
    CheckBox_Set->setChecked(fields.UseProxy);
    LabeledEdit_ProxyName->setText(QString::fromStdString(fields.ProxyName));
    SpinEdit_ProxyPort->setValue(PortSpinBox::Interpret(
        QString::fromStdString(fields.PortText), SpinEdit_ProxyPort->minimum(), SpinEdit_ProxyPort->maximum()));
}

void TForm_Set::SetProxyFieldsEnabled(bool enabled) {
    LabeledEdit_ProxyName->setEnabled(enabled);
    SpinEdit_ProxyPort->setEnabled(enabled);
    StaticText_ProxyPort->setEnabled(enabled);
    if (enabled) {
        LabeledEdit_ProxyName->setReadOnly(false);
        SpinEdit_ProxyPort->setReadOnly(false);
    }
    const QColor background = enabled ? SavedColor : palette().color(QPalette::Window);
    SetBackground(LabeledEdit_ProxyName, background);
    SetBackground(SpinEdit_ProxyPort, background);
}

startup::flow::ProxyFields TForm_Set::Read() const {
    return {CheckBox_Set->isChecked(), LabeledEdit_ProxyName->text().toStdString(),
        SpinEdit_ProxyPort->text().toStdString()};
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
    if (flow_)
        flow_->OnShown();
}

void TForm_Set::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (flow_)
        flow_->OnDesktopClose();
}

void TForm_Set::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        if (flow_)
            flow_->OnEscape();
        return;
    }
    QDialog::keyPressEvent(event);
}
