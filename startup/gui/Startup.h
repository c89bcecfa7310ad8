// The Qt program's start-up: create the five windows and the flow over
// them, then run the flow's start-up sequence. main() calls it; tests call
// it in-process.
#pragma once

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

// Destroys the windows RunHalvorne created, in reverse order.
void DestroyHalvorneWindows();

// The running program's file: /proc/self/exe, else what Qt reports.
std::string ProgramFilePath();
