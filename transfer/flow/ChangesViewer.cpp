// Shows the change information: in the registered browser, waiting until the
// user closes it; else with the desktop's "open" when the address is a local
// file; else, or when the browser fails, the user is told in a warning box.
#include "transfer/flow/TransferFlow.h"

#include "platform/process/Browser.h"
#include "transfer/core/BrowserCommand.h"

namespace transfer::flow {

void TransferFlow::ShowChangesFile(const std::string& Address) {
    ReshowConnected = true;

    const std::string browser = FindBrowserPath();
    if (!browser.empty()) {
        // The address is the browser's one argument: a space or a quote in
        // it can neither split it nor reach a shell. The wait is meant to
        // block the GUI thread until the user closes the browser.
        const auto run = platform::process::RunAndWait(browser, {Address});
        if (run.started && run.exited && (run.exitCode == 0 || run.exitCode == 1))
            return;
        host_.ShowMessage(MessageKind::Warning,
            std::string(texts::kChangesNotShown) + texts::kChangesBreak + texts::kChangesBrowser + browser);
        return;
    }
    if (platform::process::IsExistingFile(Address)) {
        platform::process::ShellOpen(Address);
        return;
    }
    host_.ShowMessage(
        MessageKind::Warning, std::string(texts::kChangesNotShown) + texts::kChangesBreak + texts::kChangesNoFile);
}

std::string TransferFlow::FindBrowserPath() {
    return transfer::BrowserPathFromCommand(platform::process::RegisteredBrowserCommand());
}

} // namespace transfer::flow
