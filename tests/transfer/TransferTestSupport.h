// Shared set-up for the widget tests of the transfer window, the next-step
// dialog and the change viewer: the program's windows built in start-up
// order inside a temporary program folder, the process end observed instead
// of taken, and modal boxes answered automatically.
#pragma once

#include "startup/gui/HalvorneWindows.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <string>
#include <vector>

namespace tests::transfer {

struct WindowsOptions {
    bool autoMode = false;
    bool createMain = true;
    bool createSet = true;
    bool createDownloadSet = true;
    // Every window made at once; otherwise each when the run needs it, as
    // in the program.
    bool createAllAtStart = true;
};

// Builds Form_Master (with a valid "chkver" command line), Form_Run,
// Form_Set, Form_Main and FormDownloadSet; tears them down in reverse.
class HalvorneWindows {
public:
    explicit HalvorneWindows(const WindowsOptions& options = {});
    ~HalvorneWindows();
    HalvorneWindows(const HalvorneWindows&) = delete;
    HalvorneWindows& operator=(const HalvorneWindows&) = delete;

    QString Dir() const { return dir_.path(); }
    // Exit codes EndProgram tried to end the process with.
    std::vector<int> TerminatedWith;

private:
    QTemporaryDir dir_;
    std::unique_ptr<THalvorneWindows> windows_;
};

} // namespace tests::transfer
