// The browser, program start and "open" on Windows: the command registered
// for HTML documents, CreateProcess with a wait, and ShellExecute. Texts are
// UTF-8 here and UTF-16 for the system.
#include "platform/process/Browser.h"
#include "platform/wintext/WindowsText.h"

#include <windows.h>

#include <shellapi.h>

namespace platform::process {

namespace {

using wintext::Utf8;
using wintext::Wide;

// The default value of this key is the command that opens an HTML document.
constexpr const wchar_t* kBrowserCommandKey = L"htmlfile\\shell\\open\\command";
// A registered command is a path and a few options; a value beyond this is
// not one and is not read.
constexpr DWORD kMaxCommandBytes = 32 * 1024;

class RegistryKey {
public:
    RegistryKey(HKEY root, const wchar_t* path) {
        if (::RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE, &key_) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~RegistryKey() {
        if (key_ != nullptr)
            ::RegCloseKey(key_);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// The key's default value when it is a string (plain or expandable, taken
// as written, without expanding it); empty otherwise.
std::string DefaultStringValue(HKEY key) {
    // The value may change between asking for its size and reading it.
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD type = 0;
        DWORD size = 0;
        if (::RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            return {};
        if ((type != REG_SZ && type != REG_EXPAND_SZ) || size > kMaxCommandBytes)
            return {};
        std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
        DWORD got = size;
        const LONG rc = ::RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &got);
        if (rc == ERROR_MORE_DATA)
            continue;
        if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
            return {};
        // A stored string need not end with its terminating zero, or may
        // carry more than one.
        value.resize(got / sizeof(wchar_t));
        const auto end = value.find(L'\0');
        if (end != std::wstring::npos)
            value.resize(end);
        return Utf8(value);
    }
    return {};
}

// One argument as the C run-time of the started program splits it back:
// blanks and quotes are quoted, backslashes doubled only where they stand
// before a quote.
std::string QuotedArgument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos)
        return arg;
    std::string out = "\"";
    for (std::size_t i = 0;; ++i) {
        std::size_t backslashes = 0;
        while (i < arg.size() && arg[i] == '\\') {
            ++i;
            ++backslashes;
        }
        if (i == arg.size()) {
            out.append(backslashes * 2, '\\');
            break;
        }
        if (arg[i] == '"') {
            out.append(backslashes * 2 + 1, '\\');
        } else {
            out.append(backslashes, '\\');
        }
        out.push_back(arg[i]);
    }
    out.push_back('"');
    return out;
}

// The handles of a started process, closed in the order thread, process.
struct ProcessHandles {
    PROCESS_INFORMATION info{};
    ~ProcessHandles() {
        if (info.hThread != nullptr)
            ::CloseHandle(info.hThread);
        if (info.hProcess != nullptr)
            ::CloseHandle(info.hProcess);
    }
};

} // namespace

std::string RegisteredBrowserCommand() {
    RegistryKey key(HKEY_CLASSES_ROOT, kBrowserCommandKey);
    if (key.get() == nullptr)
        return {};
    return DefaultStringValue(key.get());
}

RunResult RunAndWait(const std::string& program, const std::vector<std::string>& args) {
    RunResult result;
    // The program is named on its own, so exactly that file runs: a path
    // with blanks is never tried piece by piece ("C:\Program.exe" first).
    // Its name is quoted without escapes, as the run-time reads argument 0.
    std::string commandLine(1, '"');
    commandLine += program;
    commandLine += '"';
    for (const auto& a : args) {
        commandLine += ' ';
        commandLine += QuotedArgument(a);
    }
    // CreateProcess may write into the command line it is given.
    const std::wstring wideLine = Wide(commandLine);
    std::vector<wchar_t> mutableLine(wideLine.begin(), wideLine.end());
    mutableLine.push_back(L'\0');

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    ProcessHandles handles;
    if (!::CreateProcessW(Wide(program).c_str(), mutableLine.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
            nullptr, nullptr, &startup, &handles.info)) {
        result.error = static_cast<int>(::GetLastError());
        return result;
    }
    result.started = true;
    if (::WaitForSingleObject(handles.info.hProcess, INFINITE) != WAIT_OBJECT_0) {
        result.error = static_cast<int>(::GetLastError());
        return result;
    }
    DWORD code = 0;
    if (!::GetExitCodeProcess(handles.info.hProcess, &code)) {
        result.error = static_cast<int>(::GetLastError());
        return result;
    }
    result.exited = true;
    result.exitCode = static_cast<int>(code);
    return result;
}

bool IsExistingFile(const std::string& path) {
    if (path.empty())
        return false;
    const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void ShellOpen(const std::string& path) {
    // Whatever the associated program does, and whether there is one, is
    // not examined.
    ::ShellExecuteW(nullptr, L"open", Wide(path).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

} // namespace platform::process
