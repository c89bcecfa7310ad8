#include "startup/gui/Form_Main.h"

#include "startup/flow/WindowTexts.h"
#include "startup/gui/Form_MainGlyphs.h"

#include <QAction>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPainter>
#include <QProxyStyle>
#include <QShowEvent>
#include <QStyleOptionMenuItem>

QPointer<TForm_Main> Form_Main;

namespace {

// The window's texts come from the flow.
namespace texts = startup::flow::texts;
const char* const kDesignCaption = texts::kMainDesignCaption;
const char* const kCaptionAkce = texts::kMenuVersionCheck;
const char* const kCaptionNastaveni = texts::kMenuSettings;
const char* const kCaptionKonec = texts::kMenuExit;
const char* const kCaptionNapoveda = texts::kMenuHelp;

// Place and outer size (frame included); the outer size is also the least
// the user can shrink the window to.
constexpr int kLeft = 192;
constexpr int kTop = 107;
constexpr int kOuterWidth = 481;
constexpr int kOuterHeight = 154;

constexpr int kEscape = 27;

// Menu-bar items show either their picture or their caption; this window's
// items carry both, the picture left of the caption.
class PictureAndCaptionMenuStyle : public QProxyStyle {
public:
    QSize sizeFromContents(
        ContentsType type, const QStyleOption* option, const QSize& size, const QWidget* widget) const override {
        if (type == CT_MenuBarItem)
            if (const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option))
                if (!item->icon.isNull() && !item->text.isEmpty()) {
                    const QSize text = item->fontMetrics.size(Qt::TextShowMnemonic, item->text);
                    const QSize both(kIcon + kGap + text.width(), std::max(kIcon, text.height()));
                    return QProxyStyle::sizeFromContents(type, option, both, widget);
                }
        return QProxyStyle::sizeFromContents(type, option, size, widget);
    }

    void drawControl(
        ControlElement element, const QStyleOption* option, QPainter* painter, const QWidget* widget) const override {
        const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
        if (element != CE_MenuBarItem || !item || item->icon.isNull() || item->text.isEmpty()) {
            QProxyStyle::drawControl(element, option, painter, widget);
            return;
        }
        // The style paints the item's background and highlight...
        QStyleOptionMenuItem background(*item);
        background.text.clear();
        background.icon = QIcon();
        QProxyStyle::drawControl(element, &background, painter, widget);
        // ...and the picture and caption go on top, centred together.
        const bool enabled = item->state & State_Enabled;
        const bool selected = (item->state & State_Selected) && (item->state & State_Sunken);
        const QSize text = item->fontMetrics.size(Qt::TextShowMnemonic, item->text);
        const int width = kIcon + kGap + text.width();
        const int left = item->rect.left() + (item->rect.width() - width) / 2;
        const QRect iconRect(left, item->rect.top() + (item->rect.height() - kIcon) / 2, kIcon, kIcon);
        item->icon.paint(painter, iconRect, Qt::AlignCenter, enabled ? QIcon::Normal : QIcon::Disabled);
        const QRect textRect(left + kIcon + kGap, item->rect.top(), text.width(), item->rect.height());
        int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic | Qt::TextSingleLine;
        if (!proxy()->styleHint(SH_UnderlineShortcut, item, widget))
            flags |= Qt::TextHideMnemonic;
        proxy()->drawItemText(painter, textRect, flags, item->palette, enabled, item->text,
            selected ? QPalette::HighlightedText : QPalette::ButtonText);
    }

private:
    static constexpr int kIcon = 16;
    static constexpr int kGap = 4;
};

} // namespace

TForm_Main::TForm_Main(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("Form_Main"));
    setWindowTitle(QString::fromUtf8(kDesignCaption));
    setWindowIcon(startup::gui::WindowIcon());

    // Until the window manager tells us the frame, the client area takes the
    // whole outer size; showEvent takes the frame off once it is known.
    move(kLeft, kTop);
    resize(kOuterWidth, kOuterHeight);
    setMinimumSize(kOuterWidth, kOuterHeight);

    // An empty client area under the menu bar.
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    setCentralWidget(client);

    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    // The four items sit side by side; none opens a submenu, so the menu bar
    // must not fold them into a native application menu.
    bar->setNativeMenuBar(false);
    auto* menuStyle = new PictureAndCaptionMenuStyle();
    menuStyle->setParent(this);
    bar->setStyle(menuStyle);

    auto makeItem = [&](const char* objectName, const char* caption, const QIcon& icon, const QKeySequence& key,
                        void (TForm_Main::*handler)()) {
        auto* action = new QAction(icon, QString::fromUtf8(caption), this);
        action->setObjectName(QString::fromLatin1(objectName));
        if (!key.isEmpty()) {
            action->setShortcut(key);
            // The keys belong to this window only: they do nothing while it is
            // hidden (a check is running) or another window is active.
            action->setShortcutContext(Qt::WindowShortcut);
        }
        action->setIconVisibleInMenu(true);
        connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
        bar->addAction(action);
        return action;
    };
    Menu_Akce = makeItem("Menu_Akce", kCaptionAkce, startup::gui::VersionCheckGlyph(), QKeySequence(Qt::Key_F9),
        &TForm_Main::Menu_AkceClick);
    Menu_Nastaveni = makeItem("Menu_Nastaveni", kCaptionNastaveni, startup::gui::SettingsGlyph(),
        QKeySequence(Qt::Key_F4), &TForm_Main::Menu_NastaveniClick);
    Menu_Konec =
        makeItem("Menu_Konec", kCaptionKonec, startup::gui::ExitGlyph(), QKeySequence(), &TForm_Main::Menu_KonecClick);
    Menu_Napoveda = makeItem("Menu_Napoveda", kCaptionNapoveda, startup::gui::HelpGlyph(), QKeySequence(Qt::Key_F1),
        &TForm_Main::Menu_NapovedaClick);
}

void TForm_Main::Menu_AkceClick() {
    if (commands_)
        commands_->OnVersionCheck();
}

void TForm_Main::Menu_NastaveniClick() {
    if (commands_)
        commands_->OnSettings();
}

void TForm_Main::Menu_KonecClick() {
    if (commands_)
        commands_->OnExit();
}

void TForm_Main::Menu_NapovedaClick() {
    if (commands_)
        commands_->OnHelp();
}

bool TForm_Main::FormKeyPress(int key) {
    if (key != kEscape || !commands_)
        return false;
    commands_->OnEscape();
    return true;
}

bool TForm_Main::close() {
    if (commands_)
        commands_->OnDesktopClose();
    return true;
}

void TForm_Main::CloseForTheFlow() {
    const int before = closeEventsSeen_;
    closingForTheFlow_ = true;
    QMainWindow::close();
    closingForTheFlow_ = false;
    // The toolkit may settle a close request on a window that is already
    // closed, or that is closing now, without a close event.
    if (closeEventsSeen_ == before)
        hide();
}

void TForm_Main::closeEvent(QCloseEvent* event) {
    ++closeEventsSeen_;
    event->accept();
    if (!closingForTheFlow_ && commands_)
        commands_->OnDesktopClose();
}

void TForm_Main::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        FormKeyPress(kEscape);
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void TForm_Main::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (frameFitted_ || event->spontaneous())
        return;
    // The design sizes include the frame; once the frame is known, take it
    // off the client area so the outer size comes out as designed.
    const QSize frame = frameGeometry().size() - geometry().size();
    if (frame.width() > 0 || frame.height() > 0) {
        const QSize client(kOuterWidth - frame.width(), kOuterHeight - frame.height());
        setMinimumSize(client);
        resize(client);
        frameFitted_ = true;
    }
}
