#include "startup/gui/Startup.h"

#include "startup/gui/HalvorneWindows.h"

#include <QApplication>

#include <climits>
#include <memory>
#include <unistd.h>

namespace {

// The windows of the running program; main() and the tests end them with
// DestroyHalvorneWindows once they are done looking at them.
std::unique_ptr<THalvorneWindows> g_windows;

} // namespace

std::string ProgramFilePath() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n > 0)
        return std::string(buf, static_cast<std::size_t>(n));
    return QCoreApplication::applicationFilePath().toStdString();
}

void DestroyHalvorneWindows() { g_windows.reset(); }

int RunHalvorne(const std::vector<std::string>& args, const std::string& programFile, const TStartupOptions& options) {
    // The program ends only through the flow, never because the last
    // visible window went away (the transfer window and the main window
    // take turns being hidden).
    QApplication::setQuitOnLastWindowClosed(false);

    g_windows.reset();
    THalvorneWindowsOptions windowOptions;
    windowOptions.TerminateProcess = options.TerminateProcess;
    g_windows = std::make_unique<THalvorneWindows>(args, programFile, windowOptions);
    return g_windows->Flow().Run();
}
