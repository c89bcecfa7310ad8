#include "winview/TransferWindow.h"

#include "platform/wintext/WindowsText.h"

namespace winview {

namespace {

namespace texts = transfer::flow::texts;
using transfer::flow::Rgb;
using transfer::flow::TransferPart;

constexpr int kClientWidth = 571;
constexpr int kClientHeight = 126;
constexpr int kPictureSide = 36;
constexpr int kStornoId = 101;
constexpr int kSettingsId = 102;
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_BORDER | WS_CLIPCHILDREN;
constexpr DWORD kLabel = SS_CENTER | SS_NOPREFIX;
constexpr DWORD kButton = BS_PUSHBUTTON | WS_TABSTOP;
// An icon file in the current directory replaces the built-in icon.
constexpr char kIconFile[] = "MIRASTE.ICO";

void Repaint(HWND hwnd) {
    ::InvalidateRect(hwnd, nullptr, TRUE);
    ::UpdateWindow(hwnd);
}

} // namespace

TransferWindow::TransferWindow() {
    Create(kStyle, WS_EX_TOPMOST | WS_EX_DLGMODALFRAME, "", kClientWidth, kClientHeight, CW_USEDEFAULT, CW_USEDEFAULT);
    top_ = Child(L"STATIC", "", kLabel, 0, 0, kClientWidth, 17, 0, bold_.Handle());
    download_ = Child(L"STATIC", "", kLabel, 40, 24, 505, 17, 0, bold_.Handle());
    gauge_ = std::make_unique<Gauge>(Handle(), 8, 42, 557, 15);
    // Created after the byte-count line and the gauge, over the band they
    // share.
    msg_ = Child(L"STATIC", "", kLabel, 0, 24, 569, 33, 0, bold_.Handle());
    ::ShowWindow(msg_, SW_HIDE);
    storno_ = Child(L"BUTTON", texts::kStorno, kButton, 242, 94, 91, 25, kStornoId, font_.Handle());
    settings_ = Child(L"BUTTON", texts::kNastaveni, kButton, 474, 92, 91, 25, kSettingsId, font_.Handle());
    animation_ = std::make_unique<Animation>(Handle(), 8, 85, kPictureSide);
    SetGlyph(storno_, L"CROSS");
    SetGlyph(settings_, L"COG");
    SetIconFile(kIconFile);
    ::SetWindowPos(Handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

TransferWindow::~TransferWindow() {
    if (fileIcon_ != nullptr)
        ::DestroyIcon(fileIcon_);
}

void TransferWindow::SetIconFile(const std::string& path) {
    HICON icon = static_cast<HICON>(::LoadImageW(
        nullptr, platform::wintext::Wide(path).c_str(), IMAGE_ICON, 0, 0, LR_LOADFROMFILE | LR_DEFAULTSIZE));
    if (icon == nullptr)
        return;
    fileIcon_ = icon;
    ::SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    ::SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

void TransferWindow::SetCaption(const std::string& text) { SetText(Handle(), text); }

void TransferWindow::SetColour(HWND label, Rgb colour) {
    colours_[label] = ToColorRef(colour.Red, colour.Green, colour.Blue);
}

void TransferWindow::ShowStatusLine(const std::string& text, Rgb colour) {
    SetColour(top_, colour);
    SetText(top_, text);
    Repaint(top_);
    ::RedrawWindow(Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void TransferWindow::SetStatusText(const std::string& text) { SetText(top_, text); }

void TransferWindow::SetMessageLine(const std::string& text, Rgb colour) {
    SetColour(msg_, colour);
    SetText(msg_, text);
    Repaint(msg_);
}

void TransferWindow::SetByteCountLine(const std::string& text, Rgb colour) {
    SetColour(download_, colour);
    SetText(download_, text);
    Repaint(download_);
}

void TransferWindow::SetGauge(int position, int maximum) {
    const long long done = maximum > 0 ? static_cast<long long>(position) * 100 / maximum : 0;
    gauge_->SetPercent(static_cast<int>(done));
}

HWND TransferWindow::PartHandle(TransferPart part) const {
    switch (part) {
    case TransferPart::MessageLine: return msg_;
    case TransferPart::ByteCountLine: return download_;
    case TransferPart::Gauge: return gauge_->Handle();
    case TransferPart::Animation: return animation_->Handle();
    case TransferPart::SettingsButton: return settings_;
    }
    return nullptr;
}

void TransferWindow::SetPartVisible(TransferPart part, bool visible) {
    HWND hwnd = PartHandle(part);
    ::ShowWindow(hwnd, visible ? SW_SHOW : SW_HIDE);
    ::EnableWindow(hwnd, visible ? TRUE : FALSE);
    ::UpdateWindow(Handle());
}

void TransferWindow::ShowWindow() {
    RECT r;
    ::GetWindowRect(Handle(), &r);
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    ::SetWindowPos(Handle(), HWND_TOPMOST, (::GetSystemMetrics(SM_CXSCREEN) - w) / 2,
        (::GetSystemMetrics(SM_CYSCREEN) - h) / 2, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    ::SetForegroundWindow(Handle());
    FocusOn(storno_);
    if (flow_ != nullptr)
        flow_->OnShown();
}

void TransferWindow::HideWindow() { ::ShowWindow(Handle(), SW_HIDE); }

transfer::flow::NextStepChoice TransferWindow::AskNextStep(const std::string& newVersionText) {
    const NextStepDialog::Answer answer = nextStep_.Ask(newVersionText, Handle());
    using transfer::flow::NextStep;
    const NextStep step = answer.button == NextStepDialog::Button::Changes ? NextStep::ShowChanges
                          : answer.button == NextStepDialog::Button::Load  ? NextStep::Download
                                                                           : NextStep::Cancel;
    return {step, answer.pdf};
}

void TransferWindow::PumpEvents() { PumpPendingMessages(); }

void TransferWindow::OnEscape() {
    // Esc while "Storno" has the focus is "Storno"; with no control
    // focused it is the window's own key; on another control nothing.
    if (flow_ == nullptr)
        return;
    HWND focused = ::GetFocus();
    if (focused == storno_)
        flow_->OnStorno();
    else if (focused == nullptr || focused == Handle())
        flow_->OnEscape();
}

LRESULT TransferWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        const auto found = colours_.find(reinterpret_cast<HWND>(lParam));
        ::SetTextColor(dc, found != colours_.end() ? found->second : ::GetSysColor(COLOR_WINDOWTEXT));
        ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && flow_ != nullptr && lParam != 0) {
            if (LOWORD(wParam) == kStornoId)
                flow_->OnStorno();
            else if (LOWORD(wParam) == kSettingsId)
                flow_->OnSettings();
            return 0;
        }
        break;
    case WM_CLOSE:
        if (flow_ != nullptr)
            flow_->OnDesktopClose();
        return 0;
    default: break;
    }
    return Window::HandleMessage(message, wParam, lParam);
}

} // namespace winview
