#include "winview/NextStepDialog.h"

#include "transfer/flow/TransferTexts.h"
#include "winview/Animation.h"

namespace winview {

namespace {

constexpr int kOuterWidth = 562;
constexpr int kOuterHeight = 230;
constexpr int kLeft = 423;
constexpr int kTop = 269;
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_BORDER | WS_CLIPCHILDREN;

namespace texts = transfer::flow::texts;

} // namespace

NextStepDialog::NextStepDialog() {
    const SIZE client = ClientSizeFor(kOuterWidth, kOuterHeight, kStyle, WS_EX_TOPMOST | WS_EX_DLGMODALFRAME, false);
    // Above the always-on-top transfer window, which it would otherwise
    // open behind.
    Create(kStyle, WS_EX_TOPMOST | WS_EX_DLGMODALFRAME, texts::kNextStepCaption, client.cx, client.cy, kLeft, kTop);
    constexpr DWORD kLabel = SS_CENTER | SS_NOPREFIX;
    popis_ = Child(L"STATIC", texts::kNextStepPopis, kLabel, 0, 13, client.cx, 20, 0, big_.Handle());
    version_ = Child(L"STATIC", "", kLabel, 0, 46, client.cx, 20, 0, big_.Handle());
    constexpr DWORD kButton = BS_PUSHBUTTON | WS_TABSTOP;
    HWND changes = Child(L"BUTTON", texts::kNextStepChanges, kButton, 152, 80, 249, 25, kChangesId, font_.Handle());
    HWND load = Child(L"BUTTON", texts::kNextStepLoad, kButton, 152, 112, 249, 25, kLoadId, font_.Handle());
    HWND cancel = Child(L"BUTTON", texts::kNextStepCancel, kButton, 240, 152, 81, 25, kCancelId, font_.Handle());
    html_ = Child(L"BUTTON", texts::kNextStepHtml, BS_AUTORADIOBUTTON | WS_TABSTOP | WS_GROUP, 408, 78, 49, 17, kHtmlId,
        font_.Handle());
    pdf_ = Child(L"BUTTON", texts::kNextStepPdf, BS_AUTORADIOBUTTON, 408, 90, 49, 17, kPdfId, font_.Handle());
    SetGlyph(changes, L"NOTE");
    SetGlyph(load, L"ARROW_DOWN");
    SetGlyph(cancel, L"CROSS");
    ::SendMessageW(html_, BM_SETCHECK, BST_CHECKED, 0);
}

NextStepDialog::Answer NextStepDialog::Ask(const std::string& versionText, HWND owner) {
    SetText(version_, versionText);
    ended_ = Button::None;
    running_ = true;
    const bool ownerEnabled = owner != nullptr && ::IsWindowEnabled(owner);
    if (ownerEnabled)
        ::EnableWindow(owner, FALSE);
    ::SetWindowPos(Handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    ::SetForegroundWindow(Handle());
    FocusOn(::GetDlgItem(Handle(), kChangesId));
    RunUntil([this] { return !running_; });
    running_ = false;
    if (ownerEnabled)
        ::EnableWindow(owner, TRUE);
    ::ShowWindow(Handle(), SW_HIDE);
    return {ended_, ::SendMessageW(pdf_, BM_GETCHECK, 0, 0) == BST_CHECKED};
}

void NextStepDialog::Abandon() { End(Button::None); }

void NextStepDialog::End(Button button) {
    if (!running_)
        return;
    ended_ = button;
    running_ = false;
    WakeLoop();
}

void NextStepDialog::OnEscape() { End(Button::None); }

LRESULT NextStepDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        const HWND label = reinterpret_cast<HWND>(lParam);
        if (label == popis_)
            ::SetTextColor(dc, ::GetSysColor(COLOR_HIGHLIGHT));
        else if (label == version_)
            ::SetTextColor(
                dc, ToColorRef(transfer::flow::kNextStepVersionColour.Red, transfer::flow::kNextStepVersionColour.Green,
                        transfer::flow::kNextStepVersionColour.Blue));
        ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) {
            switch (LOWORD(wParam)) {
            case kChangesId: End(Button::Changes); return 0;
            case kLoadId: End(Button::Load); return 0;
            case kCancelId: End(Button::Cancel); return 0;
            default: break;
            }
        }
        break;
    case WM_CLOSE: End(Button::None); return 0;
    default: break;
    }
    return Window::HandleMessage(message, wParam, lParam);
}

} // namespace winview
