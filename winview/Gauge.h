// The progress gauge: a bar drawn by the program, black on white, with the
// whole percentage done printed in it (the system's progress bar prints
// none).
#pragma once

#include "winview/WinBase.h"

#include <cstdint>

namespace winview {

class Gauge {
public:
    Gauge(HWND parent, int x, int y, int w, int h);
    ~Gauge();
    Gauge(const Gauge&) = delete;
    Gauge& operator=(const Gauge&) = delete;

    HWND Handle() const { return hwnd_; }
    // 0..100, what the gauge prints.
    void SetPercent(int percent);
    int Percent() const { return percent_; }

private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void Paint(HDC dc) const;
    HWND hwnd_ = nullptr;
    int percent_ = 0;
    Font font_{5, false};
};

} // namespace winview
