// The animated "@" picture: the program's GIF resource "ZAVINAC", decoded by
// GDI+ and played frame by frame on a timer, scaled down into its square
// panel with its proportions kept.
#pragma once

#include "winview/WinBase.h"

#include <memory>
#include <vector>

namespace Gdiplus {
class Image;
}

namespace winview {

// A PNG button glyph from the program's resources (RCDATA) as an icon;
// nullptr when there is none. The caller destroys it.
HICON LoadGlyph(const wchar_t* name);
// The same picture scaled to side x side on the menu's colour, for a menu
// item; nullptr when there is none.
HBITMAP LoadMenuPicture(const wchar_t* name, int side);

class Animation {
public:
    // A child panel of `parent` at (x, y), side x side.
    Animation(HWND parent, int x, int y, int side);
    ~Animation();
    Animation(const Animation&) = delete;
    Animation& operator=(const Animation&) = delete;

    HWND Handle() const { return hwnd_; }
    bool Loaded() const { return image_ != nullptr; }
    unsigned FrameCount() const { return frameCount_; }

private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void Load();
    void Paint(HDC dc);
    void Advance();
    HWND hwnd_ = nullptr;
    IStream* stream_ = nullptr;
    std::unique_ptr<Gdiplus::Image> image_;
    unsigned frameCount_ = 0;
    unsigned frame_ = 0;
    // Each frame's delay in milliseconds.
    std::vector<unsigned> delays_;
};

} // namespace winview
