#include "winview/WinBase.h"

#include "platform/wintext/WindowsText.h"
#include "winview/Animation.h"

namespace winview {

namespace {

constexpr wchar_t kClassName[] = L"HalvorneWindow";
constexpr wchar_t kFace[] = L"MS Sans Serif";

int loopDepth = 0;
unsigned quitRequests = 0;
int quitCode = 0;

void RegisterOnce() {
    static const bool registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.hIcon = LoadGlyph(L"HALVORNE");
        wc.lpszClassName = kClassName;
        return ::RegisterClassExW(&wc) != 0;
    }();
    (void)registered;
}

} // namespace

Font::Font(int pixelHeight, bool bold)
    : font_(::CreateFontW(-pixelHeight, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
          OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, kFace)) {}

Font::~Font() {
    if (font_ != nullptr)
        ::DeleteObject(font_);
}

Window::~Window() {
    if (hwnd_ != nullptr) {
        ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        ::DestroyWindow(hwnd_);
    }
    for (HICON glyph : glyphs_)
        ::DestroyIcon(glyph);
}

SIZE ClientSizeFor(int outerWidth, int outerHeight, DWORD style, DWORD exStyle, bool menu) {
    RECT r{0, 0, 0, 0};
    ::AdjustWindowRectEx(&r, style, menu, exStyle);
    return {outerWidth - (r.right - r.left), outerHeight - (r.bottom - r.top)};
}

void Window::SetGlyph(HWND button, const wchar_t* name) {
    HICON glyph = LoadGlyph(name);
    if (glyph == nullptr)
        return;
    glyphs_.push_back(glyph);
    ::SendMessageW(button, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(glyph));
}

void Window::Create(DWORD style, DWORD exStyle, const std::string& caption, int clientWidth, int clientHeight, int x,
    int y, HMENU menu) {
    RegisterOnce();
    RECT r{0, 0, clientWidth, clientHeight};
    ::AdjustWindowRectEx(&r, style, menu != nullptr, exStyle);
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    if (x == CW_USEDEFAULT) {
        x = (::GetSystemMetrics(SM_CXSCREEN) - w) / 2;
        y = (::GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    }
    // WS_EX_CONTROLPARENT: the router's IsDialogMessage moves the focus with
    // Tab and turns Esc into IDCANCEL, as in a dialog.
    hwnd_ = ::CreateWindowExW(exStyle | WS_EX_CONTROLPARENT, kClassName, platform::wintext::Wide(caption).c_str(),
        style, x, y, w, h, nullptr, menu, ::GetModuleHandleW(nullptr), nullptr);
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Window::Procedure));
}

HWND Window::Child(const wchar_t* windowClass, const std::string& text, DWORD style, int x, int y, int w, int h, int id,
    HFONT font, DWORD exStyle) {
    HWND child =
        ::CreateWindowExW(exStyle, windowClass, platform::wintext::Wide(text).c_str(), style | WS_CHILD | WS_VISIBLE, x,
            y, w, h, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr), nullptr);
    ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return child;
}

void Window::FocusOn(HWND control) {
    focus_ = control;
    ::SetFocus(control);
}

LRESULT Window::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL && lParam == 0) {
            OnEscape();
            return 0;
        }
        break;
    case WM_ACTIVATE:
        // Without a focused control the keys would reach the window as
        // system keys, and Esc and Tab would do nothing.
        if (LOWORD(wParam) == WA_INACTIVE) {
            if (HWND focused = ::GetFocus(); focused != nullptr && ::IsChild(hwnd_, focused))
                focus_ = focused;
        } else if (focus_ != nullptr && ::IsWindowVisible(focus_) && ::IsWindowEnabled(focus_)) {
            ::SetFocus(focus_);
        } else {
            ::SetFocus(hwnd_);
        }
        return 0;
    default: break;
    }
    return Default(message, wParam, lParam);
}

Window* Window::FromHandle(HWND hwnd) {
    if (hwnd == nullptr || ::GetWindowLongPtrW(hwnd, GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(&Window::Procedure))
        return nullptr;
    return reinterpret_cast<Window*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

LRESULT CALLBACK Window::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Window*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr)
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    return self->HandleMessage(message, wParam, lParam);
}

COLORREF ToColorRef(unsigned red, unsigned green, unsigned blue) {
    return RGB(static_cast<BYTE>(red), static_cast<BYTE>(green), static_cast<BYTE>(blue));
}

void SetText(HWND control, const std::string& utf8) {
    ::SetWindowTextW(control, platform::wintext::Wide(utf8).c_str());
}

std::string GetText(HWND control) {
    const int n = ::GetWindowTextLengthW(control);
    std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
    const int got = ::GetWindowTextW(control, text.data(), n + 1);
    return platform::wintext::Utf8(text.data(), static_cast<std::size_t>(got > 0 ? got : 0));
}

const void* ResourceBytes(const wchar_t* name, const wchar_t* type, DWORD& size) {
    size = 0;
    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC info = ::FindResourceW(module, name, type);
    if (info == nullptr)
        return nullptr;
    HGLOBAL loaded = ::LoadResource(module, info);
    if (loaded == nullptr)
        return nullptr;
    size = ::SizeofResource(module, info);
    return ::LockResource(loaded);
}

void RouteMessage(MSG& msg) {
    HWND root = msg.hwnd != nullptr ? ::GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (Window* window = Window::FromHandle(root); window != nullptr) {
        if (HACCEL table = window->Accelerators(); table != nullptr && ::TranslateAcceleratorW(root, table, &msg))
            return;
        if (::IsDialogMessageW(root, &msg))
            return;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
}

void PumpPendingMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        RouteMessage(msg);
}

void RequestQuit(int code) {
    ++quitRequests;
    quitCode = code;
    WakeLoop();
}

bool QuitRequested() { return quitRequests > 0; }

unsigned QuitRequests() { return quitRequests; }

int QuitCode() { return quitCode; }

LoopScope::LoopScope() { ++loopDepth; }

LoopScope::~LoopScope() { --loopDepth; }

int LoopDepth() { return loopDepth; }

void WakeLoop() { ::PostThreadMessageW(::GetCurrentThreadId(), WM_NULL, 0, 0); }

} // namespace winview
