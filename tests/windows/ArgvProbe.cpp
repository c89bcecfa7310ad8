// argv_probe.exe: a stand-in browser for the Windows process tests. Writes
// the arguments it received (as the C run-time split its command line) to
// the file named by HALVORNE_PROBE_OUT, one "<length>:<UTF-8 bytes>" record
// per line, after sleeping HALVORNE_PROBE_SLEEP_MS; then ends with exit code
// HALVORNE_PROBE_EXIT (0 when unset).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string Utf8(const wchar_t* text) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? static_cast<std::size_t>(n) : 1u, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

unsigned long Number(const wchar_t* variable) {
    const wchar_t* value = _wgetenv(variable);
    return value != nullptr ? std::wcstoul(value, nullptr, 0) : 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    ::Sleep(Number(L"HALVORNE_PROBE_SLEEP_MS"));
    const wchar_t* out = _wgetenv(L"HALVORNE_PROBE_OUT");
    if (out != nullptr) {
        std::string records;
        for (int i = 1; i < argc; ++i) {
            const std::string arg = Utf8(argv[i]);
            records += std::to_string(arg.size()) + ":" + arg + "\n";
        }
        // Written under another name and renamed, so a reader never sees
        // half of it.
        const std::wstring part = std::wstring(out) + L".part";
        if (FILE* f = _wfopen(part.c_str(), L"wb")) {
            std::fwrite(records.data(), 1, records.size(), f);
            std::fclose(f);
            ::MoveFileExW(part.c_str(), out, MOVEFILE_REPLACE_EXISTING);
        }
    }
    return static_cast<int>(Number(L"HALVORNE_PROBE_EXIT"));
}
