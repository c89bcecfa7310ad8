// The program's five Qt windows and the flow over them: the master and the
// transfer window first, then the flow (which parses the run and sets the
// windows up), each view handed its part of the flow. The settings dialog,
// the main window and the next-step dialog are made when the run first
// needs them, in that order of kinds but never before the flow: an
// automatic check that finds nothing new shows none of them and so makes
// none. Destroyed in reverse. While the set lives, Form_Master, Form_Run,
// Form_Set, Form_Main and FormDownloadSet name its windows that exist; they
// own nothing.
#pragma once

#include "startup/flow/HalvorneFlow.h"
#include "startup/gui/SettingsOnDemand.h"

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
    // Tests of one window leave the others out: the settings dialog is
    // still made when needed (the flow needs its view) but not named by
    // its global pointer; the main window and the next-step dialog are
    // never made, so nothing reaches them.
    bool CreateSet = true;
    bool CreateMain = true;
    bool CreateDownloadSet = true;
    // Makes every window at once, in the fixed order, for tests that reach
    // the windows through their global pointers from the start.
    bool CreateAllAtStart = false;
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

    // The windows made on demand: null while not made (MainWindow and
    // NextStepDialog also when left out by the options).
    TForm_Set* SettingsDialogIfMade() const;
    TForm_Main* MainWindowIfMade() const { return main_.get(); }
    TFormDownloadSet* NextStepDialogIfMade() const { return downloadSet_.get(); }

private:
    TForm_Set& MakeSettingsDialog();
    TForm_Main* MainWindow(bool create);
    TFormDownloadSet* NextStepDialog();

    THalvorneWindowsOptions options_;
    // Declared in creation order; the destructor resets them in reverse.
    std::unique_ptr<TForm_Master> master_;
    std::unique_ptr<TForm_Run> run_;
    std::unique_ptr<startup::gui::SettingsOnDemand> settingsView_;
    std::unique_ptr<startup::flow::HalvorneFlow> flow_;
    std::unique_ptr<TForm_Set> set_;
    std::unique_ptr<TForm_Main> main_;
    std::unique_ptr<TFormDownloadSet> downloadSet_;
};
