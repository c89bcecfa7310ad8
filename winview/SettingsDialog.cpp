#include "winview/SettingsDialog.h"

#include "startup/flow/WindowTexts.h"
#include "winview/Animation.h"

#include <commctrl.h>

namespace winview {

namespace {

namespace texts = startup::flow::texts;

constexpr int kOuterWidth = 281;
constexpr int kOuterHeight = 149;
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME;
constexpr int kCheckId = 401;
constexpr int kTestId = 402;
constexpr int kSaveId = 403;
constexpr int kStornoId = 404;

// The layout's own client width: controls anchored on the right keep
// their distance from the right edge when the dialog is made wider.
const int kDesignWidth = ClientSizeFor(kOuterWidth, kOuterHeight, kStyle, kExStyle, false).cx;

} // namespace

SettingsDialog::SettingsDialog() {
    const SIZE client = ClientSizeFor(kOuterWidth, kOuterHeight, kStyle, kExStyle, false);
    Create(kStyle, kExStyle, texts::kSettingsCaption, client.cx, client.cy, CW_USEDEFAULT, CW_USEDEFAULT);
    HFONT f = font_.Handle();
    check_ = Child(L"BUTTON", texts::kUseProxy, BS_AUTOCHECKBOX | WS_TABSTOP | WS_GROUP, 8, 8, 142, 17, kCheckId, f);
    Child(L"STATIC", texts::kProxyName, SS_LEFT | SS_NOPREFIX, 8, 35, 175, 13, 0, f);
    name_ = Child(L"EDIT", "", ES_AUTOHSCROLL | WS_TABSTOP, 8, 56, 175, 21, 0, f, WS_EX_CLIENTEDGE);
    ::SendMessageW(name_, EM_LIMITTEXT, startup::flow::kProxyNameMaxLength, 0);
    port_ = Child(L"EDIT", "", ES_AUTOHSCROLL | WS_TABSTOP, 190, 56, 75, 22, 0, f, WS_EX_CLIENTEDGE);
    spin_ =
        Child(UPDOWN_CLASSW, "", UDS_SETBUDDYINT | UDS_NOTHOUSANDS | UDS_ALIGNRIGHT | UDS_ARROWKEYS, 0, 0, 0, 0, 0, f);
    ::SendMessageW(spin_, UDM_SETRANGE32, startup::flow::kPortMin, startup::flow::kPortMax);
    // Wider than designed: the system's face must not cut the text short.
    portLabel_ = Child(L"STATIC", texts::kProxyPort, SS_LEFTNOWORDWRAP | SS_NOPREFIX, 190, 32, 75, 17, 0, f);
    test_ = Child(L"BUTTON", texts::kTest, BS_PUSHBUTTON | WS_TABSTOP, 8, 86, 97, 25, kTestId, f);
    save_ = Child(L"BUTTON", texts::kSave, BS_PUSHBUTTON | WS_TABSTOP, 110, 86, 75, 25, kSaveId, f);
    storno_ = Child(L"BUTTON", texts::kStorno, BS_PUSHBUTTON | WS_TABSTOP, 190, 86, 75, 25, kStornoId, f);
    SetGlyph(test_, L"PLUG");
    SetGlyph(save_, L"FLOPPY");
    SetGlyph(storno_, L"CROSS");
    Place(client.cx);
}

void SettingsDialog::Place(int clientWidth) {
    const int grow = clientWidth - kDesignWidth;
    ::MoveWindow(check_, 8, 8, 142 + grow, 17, TRUE);
    ::MoveWindow(name_, 8, 56, 175 + grow, 21, TRUE);
    ::MoveWindow(port_, 190 + grow, 56, 75, 22, TRUE);
    ::SendMessageW(spin_, UDM_SETBUDDY, reinterpret_cast<WPARAM>(port_), 0);
    ::MoveWindow(portLabel_, 190 + grow, 32, 75, 17, TRUE);
    ::MoveWindow(save_, 110 + grow, 86, 75, 25, TRUE);
    ::MoveWindow(storno_, 190 + grow, 86, 75, 25, TRUE);
}

void SettingsDialog::Open() {
    // Above the always-on-top transfer window, which may be up.
    ::SetWindowPos(Handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    ::SetForegroundWindow(Handle());
    FocusOn(check_);
    if (flow_ != nullptr)
        flow_->OnShown();
}

void SettingsDialog::BringToFront() {
    ::SetWindowPos(Handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ::SetForegroundWindow(Handle());
}

void SettingsDialog::Close() { ::ShowWindow(Handle(), SW_HIDE); }

void SettingsDialog::SetTestButtonVisible(bool visible) {
    ::ShowWindow(test_, visible ? SW_SHOW : SW_HIDE);
    ::EnableWindow(test_, visible ? TRUE : FALSE);
}

void SettingsDialog::Fill(const startup::flow::ProxyFields& fields) {
    ::SendMessageW(check_, BM_SETCHECK, fields.UseProxy ? BST_CHECKED : BST_UNCHECKED, 0);
    SetText(name_, fields.ProxyName);
    SetText(port_, fields.PortText);
}

startup::flow::ProxyFields SettingsDialog::Read() const {
    return {::SendMessageW(check_, BM_GETCHECK, 0, 0) == BST_CHECKED, GetText(name_), GetText(port_)};
}

void SettingsDialog::SetProxyFieldsEnabled(bool enabled) {
    // A disabled edit field is drawn in the window's own colour.
    for (HWND w : {name_, port_, spin_, portLabel_})
        ::EnableWindow(w, enabled ? TRUE : FALSE);
}

void SettingsDialog::OnEscape() {
    if (flow_ != nullptr)
        flow_->OnEscape();
}

LRESULT SettingsDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    using Event = void (startup::flow::SettingsFlow::*)();
    constexpr Event kByButton[] = {&startup::flow::SettingsFlow::OnUseProxyClicked,
        &startup::flow::SettingsFlow::OnTest, &startup::flow::SettingsFlow::OnSave,
        &startup::flow::SettingsFlow::OnStorno};
    switch (message) {
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize = POINT{kOuterWidth, kOuterHeight};
        info->ptMaxTrackSize.y = kOuterHeight;
        return 0;
    }
    case WM_SIZE: Place(LOWORD(lParam)); return 0;
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (HIWORD(wParam) == BN_CLICKED && lParam != 0 && id >= kCheckId && id <= kStornoId) {
            if (flow_ != nullptr)
                (flow_->*kByButton[id - kCheckId])();
            return 0;
        }
        break;
    }
    case WM_CLOSE:
        if (flow_ != nullptr)
            flow_->OnDesktopClose();
        return 0;
    default: break;
    }
    return Window::HandleMessage(message, wParam, lParam);
}

} // namespace winview
