// The program's windows as the start-up flow sees them: the message box,
// the main window and the event loop. No toolkit type appears here; the
// Qt view and the Win32 view each implement it. Text is UTF-8.
//
// How a view drives the flow (startup/flow/HalvorneFlow.h):
// - main() of a view creates the view objects (shell, transfer window,
//   settings dialog), then the flow over them, hands each view its flow
//   and calls HalvorneFlow::Run, which returns the exit code. The flow
//   owns every decision; the views own their windows.
// - The main window's user events, forwarded at once to MainCommands with
//   no decision of the view's own:
//     "Kontrola verze" or F9                      -> OnVersionCheck
//     "Nastavení" or F4                           -> OnSettings
//     "Konec"                                     -> OnExit
//     "Nápověda" or F1                            -> OnHelp
//     Esc (no modifier)                           -> OnEscape
//     the desktop's close request (title bar, Alt+F4, WM_CLOSE) -> OnDesktopClose
//   The keys act only while the main window is the active one. The view
//   does not hide or close the main window by itself on any of these: the
//   flow calls CloseMainWindow when it is to go, then ends the program
//   (HideMainWindow while a check runs in the transfer window). A view
//   whose toolkit closes a window on the desktop's request anyway (Qt
//   accepts the close event) still forwards it; a second close asked by
//   the flow then changes nothing.
// - The settings dialog's user events go to SettingsFlow (SettingsView.h);
//   the transfer window's to TransferFlow (transfer/flow/TransferView.h).
#pragma once

#include "transfer/flow/TransferHost.h"

#include <string>

namespace startup::flow {

using transfer::flow::MessageKind;

class Shell {
public:
    virtual ~Shell() = default;

    // The program's modal message box: the kind's icon and caption
    // (startup::texts::kCaptionWarning, ...), the text as plain text, one
    // "OK" button that is also the Esc button. Returns when it is closed.
    // It stands above whichever window is up, the always-on-top transfer
    // window included.
    virtual void ShowMessage(MessageKind kind, const std::string& text) = 0;

    // The main window: its caption, shown (raised) and hidden.
    virtual void SetMainCaption(const std::string& text) = 0;
    virtual void ShowMainWindow() = 0;
    virtual void HideMainWindow() = 0;
    // The main window goes for good; the flow ends the program next when
    // there was a main window to close (the return value). A view that
    // counts a close apart from hiding overrides it.
    virtual bool CloseMainWindow() {
        HideMainWindow();
        return true;
    }

    // Runs the event loop until QuitEventLoop; returns its code.
    virtual int RunEventLoop() = 0;
    // Whether any event loop runs now, a modal one included.
    virtual bool EventLoopRunning() const = 0;
    // Asks the running event loops to end with code.
    virtual void QuitEventLoop(int code) = 0;

protected:
    Shell() = default;
    Shell(const Shell&) = default;
    Shell& operator=(const Shell&) = default;
};

} // namespace startup::flow
