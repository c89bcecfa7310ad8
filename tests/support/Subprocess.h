// A child process for a test: started with its own environment, killed with
// the test (parent-death signal) and on teardown, waited for with a time-out.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tests::support {

struct SubprocessOptions {
    // Set in the child's environment (an empty value sets it empty).
    std::map<std::string, std::string> env;
    // Runs there when not empty.
    std::string workDir;
    // Standard output and error go to this file (truncated) when not empty;
    // else standard output is captured (Output()) when captureOutput is set;
    // everything else goes to /dev/null. Standard input is /dev/null.
    std::string logFile;
    bool captureOutput = false;
    // Standard output and error are the test's own (a runner whose child's
    // report belongs in the test's output); logFile and captureOutput are
    // then ignored.
    bool inheritOutput = false;
    // Limits every file the child writes (bytes), when above 0.
    long fileSizeLimit = 0;
};

class Subprocess {
public:
    // argv[0] is looked up in PATH unless it names a file. Throws when the
    // child cannot be made.
    explicit Subprocess(const std::vector<std::string>& argv, const SubprocessOptions& options = {});
    // A child still running is killed and reaped.
    ~Subprocess();
    Subprocess(const Subprocess&) = delete;
    Subprocess& operator=(const Subprocess&) = delete;

    pid_t Pid() const { return pid_; }
    // True once the child has ended; never blocks, never kills.
    bool Finished();
    // Waits until the child ends or timeout passes; true when it ended by
    // itself.
    bool WaitFor(std::chrono::milliseconds timeout);
    // SIGKILL and reap (nothing when it has ended).
    void Kill();
    // SIGTERM, then SIGKILL when it has not ended within grace.
    void Stop(std::chrono::milliseconds grace = std::chrono::seconds(2));

    // After the end: how it ended.
    bool Exited() const { return exited_; }
    int ExitCode() const { return code_; }
    int TermSignal() const { return signal_; }
    bool KilledByUs() const { return killedByUs_; }
    // What the child wrote to standard output (captureOutput).
    std::string Output();
    // Resources of the ended child (peak memory in KiB, CPU seconds).
    long PeakKb() const { return usage_.ru_maxrss; }
    double CpuSeconds() const;
    // Wall time from the start to the end (or to now while it runs).
    std::chrono::milliseconds Elapsed() const;

private:
    bool Reap(int flags);

    pid_t pid_ = -1;
    bool ended_ = false;
    bool exited_ = false;
    int code_ = -1;
    int signal_ = 0;
    bool killedByUs_ = false;
    rusage usage_{};
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point ended_at_;
    int outFd_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::string output_;
};

// Runs body in a forked copy of the test (for limits and mounts that must
// not reach the test itself) and returns its exit code, or minus the
// signal that ended it. The copy dies with the test.
int RunInChild(const std::function<int()>& body);

} // namespace tests::support
