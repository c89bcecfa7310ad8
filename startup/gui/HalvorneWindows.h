// The program's five Qt windows and the flow over them: the views created
// first, then the flow (which parses the run and sets the windows up), then
// each view handed its part of the flow; destroyed in reverse. While the
// set lives, Form_Master, Form_Run, Form_Set, Form_Main and FormDownloadSet
// name its windows; they own nothing.
#pragma once

#include "startup/flow/HalvorneFlow.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class TForm_Master;
class TForm_Run;
class TForm_Set;
class TForm_Main;
class TFormDownloadSet;

struct THalvorneWindowsOptions {
    // Replaces how the process ends with a code other than 0 (tests).
    std::function<void(int)> TerminateProcess;
    // Runs once the run's parameters are complete, before the windows are
    // set up from them (tests adjust the run here).
    std::function<void(startup::flow::Program&)> AfterMaster;
    // Tests of one window leave the others out: such a window is created
    // (the flow needs its view) but not named by its global pointer, so
    // nothing reaches it.
    bool CreateSet = true;
    bool CreateMain = true;
    bool CreateDownloadSet = true;
};

class THalvorneWindows {
public:
    // Parses args (args[0], the program file as started, is not examined);
    // programFile is its full path. Needs a QApplication.
    THalvorneWindows(const std::vector<std::string>& args, const std::string& programFile,
        const THalvorneWindowsOptions& options = {});
    ~THalvorneWindows();
    THalvorneWindows(const THalvorneWindows&) = delete;
    THalvorneWindows& operator=(const THalvorneWindows&) = delete;

    TForm_Master& Master() const { return *master_; }
    TForm_Run& Run() const { return *run_; }
    startup::flow::HalvorneFlow& Flow() const { return *flow_; }

private:
    // Declared in creation order; the destructor resets them in reverse.
    std::unique_ptr<TForm_Master> master_;
    std::unique_ptr<TForm_Run> run_;
    std::unique_ptr<TForm_Set> set_;
    std::unique_ptr<TForm_Main> main_;
    std::unique_ptr<TFormDownloadSet> downloadSet_;
    std::unique_ptr<startup::flow::HalvorneFlow> flow_;
};
