#include "platform/files/FileOps.h"
#include "transfer/core/SaveDownload.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace pf = platform::files;
using tests::support::ListTree;
using tests::support::ReadFile;
using tests::support::TempDir;
using tests::support::WriteFile;
using Tree = std::set<std::string>;

namespace {

// Old contents of a target directory: files, a hidden file, a sub-directory.
void Populate(const TempDir& d) {
    WriteFile(d.path() / "old1.zip", "old one");
    WriteFile(d.path() / "EVMAJ_SETUP.ZIP", "previous version");
    WriteFile(d.path() / ".hidden", "h");
    WriteFile(d.path() / "noextension", "n");
    std::filesystem::create_directory(d.path() / "sub");
    WriteFile(d.path() / "sub" / "keep.txt", "kept");
}

const Tree kPopulated = {"old1.zip", "EVMAJ_SETUP.ZIP", ".hidden", "noextension", "sub/", "sub/keep.txt"};

transfer::SaveResult Save(const std::string& dir, const std::string& name, const std::string& bytes) {
    return transfer::SaveReplacingDirectory(dir, name, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

} // namespace

TEST(DeleteFilesMatching, DeletesFilesKeepsDirectoriesAndTheirContents) {
    TempDir d;
    Populate(d);
    EXPECT_EQ(pf::DeleteFilesMatching(d.prefix()), 4u);
    EXPECT_EQ(ListTree(d.path()), (Tree{"sub/", "sub/keep.txt"}));
}

TEST(DeleteFilesMatching, WithoutTrailingSeparatorMatchesNamesInTheParent) {
    TempDir d;
    std::filesystem::create_directory(d.path() / "tgt");
    WriteFile(d.path() / "tgt" / "inside", "i");
    WriteFile(d.path() / "tgtA.txt", "a");
    WriteFile(d.path() / "tgt.log", "b");
    WriteFile(d.path() / "other", "c");
    EXPECT_EQ(pf::DeleteFilesMatching((d.path() / "tgt").string()), 2u);
    EXPECT_EQ(ListTree(d.path()), (Tree{"tgt/", "tgt/inside", "other"}));
}

TEST(DeleteFilesMatching, SkipsTheNamedFileAndToleratesMissingDirectory) {
    TempDir d;
    Populate(d);
    const std::string keep = d.prefix() + "old1.zip";
    pf::DeleteFilesMatching(d.prefix(), keep);
    EXPECT_EQ(ListTree(d.path()), (Tree{"old1.zip", "sub/", "sub/keep.txt"}));
    EXPECT_EQ(pf::DeleteFilesMatching(d.prefix() + "missing/"), 0u);
}

TEST(DirectoryOf, SplitsAtTheLastSlash) {
    EXPECT_EQ(pf::DirectoryOf("/a/b/c"), "/a/b/");
    EXPECT_EQ(pf::DirectoryOf("/a/b/"), "/a/b/");
    EXPECT_EQ(pf::DirectoryOf("c"), "./");
    EXPECT_EQ(pf::DirectoryOf("/c"), "/");
}

TEST(SaveReplacingDirectory, ReplacesEveryFileAndKeepsSubdirectories) {
    TempDir d;
    Populate(d);
    std::string body;
    for (int i = 0; i < 100000; ++i)
        body.push_back(static_cast<char>(i * 7));
    auto r = Save(d.prefix(), "EVMAJ_SETUP.ZIP", body);
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_EQ(ListTree(d.path()), (Tree{"EVMAJ_SETUP.ZIP", "sub/", "sub/keep.txt"}));
    EXPECT_TRUE(ReadFile(d.path() / "EVMAJ_SETUP.ZIP") == body) << "saved bytes differ";
}

TEST(SaveReplacingDirectory, SavesAnEmptyFile) {
    TempDir d;
    Populate(d);
    auto r = Save(d.prefix(), "DOKUMENTACE.PDF", "");
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_EQ(ListTree(d.path()), (Tree{"DOKUMENTACE.PDF", "sub/", "sub/keep.txt"}));
    EXPECT_EQ(std::filesystem::file_size(d.path() / "DOKUMENTACE.PDF"), 0u);
}

TEST(SaveReplacingDirectory, FailuresLeaveTheDirectoryAsItWas) {
    struct Case {
        std::string dirSuffix;
        std::string name;
    };
    const std::vector<Case> cases = {
        {"missing/", "EVMAJ_SETUP.ZIP"}, // target directory does not exist
        {"", "sub"},                     // the name is a sub-directory
        {"", ""},                        // no name at all
    };
    for (const auto& c : cases) {
        TempDir d;
        Populate(d);
        auto r = Save(d.prefix() + c.dirSuffix, c.name, "new bytes");
        EXPECT_FALSE(r.Ok) << c.dirSuffix << c.name;
        EXPECT_FALSE(r.Error.empty());
        EXPECT_EQ(ListTree(d.path()), kPopulated) << c.dirSuffix << c.name;
    }
}

TEST(SaveReplacingDirectory, WriteFailingMidwayKeepsTheOldFiles) {
    TempDir d;
    Populate(d);
    // The child may write at most 64 KiB per file; the download is larger.
    const int code = tests::support::RunInChild([&]() -> int {
        // The default action of SIGXFSZ is in force: the save must still
        // end as a reported failure rather than a killed process.
        std::signal(SIGXFSZ, SIG_DFL);
        rlimit lim{65536, 65536};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        const std::string body(200000, 'x');
        auto r = Save(d.prefix(), "EVMAJ_SETUP.ZIP", body);
        return r.Ok ? 0 : (r.Error.empty() ? 2 : 1);
    });
    ASSERT_GE(code, 0) << "killed by signal " << -code;
    EXPECT_EQ(code, 1) << "the save must fail with a reason";
    EXPECT_EQ(ListTree(d.path()), kPopulated);
    EXPECT_EQ(ReadFile(d.path() / "EVMAJ_SETUP.ZIP"), "previous version");
}

TEST(WriteNewTempFile, WritesCompleteFileThatRenamesIntoPlace) {
    TempDir d;
    std::string temp, err;
    const std::string bytes = "abc";
    ASSERT_TRUE(pf::WriteNewTempFile(d.prefix(), reinterpret_cast<const uint8_t*>(bytes.data()), 3, temp, err));
    EXPECT_EQ(pf::DirectoryOf(temp), d.prefix());
    EXPECT_EQ(ReadFile(temp), "abc");
    ASSERT_TRUE(pf::ReplaceFile(temp, d.prefix() + "final", err)) << err;
    EXPECT_FALSE(pf::FileExists(temp));
    EXPECT_EQ(ReadFile(d.path() / "final"), "abc");
    EXPECT_FALSE(pf::ReplaceFile(d.prefix() + "nope", d.prefix() + "x", err));
    EXPECT_FALSE(err.empty());
}
