// A private X server (Xvfb) for running the program as a user sees it and
// answering it with xdotool.
#pragma once

#include "tests/support/TempDir.h"

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace tests::support {

class XvfbDisplay {
public:
    // Throws when no server could be started.
    XvfbDisplay();
    ~XvfbDisplay();
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    // ":<n>"
    const std::string& Name() const { return name_; }
    // Runs xdotool with these arguments on this display; its standard output.
    std::string Xdotool(const std::vector<std::string>& args, int* status = nullptr) const;
    // Ids of the windows whose name matches the pattern (xdotool search --name).
    std::vector<std::string> FindWindows(const std::string& pattern) const;
    // Ids of the mapped (visible) windows whose name matches, waiting until
    // there is one; empty after the time-out.
    std::vector<std::string> WaitForWindow(
        const std::string& pattern, std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;

private:
    TempDir tmp_{"xvfb-test-"};
    pid_t pid_ = -1;
    std::string name_;
};

// Waits until the process has used (next to) no CPU for quietMs: it waits
// in its event loop for the user. False when it did not settle in time or
// has ended.
bool WaitUntilIdle(pid_t pid, std::chrono::milliseconds timeout = std::chrono::seconds(20), int quietMs = 300);

} // namespace tests::support
