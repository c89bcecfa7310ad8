// Halvorne on Windows: started by the asset-register application with the
// launch marker and a task; the outcome is the process exit code. The
// native windows over the same flow as the Qt program (startup/main.cpp).
#include "platform/wintext/WindowsText.h"
#include "startup/core/CommandLine.h"
#include "startup/flow/HalvorneFlow.h"
#include "winview/SettingsDialog.h"
#include "winview/Shell.h"
#include "winview/TransferWindow.h"

#include <string>
#include <vector>

#include <windows.h>

#include <commctrl.h>

namespace {

std::string ProgramFile() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return platform::wintext::Utf8(path);
        }
        path.resize(path.size() * 2);
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES | ICC_UPDOWN_CLASS};
    ::InitCommonControlsEx(&controls);
    const std::vector<std::string> args =
        startup::SplitCommandLine(platform::wintext::Utf8(std::wstring(::GetCommandLineW())));

    winview::Shell shell;
    winview::TransferWindow transferWindow;
    winview::SettingsDialog settingsDialog;
    startup::flow::HalvorneFlow flow(shell, transferWindow, settingsDialog, args, ProgramFile());
    transferWindow.SetFlow(&flow.Transfer());
    settingsDialog.SetFlow(&flow.Settings());
    shell.Main().SetCommands(&flow.Main());
    return flow.Run();
}
