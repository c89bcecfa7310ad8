// Shows the change information: in the registered browser, waiting until the
// user closes it; else with the desktop's "open" when the address is a local
// file; else, or when the browser fails, the user is told in a warning box.
#include "transfer/gui/Form_Run.h"

#include "platform/process/Browser.h"
#include "transfer/core/BrowserCommand.h"

namespace {

namespace text {
const QString kNotShown = QStringLiteral("Informace o změnách se nepodařilo zobrazit!");
const QString kNoFile = QStringLiteral("Soubor informací nebyl nalezen");
const QString kBrowser = QStringLiteral("Prohlížeč: ");
const QString kBreak = QStringLiteral("\r\n\r\n");
} // namespace text

} // namespace

void TForm_Run::ShowChangesFile(QObject*, const std::string& Address) {
    ReshowConnected = true;

    const std::string browser = FindBrowserPath();
    if (!browser.empty()) {
        // The address is the browser's one argument: a space or a quote in
        // it can neither split it nor reach a shell. The wait is meant to
        // block the GUI thread until the user closes the browser.
        const auto run = platform::process::RunAndWait(browser, {Address});
        if (run.started && run.exited && (run.exitCode == 0 || run.exitCode == 1))
            return;
        host_.ShowMessageDlg(
            TMsgDlgType::mtWarning, text::kNotShown + text::kBreak + text::kBrowser + QString::fromStdString(browser));
        return;
    }
    if (platform::process::IsExistingFile(Address)) {
        platform::process::ShellOpen(Address);
        return;
    }
    host_.ShowMessageDlg(TMsgDlgType::mtWarning, text::kNotShown + text::kBreak + text::kNoFile);
}

std::string TForm_Run::FindBrowserPath() {
    return transfer::BrowserPathFromCommand(platform::process::RegisteredBrowserCommand());
}
