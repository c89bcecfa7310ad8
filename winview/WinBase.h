// What every window of the Win32 view shares: a window class whose
// procedure hands messages to a C++ object, fonts, colours, text at the
// wide calls, and the one place where messages are taken off the queue.
#pragma once

#ifndef _WIN32
#error "winview is the Windows view"
#endif

#include <string>
#include <vector>

#include <windows.h>

namespace winview {

// A font owned by whoever holds it.
class Font {
public:
    Font() = default;
    // The windows' face: "MS Sans Serif" at this pixel height.
    Font(int pixelHeight, bool bold);
    ~Font();
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;
    HFONT Handle() const { return font_; }

private:
    HFONT font_ = nullptr;
};

// A top-level window whose messages go to HandleMessage. The window is
// destroyed with the object.
class Window {
public:
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    HWND Handle() const { return hwnd_; }
    // The view object of one of our top-level windows; nullptr for any
    // other window (message boxes, controls).
    static Window* FromHandle(HWND hwnd);

    // Escape typed anywhere in the window (the message router turns it into
    // IDCANCEL).
    virtual void OnEscape() {}
    // The accelerator table that applies while the window has the focus.
    virtual HACCEL Accelerators() const { return nullptr; }

protected:
    Window() = default;
    // Creates the window with a client area of the given size, at (x, y)
    // or centred when x is CW_USEDEFAULT.
    void Create(DWORD style, DWORD exStyle, const std::string& caption, int clientWidth, int clientHeight, int x, int y,
        HMENU menu = nullptr);
    // Makes a child control; id doubles as its command id.
    HWND Child(const wchar_t* windowClass, const std::string& text, DWORD style, int x, int y, int w, int h, int id,
        HFONT font, DWORD exStyle = 0);
    // Puts the program's picture `name` beside the button's caption.
    void SetGlyph(HWND button, const wchar_t* name);
    // Gives the control the focus, now and whenever the window is
    // activated again (as a dialog does).
    void FocusOn(HWND control);
    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam) {
        return ::DefWindowProcW(hwnd_, message, wParam, lParam);
    }

private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    HWND hwnd_ = nullptr;
    HWND focus_ = nullptr;
    std::vector<HICON> glyphs_;
};

// The client size of a window of this style whose outer size is given.
SIZE ClientSizeFor(int outerWidth, int outerHeight, DWORD style, DWORD exStyle, bool menu);

COLORREF ToColorRef(unsigned red, unsigned green, unsigned blue);
void SetText(HWND control, const std::string& utf8);
std::string GetText(HWND control);
// Loads a resource of the program by name and type; nullptr and 0 when
// there is none (the lookup ignores case).
const void* ResourceBytes(const wchar_t* name, const wchar_t* type, DWORD& size);

// Routes one message taken off the queue: the window's accelerators, the
// dialog keys (Tab, Esc), then the window itself.
void RouteMessage(MSG& msg);
// Handles every message waiting in the queue, then returns.
void PumpPendingMessages();
// Posts a message to this thread, so that a waiting loop looks again.
void WakeLoop();

// The program's request to end every running loop, with the code the
// event loop returns. A loop started later runs as usual.
void RequestQuit(int code);
bool QuitRequested();
int QuitCode();
unsigned QuitRequests();

// Counts a running loop (the event loop, a modal dialog, a message box)
// for as long as it exists.
class LoopScope {
public:
    LoopScope();
    ~LoopScope();
    LoopScope(const LoopScope&) = delete;
    LoopScope& operator=(const LoopScope&) = delete;
};
int LoopDepth();

// Handles messages, waiting for them, until done() is true or the program
// asks the running loops to end. The modal dialogs and the event loop run
// on it; whatever makes done() true must also WakeLoop.
template <typename Done>
void RunUntil(Done done) {
    const LoopScope scope;
    const unsigned requests = QuitRequests();
    MSG msg;
    while (!done() && QuitRequests() == requests && ::GetMessageW(&msg, nullptr, 0, 0) > 0)
        RouteMessage(msg);
}

} // namespace winview
