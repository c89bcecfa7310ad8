// Halvorne's start-up sequence: create the five windows in their order,
// check the run parameters, dispatch to the task or the main window, run the
// event loop. main() calls it; tests call it in-process.
#pragma once

#include "transfer/gui/Form_Run.h"

#include <functional>
#include <string>
#include <vector>

struct TStartupOptions {
    // Replaces how the process ends with a code other than 0 (tests).
    std::function<void(int)> TerminateProcess;
};

// args[0] is the program file as started and is not examined; programFile is
// its full path (the configuration file lies beside it). Needs a
// QApplication. Returns the process exit code.
int RunHalvorne(
    const std::vector<std::string>& args, const std::string& programFile, const TStartupOptions& options = {});

class TForm_Master;

// The two sets for SetCheckAndDownloadVersionParams: the connection test's
// (only the version directory and the version file) and the version
// check's (installed version, version directory, version file, new-version
// file, target directory). Each getter is asked afresh.
struct TVersionParamSets {
    VersionParamSet TestSet;
    VersionParamSet MainSet;
};
TVersionParamSets VersionParamSets(const TForm_Master& master);

// The set for SetCheckAndDownloadDokumParams: documentation directory,
// documentation file, target directory.
DokumParamSet DokumParams(const TForm_Master& master);

// Destroys the windows RunHalvorne created, in reverse order.
void DestroyHalvorneWindows();

// The running program's file: /proc/self/exe, else what Qt reports.
std::string ProgramFilePath();
