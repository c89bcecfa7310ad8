#include "tests/support/XWindowProbe.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace tests::support {

namespace {

// Owner chains longer than this are a loop, not a design.
constexpr int kMaxOwnerDepth = 16;

// Property data belongs to Xlib and goes back through XFree.
struct XFreeDeleter {
    void operator()(unsigned char* p) const {
        if (p)
            XFree(p);
    }
};
using XData = std::unique_ptr<unsigned char, XFreeDeleter>;

} // namespace

XWindowProbe::XWindowProbe(const std::string& displayName) {
    display_ = XOpenDisplay(displayName.c_str());
    if (!display_)
        throw std::runtime_error("cannot open X display " + displayName);
}

XWindowProbe::~XWindowProbe() {
    if (display_)
        XCloseDisplay(display_);
}

unsigned long XWindowProbe::TransientFor(unsigned long window) const {
    Window owner = 0;
    if (!XGetTransientForHint(display_, window, &owner))
        return 0;
    return owner;
}

std::vector<std::string> XWindowProbe::NetWmState(unsigned long window) const {
    const Atom netWmState = XInternAtom(display_, "_NET_WM_STATE", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* raw = nullptr;
    std::vector<std::string> names;
    if (XGetWindowProperty(display_, window, netWmState, 0, 64, False, XA_ATOM, &type, &format, &count, &after, &raw) !=
        Success)
        return names;
    XData data(raw);
    if (type != XA_ATOM || format != 32 || !data)
        return names;
    const auto* atoms = reinterpret_cast<const Atom*>(data.get());
    for (unsigned long i = 0; i < count; ++i) {
        char* name = XGetAtomName(display_, atoms[i]);
        if (name) {
            names.emplace_back(name);
            XFree(name);
        }
    }
    return names;
}

bool XWindowProbe::HasNetWmState(unsigned long window, const std::string& state) const {
    const auto states = NetWmState(window);
    return std::find(states.begin(), states.end(), state) != states.end();
}

bool XWindowProbe::Viewable(unsigned long window) const {
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display_, window, &attributes))
        return false;
    return attributes.map_state == IsViewable;
}

bool XWindowProbe::TakesDeleteWindow(unsigned long window) const {
    Atom* protocols = nullptr;
    int count = 0;
    if (!XGetWMProtocols(display_, window, &protocols, &count))
        return false;
    const Atom deleteWindow = XInternAtom(display_, "WM_DELETE_WINDOW", False);
    const bool found = std::find(protocols, protocols + count, deleteWindow) != protocols + count;
    XFree(protocols);
    return found;
}

bool XWindowProbe::SendDeleteWindow(unsigned long window) const {
    if (!TakesDeleteWindow(window))
        return false;
    // ICCCM 4.2.8.1: a ClientMessage of type WM_PROTOCOLS, format 32, the
    // protocol atom and a timestamp, sent to the client with an empty mask.
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(display_, window, False, NoEventMask, &event);
    XSync(display_, False);
    return sent != 0;
}

void XWindowProbe::GiveFocus(unsigned long window) const {
    XSetInputFocus(display_, window, RevertToParent, CurrentTime);
    XSync(display_, False);
}

bool XWindowProbe::KeptAbove(unsigned long window, unsigned long below) const {
    unsigned long w = window;
    for (int depth = 0; depth < kMaxOwnerDepth && w != 0; ++depth) {
        if (HasNetWmState(w, "_NET_WM_STATE_ABOVE"))
            return true;
        const unsigned long owner = TransientFor(w);
        if (owner == below)
            return true;
        w = owner;
    }
    return false;
}

} // namespace tests::support
