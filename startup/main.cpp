// Halvorne: started by the asset-register application with the launch
// marker and a task; the outcome is the process exit code.
#include "http/IdHTTP.h"
#include "startup/core/CommandLine.h"
#include "startup/core/StoredTextValues.h"
#include "startup/core/StoredTexts.h"
#include "startup/gui/Startup.h"

#include <QApplication>

int main(int argc, char** argv) {
    // Taken before QApplication, which removes the options it recognises
    // from argv. A Windows build would split GetCommandLineA() with
    // startup::SplitCommandLine instead.
    const std::vector<std::string> args = startup::ArgumentsFromArgv(argc, argv);
    // Most calls are the host's short version check: its first connection
    // would wait for the trust store, which is read meanwhile, while Qt
    // starts and the windows are built.
    TIdHTTP::PrepareFor(startup::UnscrambleText(startup::stored::VersionDirAddress()));
    QApplication app(argc, argv);
    const int code = RunHalvorne(args, ProgramFilePath());
    DestroyHalvorneWindows();
    return code;
}
