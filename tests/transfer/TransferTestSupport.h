// Shared set-up for the widget tests of the transfer window, the next-step
// dialog and the change viewer: the program's windows built in start-up
// order inside a temporary program folder, the process end observed instead
// of taken, and modal boxes answered automatically.
#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace transfer_test {

struct WindowsOptions {
    bool autoMode = false;
    bool createMain = true;
    bool createSet = true;
    bool createDownloadSet = true;
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
};

// Answers every modal box that appears while it lives: records its caption
// and text and presses the button chosen by `pick` (default: the first).
class ModalAnswerer {
public:
    ModalAnswerer();
    ~ModalAnswerer();

    struct Seen {
        QString caption;
        QString text;
    };
    std::vector<Seen> Boxes;

    // Called with each modal widget that is not a message box; it must
    // close it. The default rejects it.
    std::function<void(QWidget*)> OnOtherModal;

private:
    void Poll();
    QTimer timer_;
};

} // namespace transfer_test
