#include "winview/Animation.h"

#include <algorithm>

// GDI+'s headers use min and max unqualified.
#include <objidl.h>
#include <shlwapi.h>
namespace Gdiplus {
using std::max;
using std::min;
} // namespace Gdiplus
#include <gdiplus.h>

namespace winview {

namespace {
constexpr wchar_t kClassName[] = L"HalvorneAnimation";
constexpr wchar_t kPictureName[] = L"ZAVINAC";
constexpr wchar_t kPictureType[] = L"GIF";
constexpr UINT_PTR kTimer = 1;
// Used when the file names no delay for a frame (its own is 0.16 s).
constexpr unsigned kDefaultDelayMs = 160;
constexpr PROPID kFrameDelayTag = 0x5100;
// GDI+ once for the process; it ends with the process.
bool StartGdiplus() {
    static const bool started = [] {
        ULONG_PTR token = 0;
        Gdiplus::GdiplusStartupInput input;
        return Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
    }();
    return started;
}

} // namespace

namespace {
// Hands a picture among the program's resources (type 10, raw data) to
// use as a GDI+ bitmap; nothing when it is missing or GDI+ cannot start.
template <typename Use>
void WithResourceBitmap(const wchar_t* name, Use use) {
    DWORD size = 0;
    const void* bytes = ResourceBytes(name, MAKEINTRESOURCEW(10), size);
    if (bytes == nullptr || !StartGdiplus())
        return;
    IStream* stream = ::SHCreateMemStream(static_cast<const BYTE*>(bytes), size);
    if (stream == nullptr)
        return;
    {
        Gdiplus::Bitmap bitmap(stream);
        if (bitmap.GetLastStatus() == Gdiplus::Ok)
            use(bitmap);
    }
    stream->Release();
}
} // namespace

HICON LoadGlyph(const wchar_t* name) {
    HICON icon = nullptr;
    WithResourceBitmap(name, [&](Gdiplus::Bitmap& bitmap) { bitmap.GetHICON(&icon); });
    return icon;
}

HBITMAP LoadMenuPicture(const wchar_t* name, int side) {
    HBITMAP picture = nullptr;
    WithResourceBitmap(name, [&](Gdiplus::Bitmap& source) {
        Gdiplus::Bitmap scaled(side, side, PixelFormat32bppARGB);
        if (scaled.GetLastStatus() != Gdiplus::Ok)
            return;
        Gdiplus::Graphics g(&scaled);
        g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
        g.DrawImage(&source, 0, 0, side, side);
        // Laid on the menu's colour: a menu shows no transparency.
        const COLORREF menu = ::GetSysColor(COLOR_MENU);
        scaled.GetHBITMAP(Gdiplus::Color(255, GetRValue(menu), GetGValue(menu), GetBValue(menu)), &picture);
    });
    return picture;
}

Animation::Animation(HWND parent, int x, int y, int side) {
    static const bool registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &Animation::Procedure;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = kClassName;
        return ::RegisterClassExW(&wc) != 0;
    }();
    (void)registered;
    hwnd_ = ::CreateWindowExW(0, kClassName, L"", WS_CHILD | WS_VISIBLE, x, y, side, side, parent, nullptr,
        ::GetModuleHandleW(nullptr), nullptr);
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    if (StartGdiplus())
        Load();
}

Animation::~Animation() {
    ::KillTimer(hwnd_, kTimer);
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    image_.reset();
    if (stream_ != nullptr)
        stream_->Release();
}

void Animation::Load() {
    DWORD size = 0;
    const void* bytes = ResourceBytes(kPictureName, kPictureType, size);
    if (bytes == nullptr)
        return;
    // GDI+ reads the frames from the stream as it plays them, so the stream
    // lives as long as the image.
    stream_ = ::SHCreateMemStream(static_cast<const BYTE*>(bytes), size);
    if (stream_ == nullptr)
        return;
    auto image = std::make_unique<Gdiplus::Image>(stream_);
    if (image->GetLastStatus() != Gdiplus::Ok || image->GetWidth() == 0 || image->GetHeight() == 0)
        return;
    frameCount_ = std::max(1u, image->GetFrameCount(&Gdiplus::FrameDimensionTime));
    delays_.assign(frameCount_, kDefaultDelayMs);
    const UINT propertySize = image->GetPropertyItemSize(kFrameDelayTag);
    if (propertySize > 0) {
        std::vector<BYTE> buffer(propertySize);
        auto* item = reinterpret_cast<Gdiplus::PropertyItem*>(buffer.data());
        if (image->GetPropertyItem(kFrameDelayTag, propertySize, item) == Gdiplus::Ok) {
            const auto* hundredths = static_cast<const UINT*>(item->value);
            const std::size_t n = std::min<std::size_t>(frameCount_, item->length / sizeof(UINT));
            for (std::size_t i = 0; i < n; ++i)
                if (hundredths[i] > 0)
                    delays_[i] = hundredths[i] * 10;
        }
    }
    image_ = std::move(image);
    if (frameCount_ > 1)
        ::SetTimer(hwnd_, kTimer, delays_[0], nullptr);
}

void Animation::Advance() {
    frame_ = (frame_ + 1) % frameCount_;
    image_->SelectActiveFrame(&Gdiplus::FrameDimensionTime, frame_);
    ::SetTimer(hwnd_, kTimer, delays_[frame_], nullptr);
    ::InvalidateRect(hwnd_, nullptr, FALSE);
}

void Animation::Paint(HDC dc) {
    RECT r;
    ::GetClientRect(hwnd_, &r);
    const int side = r.right - r.left;
    // Drawn off screen first, so a frame never shows half painted.
    HDC memory = ::CreateCompatibleDC(dc);
    HBITMAP bitmap = ::CreateCompatibleBitmap(dc, side, r.bottom - r.top);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::FillRect(memory, &r, ::GetSysColorBrush(COLOR_BTNFACE));
    if (image_ != nullptr) {
        const double w = image_->GetWidth();
        const double h = image_->GetHeight();
        const double scale = std::min(side / w, (r.bottom - r.top) / h);
        const int dw = static_cast<int>(w * scale);
        const int dh = static_cast<int>(h * scale);
        Gdiplus::Graphics g(memory);
        g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
        g.DrawImage(image_.get(), (side - dw) / 2, (r.bottom - r.top - dh) / 2, dw, dh);
    }
    ::BitBlt(dc, 0, 0, side, r.bottom - r.top, memory, 0, 0, SRCCOPY);
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
}

LRESULT CALLBACK Animation::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Animation*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self != nullptr) {
        switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = ::BeginPaint(hwnd, &ps);
            self->Paint(dc);
            ::EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_TIMER:
            if (self->image_ != nullptr && self->frameCount_ > 1)
                self->Advance();
            return 0;
        case WM_ERASEBKGND: return 1;
        default: break;
        }
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

} // namespace winview
