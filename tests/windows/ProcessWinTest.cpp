// The browser lookup, program start and "open" on Windows, against entries
// this test writes into the registry (and puts back afterwards) and a
// stand-in browser, argv_probe.exe, that reports the arguments it got.
#include "ScratchDir.h"
#include "WindowsHelpers.h"

#include "platform/process/Browser.h"
#include "transfer/core/BrowserCommand.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using platform::process::RunAndWait;

const wchar_t* const kCommandKey = L"htmlfile\\shell\\open\\command";

std::wstring Wide(const std::string& utf8) {
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string Utf8(const std::wstring& wide) {
    const int n =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// "text" (built so, not as "\"" + text: GCC 12 warns wrongly about that).
std::string Quoted(const std::string& text) {
    std::string out(1, '"');
    out += text;
    out += '"';
    return out;
}

// The default value of a key under HKEY_CLASSES_ROOT as it was before the
// test; put back (or the key removed again) when the test ends.
class SavedClassesValue {
public:
    explicit SavedClassesValue(const wchar_t* key) : key_(key) {
        HKEY h = nullptr;
        if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, key, 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS)
            return;
        DWORD size = 0;
        if (::RegQueryValueExW(h, nullptr, nullptr, &type_, nullptr, &size) == ERROR_SUCCESS) {
            data_.assign(size, 0);
            ::RegQueryValueExW(h, nullptr, nullptr, &type_, data_.data(), &size);
            existed_ = true;
        }
        ::RegCloseKey(h);
    }
    ~SavedClassesValue() {
        if (existed_) {
            Set(type_, data_);
        } else {
            HKEY h = nullptr;
            if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, key_, 0, KEY_SET_VALUE, &h) == ERROR_SUCCESS) {
                ::RegDeleteValueW(h, nullptr);
                ::RegCloseKey(h);
            }
        }
    }
    SavedClassesValue(const SavedClassesValue&) = delete;
    SavedClassesValue& operator=(const SavedClassesValue&) = delete;

    void Set(DWORD type, const std::vector<BYTE>& data) const {
        HKEY h = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CLASSES_ROOT, key_, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h, nullptr),
            ERROR_SUCCESS);
        ::RegSetValueExW(h, nullptr, 0, type, data.data(), static_cast<DWORD>(data.size()));
        ::RegCloseKey(h);
    }
    void SetString(const std::string& utf8, DWORD type = REG_SZ) const {
        const std::wstring w = Wide(utf8);
        const auto* bytes = reinterpret_cast<const BYTE*>(w.c_str());
        Set(type, std::vector<BYTE>(bytes, bytes + (w.size() + 1) * sizeof(wchar_t)));
    }
    void Remove() const {
        HKEY h = nullptr;
        if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, key_, 0, KEY_SET_VALUE, &h) == ERROR_SUCCESS) {
            ::RegDeleteValueW(h, nullptr);
            ::RegCloseKey(h);
        }
    }

private:
    const wchar_t* key_;
    bool existed_ = false;
    DWORD type_ = 0;
    std::vector<BYTE> data_;
};

// The probe's environment for the programs this process starts.
void ProbeSetting(const wchar_t* name, const std::wstring& value) { ::SetEnvironmentVariableW(name, value.c_str()); }

std::wstring Probe() { return wintest::BesideThisProgram("argv_probe.exe"); }

// The arguments a probe run wrote; none when it wrote nothing (yet: a file
// that cannot be opened this moment counts as not written).
std::optional<std::vector<std::string>> ProbeRecords(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> args;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t colon = bytes.find(':', at);
        const std::size_t length = std::stoul(bytes.substr(at, colon - at));
        args.push_back(bytes.substr(colon + 1, length));
        at = colon + 1 + length + 1;
    }
    return args;
}

