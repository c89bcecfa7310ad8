#pragma once
// Child processes of the serial benchmarks: VELTRIX, lrzsz and socat,
// started in a folder and reaped with their CPU time.
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace benchproc {

inline double NowS() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Child {
    pid_t pid = -1;
    double end = 0;
    double cpu = 0;
    int status = -1;
};

// Starts argv in dir; with stdioFd >= 0 that descriptor is its stdin and
// stdout (lrzsz talks over them), else they are /dev/null. COM1 is com1,
// COM2 nothing. Everything the child needs is built before the fork, so it
// is safe while other threads (the relay) run.
inline Child Spawn(const std::vector<std::string>& argv, const std::string& dir, int stdioFd,
    const std::string& com1 = "/nonexistent/bench-com1") {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (entry.rfind("VELTRIX_COM1=", 0) != 0 && entry.rfind("VELTRIX_COM2=", 0) != 0)
            env.push_back(entry);
    }
    env.push_back("VELTRIX_COM1=" + com1);
    env.push_back("VELTRIX_COM2=/nonexistent/bench-com2");
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    // execvpe is not async-signal-safe either; look the program up now.
    std::string program = argv[0];
    if (program.find('/') == std::string::npos) {
        for (const char* dirs : {"/usr/local/bin", "/usr/bin", "/bin"}) {
            const std::string candidate = std::string(dirs) + "/" + program;
            if (access(candidate.c_str(), X_OK) == 0) {
                program = candidate;
                break;
            }
        }
    }

    Child c;
    c.pid = fork();
    if (c.pid == 0) {
        const int devnull = open("/dev/null", O_RDWR);
        dup2(stdioFd >= 0 ? stdioFd : devnull, STDIN_FILENO);
        dup2(stdioFd >= 0 ? stdioFd : devnull, STDOUT_FILENO);
        dup2(devnull, STDERR_FILENO);
        if (chdir(dir.c_str()) != 0)
            _exit(127);
        execve(program.c_str(), args.data(), envp.data());
        _exit(127);
    }
    return c;
}

// Waits for the child; one that hangs is killed after limitS (status -1).
inline void Reap(Child& c, double limitS = 150) {
    rusage ru{};
    int status = 0;
    const double deadline = NowS() + limitS;
    while (wait4(c.pid, &status, WNOHANG, &ru) != c.pid) {
        if (NowS() > deadline)
            kill(c.pid, SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    c.end = NowS();
    c.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    c.cpu = ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

inline std::vector<char> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace benchproc
