// The program's five windows, created in start-up order and destroyed in
// reverse. While the set lives, Form_Master, Form_Run, Form_Set, Form_Main
// and FormDownloadSet name its windows; they own nothing.
#pragma once

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
    // Runs once the master is complete, before the later windows read the
    // run parameters (tests adjust the run here).
    std::function<void(TForm_Master&)> AfterMaster;
    // Tests of one window leave the others out.
    bool CreateSet = true;
    bool CreateMain = true;
    bool CreateDownloadSet = true;
};

class THalvorneWindows {
public:
    // Master creation parses args (args[0], the program file as started, is
    // not examined); programFile is its full path. Needs a QApplication.
    THalvorneWindows(const std::vector<std::string>& args, const std::string& programFile,
        const THalvorneWindowsOptions& options = {});
    ~THalvorneWindows();
    THalvorneWindows(const THalvorneWindows&) = delete;
    THalvorneWindows& operator=(const THalvorneWindows&) = delete;

    TForm_Master& Master() const { return *master_; }
    TForm_Run& Run() const { return *run_; }

private:
    // Declared in creation order; the destructor resets them in reverse.
    std::unique_ptr<TForm_Master> master_;
    std::unique_ptr<TForm_Run> run_;
    std::unique_ptr<TForm_Set> set_;
    std::unique_ptr<TForm_Main> main_;
    std::unique_ptr<TFormDownloadSet> downloadSet_;
};