class ProcessWin : public ::testing::Test {
protected:
    void SetUp() override {
        out_ = dir_.path() / "probe-out.txt";
        ProbeSetting(L"HALVORNE_PROBE_OUT", out_.wstring());
        ProbeSetting(L"HALVORNE_PROBE_EXIT", L"0");
        ProbeSetting(L"HALVORNE_PROBE_SLEEP_MS", L"0");
    }
    void TearDown() override {
        for (const wchar_t* name : {L"HALVORNE_PROBE_OUT", L"HALVORNE_PROBE_EXIT", L"HALVORNE_PROBE_SLEEP_MS"})
            ::SetEnvironmentVariableW(name, nullptr);
    }
    // A copy of the probe at relative (in the scratch directory).
    std::string ProbeCopy(const std::string& relative) {
        const fs::path target = dir_.path() / fs::u8path(relative);
        fs::create_directories(target.parent_path());
        fs::copy_file(Probe(), target, fs::copy_options::overwrite_existing);
        return Utf8(target.wstring());
    }

    crosstest::ScratchDir dir_;
    fs::path out_;
};

// ---- the registered browser -------------------------------------------------------

TEST_F(ProcessWin, RegisteredCommandIsTheDefaultValueAsWritten) {
    SavedClassesValue saved(kCommandKey);
    const std::string commands[] = {
        "\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" -nohome",
        "\"C:\\Program Files\\Web\\web.exe\" --new-window \"%1\"",
        "C:\\web.exe %1",
        "\"C:\\Programy\\Prohlížeč\\web.exe\" %1",
    };
    for (const auto& command : commands) {
        saved.SetString(command);
        EXPECT_EQ(platform::process::RegisteredBrowserCommand(), command);
    }
    // An expandable string is taken as written, not expanded.
    saved.SetString("\"%ProgramFiles%\\Web\\web.exe\" %1", REG_EXPAND_SZ);
    EXPECT_EQ(platform::process::RegisteredBrowserCommand(), "\"%ProgramFiles%\\Web\\web.exe\" %1");
    EXPECT_EQ(transfer::BrowserPathFromCommand(platform::process::RegisteredBrowserCommand()),
        "%ProgramFiles%\\Web\\web.exe");
    // A value of another kind, or none, is no browser.
    const DWORD number = 1;
    saved.Set(REG_DWORD, std::vector<BYTE>(reinterpret_cast<const BYTE*>(&number),
                             reinterpret_cast<const BYTE*>(&number) + sizeof number));
    EXPECT_EQ(platform::process::RegisteredBrowserCommand(), "");
    saved.Remove();
    EXPECT_EQ(platform::process::RegisteredBrowserCommand(), "");
}

TEST_F(ProcessWin, TheRegisteredBrowserGetsTheAddressAndIsWaitedFor) {
    SavedClassesValue saved(kCommandKey);
    const std::string browser = ProbeCopy("Program Files\\Web Browser\\web browser.exe");
    saved.SetString(Quoted(browser) + " -nohome \"%1\"");
    const std::string path = transfer::BrowserPathFromCommand(platform::process::RegisteredBrowserCommand());
    EXPECT_EQ(path, browser);
    ProbeSetting(L"HALVORNE_PROBE_SLEEP_MS", L"500");
    const auto start = std::chrono::steady_clock::now();
    const auto run = RunAndWait(path, {"http://127.0.0.1:18080/halvorne/zmeny.html"});
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(run.started);
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(waited).count(), 450);
    EXPECT_EQ(ProbeRecords(out_), (std::vector<std::string>{"http://127.0.0.1:18080/halvorne/zmeny.html"}));
}

// ---- starting a program and waiting for it ------------------------------------------

TEST_F(ProcessWin, ExitCodesComeBackWhole) {
    const std::string probe = Utf8(Probe());
    for (const auto& [setting, expected] :
        {std::pair<const wchar_t*, int>{L"0", 0}, {L"1", 1}, {L"2", 2}, {L"0xFFFFFFFF", -1}, {L"259", 259}}) {
        ProbeSetting(L"HALVORNE_PROBE_EXIT", setting);
        const auto run = RunAndWait(probe, {});
        EXPECT_TRUE(run.started && run.exited);
        EXPECT_EQ(run.exitCode, expected);
    }
}

