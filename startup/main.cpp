// Halvorne: started by the asset-register application with the launch
// marker and a task; the outcome is the process exit code.
#include "startup/core/CommandLine.h"
#include "startup/gui/Startup.h"

#include <QApplication>

int main(int argc, char** argv) {
    // Taken before QApplication, which removes the options it recognises
    // from argv. A Windows build would split GetCommandLineA() with
    // startup::SplitCommandLine instead.
    const std::vector<std::string> args = startup::ArgumentsFromArgv(argc, argv);
    QApplication app(argc, argv);
    const int code = RunHalvorne(args, ProgramFilePath());
    DestroyHalvorneWindows();
    return code;
}
