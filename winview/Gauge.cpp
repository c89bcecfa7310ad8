#include "winview/Gauge.h"

#include <algorithm>
#include <string>

namespace winview {

namespace {
constexpr wchar_t kClassName[] = L"HalvorneGauge";
const COLORREF kFore = RGB(0, 0, 0);
const COLORREF kBack = RGB(255, 255, 255);
} // namespace

Gauge::Gauge(HWND parent, int x, int y, int w, int h) {
    static const bool registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &Gauge::Procedure;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = kClassName;
        return ::RegisterClassExW(&wc) != 0;
    }();
    (void)registered;
    hwnd_ = ::CreateWindowExW(
        0, kClassName, L"", WS_CHILD | WS_VISIBLE, x, y, w, h, parent, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Gauge::~Gauge() { ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0); }

void Gauge::SetPercent(int percent) {
    percent = std::clamp(percent, 0, 100);
    if (percent == percent_)
        return;
    percent_ = percent;
    ::InvalidateRect(hwnd_, nullptr, FALSE);
    ::UpdateWindow(hwnd_);
}

void Gauge::Paint(HDC dc) const {
    RECT all;
    ::GetClientRect(hwnd_, &all);
    HBRUSH fore = ::CreateSolidBrush(kFore);
    HBRUSH back = ::CreateSolidBrush(kBack);
    ::FillRect(dc, &all, fore);
    RECT inner{all.left + 1, all.top + 1, all.right - 1, all.bottom - 1};
    ::FillRect(dc, &inner, back);
    RECT filled = inner;
    filled.right = inner.left + (inner.right - inner.left) * percent_ / 100;
    ::FillRect(dc, &filled, fore);
    ::DeleteObject(fore);
    ::DeleteObject(back);

    // The figure reads in the fore colour over the empty part and in the
    // back colour over the filled part.
    const std::wstring label = std::to_wstring(percent_) + L"%";
    HGDIOBJ oldFont = ::SelectObject(dc, font_.Handle());
    ::SetBkMode(dc, TRANSPARENT);
    const UINT format = DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX;
    RECT text = inner;
    HRGN empty = ::CreateRectRgn(filled.right, inner.top, inner.right, inner.bottom);
    ::SelectClipRgn(dc, empty);
    ::SetTextColor(dc, kFore);
    ::DrawTextW(dc, label.c_str(), -1, &text, format);
    ::DeleteObject(empty);
    if (filled.right > filled.left) {
        HRGN full = ::CreateRectRgnIndirect(&filled);
        ::SelectClipRgn(dc, full);
        ::SetTextColor(dc, kBack);
        ::DrawTextW(dc, label.c_str(), -1, &text, format);
        ::DeleteObject(full);
    }
    ::SelectClipRgn(dc, nullptr);
    ::SelectObject(dc, oldFont);
}

LRESULT CALLBACK Gauge::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Gauge*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (message == WM_PAINT && self != nullptr) {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(hwnd, &ps);
        self->Paint(dc);
        ::EndPaint(hwnd, &ps);
        return 0;
    }
    if (message == WM_ERASEBKGND)
        return 1;
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

} // namespace winview
