#include "winview/MainWindow.h"

#include "platform/wintext/WindowsText.h"
#include "startup/flow/WindowTexts.h"
#include "winview/Animation.h"

namespace winview {

namespace {

namespace texts = startup::flow::texts;
using Command = void (startup::flow::MainCommands::*)();

constexpr int kLeft = 192;
constexpr int kTop = 107;
constexpr int kOuterWidth = 481;
constexpr int kOuterHeight = 154;
constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW;
constexpr UINT kFirstId = 301;

constexpr int kPictureSide = 16;

struct MenuItem {
    const char* caption;
    WORD key; // 0: none
    Command command;
    const wchar_t* picture;
};
constexpr MenuItem kItems[] = {
    {texts::kMenuVersionCheck, VK_F9, &startup::flow::MainCommands::OnVersionCheck, L"ARROW_DOWN"},
    {texts::kMenuSettings, VK_F4, &startup::flow::MainCommands::OnSettings, L"COG"},
    {texts::kMenuExit, 0, &startup::flow::MainCommands::OnExit, L"CROSS"},
    {texts::kMenuHelp, VK_F1, &startup::flow::MainCommands::OnHelp, L"NOTE"},
};
constexpr UINT kItemCount = sizeof kItems / sizeof kItems[0];

} // namespace

MainWindow::MainWindow() {
    HMENU menu = ::CreateMenu();
    ACCEL keys[kItemCount];
    int nKeys = 0;
    for (UINT i = 0; i < kItemCount; ++i) {
        ::AppendMenuW(menu, MF_STRING, kFirstId + i, platform::wintext::Wide(kItems[i].caption).c_str());
        pictures_[i] = LoadMenuPicture(kItems[i].picture, kPictureSide);
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_BITMAP;
        info.hbmpItem = pictures_[i];
        ::SetMenuItemInfoW(menu, kFirstId + i, FALSE, &info);
        if (kItems[i].key != 0)
            keys[nKeys++] = ACCEL{FVIRTKEY, kItems[i].key, static_cast<WORD>(kFirstId + i)};
    }
    accelerators_ = ::CreateAcceleratorTableW(keys, nKeys);
    const SIZE client = ClientSizeFor(kOuterWidth, kOuterHeight, kStyle, 0, true);
    Create(kStyle, 0, texts::kMainDesignCaption, client.cx, client.cy, kLeft, kTop, menu);
}

MainWindow::~MainWindow() {
    if (accelerators_ != nullptr)
        ::DestroyAcceleratorTable(accelerators_);
    for (HBITMAP picture : pictures_)
        if (picture != nullptr)
            ::DeleteObject(picture);
}

void MainWindow::OnEscape() {
    if (commands_ != nullptr)
        commands_->OnEscape();
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize = POINT{kOuterWidth, kOuterHeight};
        return 0;
    }
    case WM_COMMAND: {
        const UINT id = LOWORD(wParam);
        if (id >= kFirstId && id < kFirstId + kItemCount && commands_ != nullptr) {
            (commands_->*kItems[id - kFirstId].command)();
            return 0;
        }
        break;
    }
    case WM_CLOSE:
        if (commands_ != nullptr)
            commands_->OnDesktopClose();
        return 0;
    default: break;
    }
    return Window::HandleMessage(message, wParam, lParam);
}

} // namespace winview
