#include "winview/Shell.h"

#include "platform/wintext/WindowsText.h"
#include "startup/core/StartupTexts.h"

namespace winview {

namespace {

struct BoxLook {
    const char* caption;
    UINT icon;
};

BoxLook LookOf(startup::flow::MessageKind kind) {
    using startup::flow::MessageKind;
    switch (kind) {
    case MessageKind::Warning: return {startup::texts::kCaptionWarning, MB_ICONWARNING};
    case MessageKind::Error: return {startup::texts::kCaptionError, MB_ICONERROR};
    case MessageKind::Information: return {startup::texts::kCaptionInformation, MB_ICONINFORMATION};
    }
    return {"", 0};
}

} // namespace

void Shell::ShowMessage(startup::flow::MessageKind kind, const std::string& text) {
    const BoxLook look = LookOf(kind);
    const LoopScope scope;
    // Task-modal: every window of the program waits for it. Topmost: the
    // transfer window may be up, and it is too.
    HWND active = ::GetActiveWindow();
    ::MessageBoxW(nullptr, platform::wintext::Wide(text).c_str(), platform::wintext::Wide(look.caption).c_str(),
        MB_OK | look.icon | MB_TASKMODAL | MB_TOPMOST | MB_SETFOREGROUND);
    // The box had no owner to hand the activation back to; without it the
    // keys would reach no window until the user clicked one.
    if (active != nullptr && ::IsWindowVisible(active))
        ::SetForegroundWindow(active);
}

void Shell::SetMainCaption(const std::string& text) { SetText(main_.Handle(), text); }

void Shell::ShowMainWindow() {
    ::ShowWindow(main_.Handle(), SW_SHOW);
    ::SetForegroundWindow(main_.Handle());
}

void Shell::HideMainWindow() { ::ShowWindow(main_.Handle(), SW_HIDE); }

int Shell::RunEventLoop() {
    // A stop asked for before the loop began holds for it too.
    if (!QuitRequested())
        RunUntil([] { return false; });
    return QuitCode();
}

bool Shell::EventLoopRunning() const { return LoopDepth() > 0; }

void Shell::QuitEventLoop(int code) { RequestQuit(code); }

} // namespace winview