TEST_F(ProcessWin, EachArgumentArrivesWholeAndUnchanged) {
    // A seeded campaign of awkward arguments: blanks, quotes, backslashes
    // (also before a quote and at the end), empty ones and Czech letters.
    const std::vector<std::string> pieces{" ", "\t", "\"", "\\", "\\\\", "\\\"", "a", "b c", "%1", "&|<>^", "ěščř",
        "C:\\Program Files\\", "http://x/?a=1&b=2#c", "'"};
    std::mt19937 rng(20240315);
    const std::string probe = Utf8(Probe());
    for (int round = 0; round < 12; ++round) {
        std::vector<std::string> args;
        const int count = static_cast<int>(rng() % 4) + 1;
        for (int i = 0; i < count; ++i) {
            std::string arg;
            const int parts = static_cast<int>(rng() % 5);
            for (int p = 0; p < parts; ++p)
                arg += pieces[rng() % pieces.size()];
            args.push_back(arg);
        }
        fs::remove(out_);
        const auto run = RunAndWait(probe, args);
        ASSERT_TRUE(run.started) << run.error;
        EXPECT_EQ(ProbeRecords(out_), args) << "round " << round;
    }
}

TEST_F(ProcessWin, ExactlyTheNamedProgramRunsEvenWithBlanksInItsPath) {
    // Windows, given the path without quotes and without the program's own
    // name, would try "...\Web.exe" first; this one must not run.
    ProbeCopy("Web.exe");
    const std::string browser = ProbeCopy("Web Browser\\browser.exe");
    ProbeSetting(L"HALVORNE_PROBE_EXIT", L"7");
    const auto run = RunAndWait(browser, {"addr ess"});
    EXPECT_TRUE(run.started && run.exited);
    EXPECT_EQ(run.exitCode, 7);
    EXPECT_EQ(ProbeRecords(out_), (std::vector<std::string>{"addr ess"}));
}

TEST_F(ProcessWin, AProgramThatIsNotThereDoesNotStart) {
    const auto run = RunAndWait(Utf8((dir_.path() / "missing.exe").wstring()), {"x"});
    EXPECT_FALSE(run.started);
    EXPECT_FALSE(run.exited);
    EXPECT_EQ(run.error, static_cast<int>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(fs::exists(out_));
}

// ---- files and "open" -------------------------------------------------------------

TEST_F(ProcessWin, ExistingFilesOnly) {
    const std::string file = dir_.file("zmeny.html");
    crosstest::WriteBytes(file, "<html></html>");
    EXPECT_TRUE(platform::process::IsExistingFile(file));
    EXPECT_FALSE(platform::process::IsExistingFile(dir_.path().string()));
    EXPECT_FALSE(platform::process::IsExistingFile(dir_.file("missing.html")));
    EXPECT_FALSE(platform::process::IsExistingFile(""));
    EXPECT_FALSE(platform::process::IsExistingFile("http://127.0.0.1/zmeny.html"));
}

TEST_F(ProcessWin, OpenStartsTheAssociatedProgramWithoutWaiting) {
    // A file kind of our own, opened by the probe.
    SavedClassesValue extension(L".halvornetest");
    SavedClassesValue command(L"Halvorne.TestFile\\shell\\open\\command");
    extension.SetString("Halvorne.TestFile");
    command.SetString(Quoted(Utf8(Probe())) + " \"%1\"");
    const fs::path path = dir_.path() / L"změny verze.halvornetest";
    crosstest::WriteBytes(path, "x");
    const std::string file = Utf8(path.wstring());
    ProbeSetting(L"HALVORNE_PROBE_SLEEP_MS", L"1500");

    const auto start = std::chrono::steady_clock::now();
    platform::process::ShellOpen(file);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1200));
    std::optional<std::vector<std::string>> records;
    for (int i = 0; i < 200 && !(records = ProbeRecords(out_)); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(records.has_value()) << "the associated program did not run";
    EXPECT_EQ(*records, std::vector<std::string>{file});
}

TEST_F(ProcessWin, OpenOfAMissingFileDoesNothing) {
    platform::process::ShellOpen(dir_.file("missing.halvornetest"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(fs::exists(out_));
}

} // namespace
