// A second client on an X server that looks at other clients' windows the
// way a window manager does: their transient owner, their _NET_WM_STATE,
// whether they are mapped, and the polite close request a window manager
// sends for the close box or Alt+F4 (a WM_DELETE_WINDOW client message).
// Plain libX11; no Qt, so the X headers stay out of every test's includes.
#pragma once

#include <string>
#include <vector>

struct _XDisplay;

namespace testsupport {

class XWindowProbe {
public:
    // Opens its own connection to the display (":N"); throws when it cannot.
    explicit XWindowProbe(const std::string& displayName);
    ~XWindowProbe();
    XWindowProbe(const XWindowProbe&) = delete;
    XWindowProbe& operator=(const XWindowProbe&) = delete;

    // WM_TRANSIENT_FOR of the window; 0 when it has none.
    unsigned long TransientFor(unsigned long window) const;
    // The atom names in the window's _NET_WM_STATE.
    std::vector<std::string> NetWmState(unsigned long window) const;
    bool HasNetWmState(unsigned long window, const std::string& state) const;
    // Mapped, and every ancestor mapped too.
    bool Viewable(unsigned long window) const;
    // Whether the window takes part in WM_DELETE_WINDOW (WM_PROTOCOLS).
    bool TakesDeleteWindow(unsigned long window) const;
    // Sends WM_DELETE_WINDOW as a window manager does; false when the
    // window does not take part in the protocol or the send failed.
    bool SendDeleteWindow(unsigned long window) const;
    // Gives the window the input focus, as a window manager does when the
    // user clicks it (the server's current time, so no earlier focus change
    // can win over it). Window 0 takes the focus away from every window.
    void GiveFocus(unsigned long window) const;
    // The window manager's view of "stays above `below`": the window is in
    // the above layer itself, or its chain of transient owners reaches
    // `below` or a window in the above layer.
    bool KeptAbove(unsigned long window, unsigned long below) const;

private:
    _XDisplay* display_ = nullptr;
};

} // namespace testsupport
