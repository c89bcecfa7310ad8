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
        EXPECT_EQ(platform::WritePrivateProfileString(w.section, w.key, w.value, name), w.accepted)
            << "[" << w.section << "] " << w.key << "=" << w.value;
    }
    for (const auto& r : c.texts) {
        EXPECT_EQ(platform::GetPrivateProfileString(r.section, r.key, r.def, name), r.expected)
            << "[" << r.section << "] " << r.key;
    }
    for (const auto& r : c.ints) {
        EXPECT_EQ(platform::GetPrivateProfileInt(r.section, r.key, r.def, name), r.expected)
            << "[" << r.section << "] " << r.key;
    }
    if (c.lines) {
        if (c.lines->empty()) {
            EXPECT_FALSE(std::filesystem::exists(path));
        } else {
            ASSERT_TRUE(platform::FileExists(path));
            EXPECT_EQ(ContentLines(crosstest::ReadBytes(path)), *c.lines);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, SharedProfileCases, ::testing::ValuesIn(profile_cases::AllCases()),
                         [](const ::testing::TestParamInfo<Case>& p) { return p.param.name; });

TEST(SharedProfileRules, FileExistsOnlyForFiles) {
    crosstest::ScratchDir dir;
    const std::string ini = dir.file("Halvorne.INI");
    EXPECT_FALSE(platform::FileExists(ini));
    EXPECT_FALSE(platform::FileExists(dir.path().string()));
    EXPECT_FALSE(platform::FileExists(""));
    crosstest::WriteBytes(ini, "");
    EXPECT_TRUE(platform::FileExists(ini));
}

#ifdef _WIN32
// platform::GetPrivateProfileInt reads the text and judges it by the
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
        ASSERT_TRUE(platform::WritePrivateProfileString("S", "v", t.text, ini));
        EXPECT_EQ(platform::GetPrivateProfileInt("S", "v", -99, ini), t.value) << t.text;
        EXPECT_EQ(static_cast<int>(::GetPrivateProfileIntW(L"S", L"v", -99, wideIni.c_str())), t.value) << t.text;
    }
    EXPECT_GT(integers, 10);
    // Where they part: a number followed by more, and a word.
    ASSERT_TRUE(platform::WritePrivateProfileString("S", "v", "12abc", ini));
    EXPECT_EQ(static_cast<int>(::GetPrivateProfileIntW(L"S", L"v", -99, wideIni.c_str())), 12);
    EXPECT_EQ(platform::GetPrivateProfileInt("S", "v", -99, ini), -99);
}
#endif

} // namespace
