// Halvorne's start-up sequence over its views: the run's parameters, the
// transfer flow, the settings dialog's rules and the main window's
// commands, created in this order; then the parameters checked, the task
// or the main window, and the event loop. See Shell.h for how a view's
// main() uses it.
#pragma once

#include "startup/flow/MainCommands.h"
#include "startup/flow/Program.h"
#include "startup/flow/SettingsFlow.h"
#include "startup/flow/SettingsView.h"
#include "startup/flow/Shell.h"
#include "transfer/flow/TransferFlow.h"
#include "transfer/flow/TransferView.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace startup::flow {

struct FlowOptions {
    // Replaces how the process ends with a code other than 0 (tests).
    std::function<void(int)> TerminateProcess;
    // Runs once the run's parameters are complete, before the transfer
    // flow and the dialogs read them (tests adjust the run here).
    std::function<void(Program&)> AfterProgram;
};

// The two sets for SetCheckAndDownloadVersionParams: the connection test's
// (only the version directory and the version file) and the version
// check's (installed version, version directory, version file, new-version
// file, target directory). Each getter is asked afresh.
struct VersionParamSets {
    transfer::flow::VersionParamSet TestSet;
    transfer::flow::VersionParamSet MainSet;
};
VersionParamSets MakeVersionParamSets(const Program& program);

// The set for SetCheckAndDownloadDokumParams: documentation directory,
// documentation file, target directory.
transfer::flow::DokumParamSet MakeDokumParams(const Program& program);

class HalvorneFlow {
public:
    // Parses the arguments and reads the configuration file (args[0], the
    // program file as started, is not examined; programFile is its full
    // path), then sets up the windows through their views.
    HalvorneFlow(Shell& shell, transfer::flow::TransferView& transferView, SettingsView& settingsView,
        const std::vector<std::string>& args, const std::string& programFile, const FlowOptions& options = {});
    ~HalvorneFlow();
    HalvorneFlow(const HalvorneFlow&) = delete;
    HalvorneFlow& operator=(const HalvorneFlow&) = delete;

    Program& GetProgram() const { return *program_; }
    transfer::flow::TransferFlow& Transfer() const { return *transfer_; }
    SettingsFlow& Settings() const { return *settings_; }
    MainCommands& Main() const { return *main_; }

    // The start-up sequence: invalid parameters end with 99 after their
    // box; a run not started by the host ends with 0; the automatic mode
    // runs its task; otherwise the main window opens. Then the event loop,
    // unless the program already ended. Returns the exit code.
    int Run();

private:
    Shell& shell_;
    std::unique_ptr<Program> program_;
    std::unique_ptr<transfer::flow::TransferFlow> transfer_;
    std::unique_ptr<SettingsFlow> settings_;
    std::unique_ptr<MainCommands> main_;
};

} // namespace startup::flow
