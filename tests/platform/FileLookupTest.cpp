// Finding a file as the Windows file system finds it, ignoring the case of
// its name: checked against a plain model (list everything, keep the
// regular files that match, take the first in byte order) over generated
// directories full of near misses.
#include "platform/files/FileOps.h"
#include "tests/support/TempDir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool SameIgnoringAsciiCase(const std::string& a, const std::string& b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

std::string Expected(const fs::path& dir, const std::string& name) {
    std::error_code ec;
    if (fs::is_regular_file(dir / name, ec))
        return (dir / name).string();
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string entryName = entry.path().filename().string();
        if (SameIgnoringAsciiCase(entryName, name) && fs::is_regular_file(entry.path(), ec))
            files.push_back(entryName);
    }
    if (files.empty())
        return {};
    return (dir / *std::min_element(files.begin(), files.end())).string();
}

// name with each ASCII letter in a random case.
std::string RandomCase(const std::string& name, std::mt19937& rng) {
    std::string out = name;
    for (char& c : out) {
        if (rng() % 2 == 0)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        else
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

// A new file; an entry already there (a pipe would block the writer) stays.
void Touch(const fs::path& path) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(path, ec)))
        std::ofstream(path) << "x";
}

TEST(FileLookup, FindsWhatAPlainListingFindsInGeneratedDirectories) {
    const std::vector<std::string> names = {"MIRASTE.ICO", "a", "Verze.TXT"};
    int found = 0;
    int missing = 0;
    for (unsigned seed = 1; seed <= 150; ++seed) {
        std::mt19937 rng(seed);
        tests::support::TempDir tmp;
        const fs::path dir = tmp.path();
        const std::string name = names[seed % names.size()];
        const int entries = static_cast<int>(rng() % 12);
        for (int i = 0; i < entries; ++i) {
            std::string entry = RandomCase(name, rng);
            std::error_code ec;
            switch (rng() % 8) {
            case 0: // a name one letter longer or shorter: never a match
                entry = rng() % 2 ? entry + "X" : entry.substr(1);
                Touch(dir / entry);
                break;
            case 1: // a directory is not a file
                fs::create_directory(dir / entry, ec);
                break;
            case 2: // a link to a file counts as the file
                Touch(dir / ("target" + std::to_string(i)));
                fs::create_symlink("target" + std::to_string(i), dir / entry, ec);
                break;
            case 3: // a link to nothing does not
                fs::create_symlink("nowhere" + std::to_string(i), dir / entry, ec);
                break;
            case 4: // a pipe is no regular file
                ::mkfifo((dir / entry).c_str(), 0600);
                break;
            case 5: // a letter beyond ASCII that some case rules fold onto
                // an ASCII one
                Touch(dir / ("\xC5\xBF" + entry.substr(1)));
                break;
            default: Touch(dir / entry); break;
            }
        }
        const std::string want = Expected(dir, name);
        (want.empty() ? missing : found)++;
        EXPECT_EQ(platform::files::FindFileIgnoringCase(dir.string(), name), want) << "seed " << seed;
        EXPECT_EQ(platform::files::FindFileIgnoringCase(dir.string() + "/", name), want) << "seed " << seed;
    }
    // Both outcomes occur often enough for the comparison to mean something.
    EXPECT_GT(found, 30);
    EXPECT_GT(missing, 10);
}

TEST(FileLookup, TheCurrentDirectoryAndNamesThatCannotBeThere) {
    tests::support::TempDir tmp;
    Touch(tmp.path() / "miraste.ico");
    const fs::path previous = fs::current_path();
    fs::current_path(tmp.path());
    EXPECT_EQ(platform::files::FindFileIgnoringCase("", "MIRASTE.ICO"), "miraste.ico");
    EXPECT_EQ(platform::files::FindFileIgnoringCase(".", "Miraste.Ico"), "./miraste.ico");
    fs::current_path(previous);
    EXPECT_EQ(platform::files::FindFileIgnoringCase(tmp.path().string(), ""), "");
    EXPECT_EQ(platform::files::FindFileIgnoringCase(tmp.path().string(), "../miraste.ico"), "");
    EXPECT_EQ(platform::files::FindFileIgnoringCase((tmp.path() / "absent").string(), "miraste.ico"), "");
}

} // namespace
