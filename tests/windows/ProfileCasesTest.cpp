// The shared private-profile cases (ProfileCases.h) against platform/ini:
// the POSIX files in the native build, the system's profile functions in
// the Windows build.
#include "ProfileCases.h"
#include "ScratchDir.h"

#include "platform/ini/PrivateProfile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include "WindowsHelpers.h"
#include <windows.h>
#undef GetPrivateProfileString
#undef GetPrivateProfileInt
#undef WritePrivateProfileString
#endif

namespace {

using profile_cases::Case;

// The file's lines without their ends and without empty lines.
std::vector<std::string> ContentLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::string line;
    for (char c : bytes) {
        if (c == '\n' || c == '\r') {
            if (!line.empty())
                lines.push_back(line);
            line.clear();
        } else {
            line.push_back(c);
        }
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

// A line as wine writes every line of a file it changes: blanks around a
// line and around the '=' of an entry dropped (see WineQuirk.AWriteReformats
// TheWholeFile). Windows leaves the other lines as they are.
std::string AsWineWritesIt(const std::string& line) {
    const auto trim = [](std::string t) {
        const auto b = t.find_first_not_of(" \t");
        const auto e = t.find_last_not_of(" \t");
        return b == std::string::npos ? std::string() : t.substr(b, e - b + 1);
    };
    const std::string t = trim(line);
    const auto eq = t.find('=');
    if (t.empty() || t[0] == ';' || t[0] == '[' || eq == std::string::npos)
        return t;
    return trim(t.substr(0, eq)) + "=" + trim(t.substr(eq + 1));
}

bool UnderWine() {
#ifdef _WIN32
    return wintest::RunningUnderWine();
#else
    return false;
#endif
}

// Runs the case's calls with the current directory moved into the case's
// own directory (and back), so a bare file name has one meaning.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const std::filesystem::path& dir) : saved_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~CurrentDirectory() {
        std::error_code ec;
        std::filesystem::current_path(saved_, ec);
    }
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;

private:
    std::filesystem::path saved_;
};

} // namespace

namespace profile_cases {
// Names the case in test output instead of dumping its bytes.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
} // namespace profile_cases

namespace {

class SharedProfileCases : public ::testing::TestWithParam<Case> {};

TEST_P(SharedProfileCases, ReadsAndWritesAsStated) {
    const Case& c = GetParam();
    crosstest::ScratchDir dir;
    for (const auto& d : c.directories)
        std::filesystem::create_directory(dir.path() / d);
    const std::string path = dir.file(c.file);
    if (c.before)
        crosstest::WriteBytes(path, *c.before);

    CurrentDirectory inside(dir.path());
    const std::string name = c.bareName ? c.file : path;
    for (const auto& w : c.writes) {
        EXPECT_EQ(platform::ini::WritePrivateProfileString(w.section, w.key, w.value, name), w.accepted)
            << "[" << w.section << "] " << w.key << "=" << w.value;
    }
    for (const auto& r : c.texts) {
        EXPECT_EQ(platform::ini::GetPrivateProfileString(r.section, r.key, r.def, name), r.expected)
            << "[" << r.section << "] " << r.key;
    }
    for (const auto& r : c.ints) {
        EXPECT_EQ(platform::ini::GetPrivateProfileInt(r.section, r.key, r.def, name), r.expected)
            << "[" << r.section << "] " << r.key;
    }
    if (c.lines) {
        if (c.lines->empty()) {
            EXPECT_FALSE(std::filesystem::exists(path));
        } else {
            ASSERT_TRUE(platform::ini::FileExists(path));
            std::vector<std::string> actual = ContentLines(crosstest::ReadBytes(path));
            std::vector<std::string> expected = *c.lines;
            if (UnderWine()) {
                for (auto* lines : {&actual, &expected})
                    for (auto& line : *lines)
                        line = AsWineWritesIt(line);
            }
            EXPECT_EQ(actual, expected);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, SharedProfileCases, ::testing::ValuesIn(profile_cases::AllCases()),
    [](const ::testing::TestParamInfo<Case>& p) { return p.param.name; });

TEST(SharedProfileRules, FileExistsOnlyForFiles) {
    crosstest::ScratchDir dir;
    const std::string ini = dir.file("Halvorne.INI");
    EXPECT_FALSE(platform::ini::FileExists(ini));
    EXPECT_FALSE(platform::ini::FileExists(dir.path().string()));
    EXPECT_FALSE(platform::ini::FileExists(""));
    crosstest::WriteBytes(ini, "");
    EXPECT_TRUE(platform::ini::FileExists(ini));
}

#ifdef _WIN32
// platform::ini::GetPrivateProfileInt reads the text and judges it by the
// program's own rule instead of calling GetPrivateProfileIntW, which reads
// "12abc" as 12 and "yes" as 0 where the program wants the default. On every
// text that is an integer the two must agree.
TEST(SharedProfileRules, SystemIntegerReadingAgreesOnEveryInteger) {
    crosstest::ScratchDir dir;
    const std::string ini = dir.file("Halvorne.INI");
    const std::wstring wideIni = dir.path().wstring() + L"\\Halvorne.INI";
    int integers = 0;
    for (const auto& t : profile_cases::IntegerTexts()) {
        // The system takes only a lower-case "0x" for hex; the program
        // takes both.
        if (t.value == -99 || t.text.rfind("0X", 0) == 0)
            continue;
        ++integers;
        ASSERT_TRUE(platform::ini::WritePrivateProfileString("S", "v", t.text, ini));
        EXPECT_EQ(platform::ini::GetPrivateProfileInt("S", "v", -99, ini), t.value) << t.text;
        EXPECT_EQ(static_cast<int>(::GetPrivateProfileIntW(L"S", L"v", -99, wideIni.c_str())), t.value) << t.text;
    }
    EXPECT_GT(integers, 10);
    // Where they part: a number followed by more.
    ASSERT_TRUE(platform::ini::WritePrivateProfileString("S", "v", "12abc", ini));
    EXPECT_EQ(static_cast<int>(::GetPrivateProfileIntW(L"S", L"v", -99, wideIni.c_str())), 12);
    EXPECT_EQ(platform::ini::GetPrivateProfileInt("S", "v", -99, ini), -99);
}

// Windows changes the line of the entry it writes and leaves every other
// line of the file as it was. wine writes the whole file anew from what it
// read: blanks around the lines and around '=' and the empty lines between
// sections are gone (comments stay). The shared cases compare lines as wine
// writes them when they run under wine (AsWineWritesIt). When this test
// fails, wine has learnt it and that allowance can go.
TEST(WineQuirk, AWriteReformatsTheWholeFile) {
    if (!wintest::RunningUnderWine())
        GTEST_SKIP() << "only wine does this";
    crosstest::ScratchDir dir;
    const std::string ini = dir.file("Halvorne.INI");
    crosstest::WriteBytes(ini, "[General]\r\n  Language = cs  \r\n\r\n[Proxy Server]\r\nUseProxy=0\r\n");
    ASSERT_TRUE(platform::ini::WritePrivateProfileString("Proxy Server", "UseProxy", "1", ini));
    EXPECT_EQ(crosstest::ReadBytes(ini), "[General]\r\nLanguage=cs\r\n[Proxy Server]\r\nUseProxy=1\r\n");
}
#endif

} // namespace
