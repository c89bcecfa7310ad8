// What the benchmarks that time a whole program against curl share: one
// child run timed with its peak memory, the load average, and the rounds'
// ratios summed up with their spread, so that a goal meant for every round
// is checked on every round and not only on the median.
#pragma once

#include "tests/support/Subprocess.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace bench::support {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

inline std::string LoadAverage() {
    std::ifstream f("/proc/loadavg");
    std::string a, b, c;
    f >> a >> b >> c;
    return a + " " + b + " " + c;
}

inline double Median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct TimedRun {
    bool ok = false;
    double seconds = 0;
    long peakKiB = 0;
    std::string note; // why it failed
};

// A run that takes longer than this has hung: it is killed and fails.
constexpr auto kRunLimit = std::chrono::minutes(30);

// Runs argv with env added and waits; ok when it exits with wantCode.
inline TimedRun RunTimed(
    const std::vector<std::string>& argv, const std::map<std::string, std::string>& env, int wantCode) {
    TimedRun r;
    tests::support::SubprocessOptions options;
    options.env = env;
    const auto start = Clock::now();
    tests::support::Subprocess child(argv, options);
    const bool ended = child.WaitFor(kRunLimit);
    r.seconds = Seconds(start, Clock::now());
    child.Kill();
    r.peakKiB = child.PeakKb();
    r.ok = ended && child.Exited() && child.ExitCode() == wantCode;
    if (!r.ok)
        r.note = !ended ? "hung" : child.Exited() ? "exit code " + std::to_string(child.ExitCode()) : "killed";
    return r;
}

// argv run under the command in BENCH_WRAP, when set ("strace -c -f -o
// /tmp/s", "perf record -g -o /tmp/p.data"): to see where the time of a
// round goes. Times and memory are then the wrapper's too.
inline std::vector<std::string> Wrapped(std::vector<std::string> argv) {
    const char* wrap = std::getenv("BENCH_WRAP");
    if (!wrap || !*wrap)
        return argv;
    std::vector<std::string> words;
    std::istringstream in(wrap);
    for (std::string w; in >> w;)
        words.push_back(w);
    words.insert(words.end(), argv.begin(), argv.end());
    return words;
}

// The rounds of one comparison: ratio = theirs / ours, so above 1 is ours
// faster. Met when every round (not only the median) reaches the goal.
struct RatioRounds {
    std::vector<double> ours, theirs;
    long peakKiB = 0;
    bool allRan = true;

    void Add(const TimedRun& our, const TimedRun& their) {
        allRan = allRan && our.ok && their.ok;
        ours.push_back(our.seconds);
        theirs.push_back(their.seconds);
        peakKiB = std::max(peakKiB, our.peakKiB);
    }
    std::vector<double> Ratios() const {
        std::vector<double> r;
        for (std::size_t i = 0; i < ours.size(); ++i)
            r.push_back(ours[i] > 0 ? theirs[i] / ours[i] : 0);
        return r;
    }
    bool EveryRoundAtLeast(double goal) const {
        const std::vector<double> r = Ratios();
        return allRan && !r.empty() && *std::min_element(r.begin(), r.end()) >= goal;
    }

    // "<what>: ratio median M (min A, max B; rounds r1 r2 ...), goal >= G in
    // every round: ok|MISSED", then the times and the peak memory.
    bool Print(const char* what, const char* theirName, double goal, long peakGoalKiB) const {
        const std::vector<double> r = Ratios();
        const bool met = EveryRoundAtLeast(goal);
        std::printf("%s: ratio median %.3f (min %.3f, max %.3f; rounds", what, Median(r),
            r.empty() ? 0 : *std::min_element(r.begin(), r.end()),
            r.empty() ? 0 : *std::max_element(r.begin(), r.end()));
        for (double x : r)
            std::printf(" %.3f", x);
        std::printf(
            "), goal >= %.1f in every round: %s%s\n", goal, met ? "ok" : "MISSED", allRan ? "" : " [FAILED RUNS]");
        std::printf("  Halvorne median %.3f s (%.3f..%.3f), %s median %.3f s (%.3f..%.3f)\n", Median(ours),
            *std::min_element(ours.begin(), ours.end()), *std::max_element(ours.begin(), ours.end()), theirName,
            Median(theirs), *std::min_element(theirs.begin(), theirs.end()),
            *std::max_element(theirs.begin(), theirs.end()));
        const bool memoryOk = peakKiB < peakGoalKiB;
        std::printf("  Halvorne peak resident memory %.1f MiB, goal < %ld MiB: %s\n", peakKiB / 1024.0,
            peakGoalKiB / 1024, memoryOk ? "ok" : "MISSED");
        return met && memoryOk;
    }
};

} // namespace bench::support
