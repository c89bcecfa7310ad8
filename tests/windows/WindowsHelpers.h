// Small helpers for the Windows test programs: running a program the way a
// Windows caller does, finding files beside the test program, and telling
// whether the tests run under wine.
#pragma once

#ifndef _WIN32
#error "WindowsHelpers.h is for the Windows test programs"
#endif

#include <windows.h>

#include <string>
#include <vector>

namespace wintest {

struct ProgramRun {
    bool started = false;
    DWORD exitCode = 0;
    std::string output; // standard output and standard error, as bytes
};

// A handle closed on every path.
struct Handle {
    HANDLE h = nullptr;
    Handle() = default;
    explicit Handle(HANDLE handle) : h(handle) {}
    ~Handle() {
        if (h != nullptr && h != INVALID_HANDLE_VALUE)
            ::CloseHandle(h);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

// Runs program with the command line "program" + " " + arguments (as typed
// at a Windows prompt), in directory, and waits for its end.
inline ProgramRun RunProgram(
    const std::wstring& program, const std::string& arguments, const std::wstring& directory = {}) {
    ProgramRun run;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return run;
    Handle reader(readEnd);
    Handle writer(writeEnd);
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    std::wstring line = L"\"" + program + L"\"";
    if (!arguments.empty())
        line += L" " + std::wstring(arguments.begin(), arguments.end());
    std::vector<wchar_t> mutableLine(line.begin(), line.end());
    mutableLine.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(program.c_str(), mutableLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
            directory.empty() ? nullptr : directory.c_str(), &startup, &info))
        return run;
    run.started = true;
    Handle process(info.hProcess);
    Handle thread(info.hThread);
    ::CloseHandle(writer.h);
    writer.h = nullptr;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(reader.h, buffer, sizeof buffer, &got, nullptr) && got > 0)
        run.output.append(buffer, got);
    ::WaitForSingleObject(process.h, INFINITE);
    ::GetExitCodeProcess(process.h, &run.exitCode);
    return run;
}

// A program started and not yet waited for; its output goes nowhere.
class StartedProgram {
public:
    StartedProgram(const std::wstring& program, const std::string& arguments, const std::wstring& directory) {
        std::wstring line = L"\"" + program + L"\" " + std::wstring(arguments.begin(), arguments.end());
        std::vector<wchar_t> mutableLine(line.begin(), line.end());
        mutableLine.push_back(L'\0');
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (::CreateProcessW(program.c_str(), mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                directory.c_str(), &startup, &info)) {
            process_.h = info.hProcess;
            ::CloseHandle(info.hThread);
        }
    }
    bool Started() const { return process_.h != nullptr; }
    bool Running() const { return Started() && ::WaitForSingleObject(process_.h, 0) == WAIT_TIMEOUT; }
    // Waits at most timeoutMs; the exit code, or STILL_ACTIVE.
    DWORD Wait(DWORD timeoutMs) const {
        DWORD code = STILL_ACTIVE;
        if (Started() && ::WaitForSingleObject(process_.h, timeoutMs) == WAIT_OBJECT_0)
            ::GetExitCodeProcess(process_.h, &code);
        return code;
    }
    ~StartedProgram() {
        if (Running())
            ::TerminateProcess(process_.h, 1);
    }
    StartedProgram(const StartedProgram&) = delete;
    StartedProgram& operator=(const StartedProgram&) = delete;

private:
    Handle process_;
};

// The directory of this test program, with a separator at its end.
inline std::wstring ThisProgramDirectory() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

// A file given relative to this test program's directory (as CMake knows
// where the build puts both).
inline std::wstring BesideThisProgram(const char* relative) {
    std::wstring out = ThisProgramDirectory();
    for (const char* p = relative; *p != '\0'; ++p)
        out.push_back(*p == '/' ? L'\\' : static_cast<wchar_t>(*p));
    return out;
}

// The lines of text whose lines end in CR LF.
inline std::vector<std::string> CrLfLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

// wine's ntdll has an export of its own that Windows' has not.
inline bool RunningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

} // namespace wintest
