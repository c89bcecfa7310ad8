// Saving a download on Windows: the system's own "*.*" search empties the
// target directory, a fresh file flushed to the device replaces the target,
// and names are UTF-8 inside the program and Unicode on the disk.
#include "ScratchDir.h"

#include "platform/files/FileOps.h"
#include "platform/files/ReceivingFile.h"
#include "transfer/core/SaveDownload.h"

#include <gtest/gtest.h>

#include "WindowsHelpers.h"
#include <windows.h>

// <windows.h> maps ReplaceFile to ReplaceFileA/W by macro; the platform
// function is named in the headers above, before it.
#undef ReplaceFile

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
namespace pf = platform::files;
using Tree = std::set<std::string>;

std::string Utf8(const std::wstring& wide) {
    const int n =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// The directory as the host passes it: UTF-8, a backslash at its end.
std::string Prefix(const crosstest::ScratchDir& d) { return Utf8(d.path().wstring()) + "\\"; }

// Every entry below dir (UTF-8, '/' between levels, directories with '/').
Tree ListTree(const fs::path& dir) {
    Tree out;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) {
        std::string rel = Utf8(fs::relative(it->path(), dir).generic_wstring());
        if (it->is_directory())
            rel += "/";
        out.insert(rel);
    }
    return out;
}

void Populate(const crosstest::ScratchDir& d) {
    crosstest::WriteBytes(d.path() / "old1.zip", "old one");
    crosstest::WriteBytes(d.path() / "EVMAJ_SETUP.ZIP", "previous version");
    crosstest::WriteBytes(d.path() / ".hidden", "h");
    crosstest::WriteBytes(d.path() / "noextension", "n");
    crosstest::WriteBytes(d.path() / L"stará verze.zip", "s");
    fs::create_directory(d.path() / "sub");
    crosstest::WriteBytes(d.path() / "sub" / "keep.txt", "kept");
}

const Tree kPopulated = {
    "old1.zip", "EVMAJ_SETUP.ZIP", ".hidden", "noextension", "stará verze.zip", "sub/", "sub/keep.txt"};

transfer::SaveResult Save(const std::string& dir, const std::string& name, const std::string& bytes) {
    return transfer::SaveReplacingDirectory(dir, name, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

TEST(FilesWin, DeleteFilesMatchingDeletesFilesAndKeepsDirectories) {
    crosstest::ScratchDir d;
    Populate(d);
    EXPECT_EQ(pf::DeleteFilesMatching(Prefix(d)), 5u);
    EXPECT_EQ(ListTree(d.path()), (Tree{"sub/", "sub/keep.txt"}));
}

TEST(FilesWin, APatternWithoutSeparatorMatchesNamesInTheParent) {
    crosstest::ScratchDir d;
    fs::create_directory(d.path() / "tgt");
    crosstest::WriteBytes(d.path() / "tgt" / "inside", "i");
    crosstest::WriteBytes(d.path() / "tgtA.txt", "a");
    crosstest::WriteBytes(d.path() / "tgt.log", "b");
    crosstest::WriteBytes(d.path() / "other", "c");
    EXPECT_EQ(pf::DeleteFilesMatching(Prefix(d) + "tgt"), 2u);
    EXPECT_EQ(ListTree(d.path()), (Tree{"tgt/", "tgt/inside", "other"}));
    EXPECT_EQ(pf::DeleteFilesMatching(Prefix(d) + "missing\\"), 0u);
}

TEST(FilesWin, DirectoryOfKnowsBothSeparatorsAndDrives) {
    EXPECT_EQ(pf::DirectoryOf("C:\\a\\b\\c.zip"), "C:\\a\\b\\");
    EXPECT_EQ(pf::DirectoryOf("C:\\a\\b\\"), "C:\\a\\b\\");
    EXPECT_EQ(pf::DirectoryOf("C:/a/b"), "C:/a/");
    EXPECT_EQ(pf::DirectoryOf("C:x.zip"), "C:");
    EXPECT_EQ(pf::DirectoryOf("x.zip"), "./");
}

TEST(FilesWin, AFileIsFoundWhateverTheCaseOfItsName) {
    crosstest::ScratchDir d;
    crosstest::WriteBytes(d.path() / "miraste.ico", "i");
    fs::create_directory(d.path() / "Sub.ico");
    EXPECT_EQ(pf::FindFileIgnoringCase(Prefix(d), "MIRASTE.ICO"), Prefix(d) + "MIRASTE.ICO");
    EXPECT_TRUE(pf::FileExists(pf::FindFileIgnoringCase(Utf8(d.path().wstring()), "Miraste.Ico")));
    EXPECT_EQ(pf::FindFileIgnoringCase(Prefix(d), "sub.ico"), "") << "a directory is no file";
    EXPECT_EQ(pf::FindFileIgnoringCase(Prefix(d), "absent.ico"), "");
}

TEST(FilesWin, SaveReplacesEveryFileAndKeepsSubdirectories) {
    crosstest::ScratchDir d;
    Populate(d);
    std::string body;
    for (int i = 0; i < 100000; ++i)
        body.push_back(static_cast<char>(i * 7));
    const auto r = Save(Prefix(d), "EVMAJ_SETUP.ZIP", body);
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_EQ(ListTree(d.path()), (Tree{"EVMAJ_SETUP.ZIP", "sub/", "sub/keep.txt"}));
    EXPECT_TRUE(crosstest::ReadBytes(d.path() / "EVMAJ_SETUP.ZIP") == body) << "saved bytes differ";
}

TEST(FilesWin, SaveUnderACzechName) {
    crosstest::ScratchDir d;
    Populate(d);
    const auto r = Save(Prefix(d), "DOKUMENTACE č.1.PDF", "pdf");
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_EQ(ListTree(d.path()), (Tree{"DOKUMENTACE č.1.PDF", "sub/", "sub/keep.txt"}));
    EXPECT_EQ(crosstest::ReadBytes(d.path() / L"DOKUMENTACE č.1.PDF"), "pdf");
}

TEST(FilesWin, FailedSavesLeaveTheDirectoryAsItWas) {
    const struct {
        std::string dirSuffix;
        std::string name;
    } cases[] = {
        {"missing\\", "EVMAJ_SETUP.ZIP"}, // the target directory does not exist
        {"", "sub"},                      // the name is a sub-directory
        {"", ""},                         // no name at all
    };
    for (const auto& c : cases) {
        crosstest::ScratchDir d;
        Populate(d);
        const auto r = Save(Prefix(d) + c.dirSuffix, c.name, "new bytes");
        EXPECT_FALSE(r.Ok) << c.dirSuffix << c.name;
        EXPECT_FALSE(r.Error.empty());
        EXPECT_EQ(ListTree(d.path()), kPopulated) << c.dirSuffix << c.name;
    }
}

TEST(FilesWin, ReplacingAFileThatIsHeldOpenFailsWithTheSystemsReason) {
    crosstest::ScratchDir d;
    crosstest::WriteBytes(d.path() / "target.zip", "old");
    std::string temp;
    std::string error;
    ASSERT_TRUE(pf::WriteNewTempFile(Prefix(d), reinterpret_cast<const uint8_t*>("new"), 3, temp, error)) << error;
    EXPECT_EQ(crosstest::ReadBytes(fs::u8path(temp)), "new");
    {
        // Another program has the target open and shares nothing.
        const HANDLE held = ::CreateFileW(
            (d.path() / "target.zip").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(pf::ReplaceFile(temp, Prefix(d) + "target.zip", error));
        EXPECT_FALSE(error.empty());
        ::CloseHandle(held);
    }
    EXPECT_EQ(crosstest::ReadBytes(d.path() / "target.zip"), "old");
    EXPECT_TRUE(pf::FileExists(temp));
    ASSERT_TRUE(pf::ReplaceFile(temp, Prefix(d) + "target.zip", error)) << error;
    EXPECT_EQ(crosstest::ReadBytes(d.path() / "target.zip"), "new");
    EXPECT_FALSE(pf::FileExists(temp));
    EXPECT_TRUE(pf::RemoveFile(Prefix(d) + "target.zip"));
    EXPECT_TRUE(pf::RemoveFile(Prefix(d) + "target.zip")); // gone already: still true
    EXPECT_FALSE(pf::DirectoryExists(Prefix(d) + "target.zip"));
    EXPECT_TRUE(pf::DirectoryExists(Prefix(d)));
}

// ---- a file being received ----------------------------------------------------

std::string Bytes(std::size_t n, unsigned seed) {
    std::string out(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<char>((i * 131 + seed) % 251);
    return out;
}

TEST(ReceivingFileWin, OnlyATemporaryNameUntilCommitThenTheFileItself) {
    crosstest::ScratchDir d;
    crosstest::WriteBytes(d.path() / "EVMAJ_SETUP.ZIP", "previous version");
    pf::ReceivingFile file;
    std::string error;
    ASSERT_TRUE(file.Create(Prefix(d), error)) << error;
    EXPECT_FALSE(file.IsAnonymous()); // Windows has no nameless files
    const std::string temp = file.TemporaryPath();
    EXPECT_EQ(temp.rfind(Prefix(d) + ".halvorne-", 0), 0u) << temp;

    // Written out of order, read back, cut and grown again.
    const std::string head = Bytes(70000, 1), tail = Bytes(50000, 2);
    ASSERT_TRUE(file.WriteAt(70000, reinterpret_cast<const uint8_t*>(tail.data()), tail.size(), error)) << error;
    ASSERT_TRUE(file.WriteAt(0, reinterpret_cast<const uint8_t*>(head.data()), head.size(), error)) << error;
    std::string back(120000, '\0');
    std::size_t got = 0;
    ASSERT_TRUE(file.ReadAt(0, reinterpret_cast<uint8_t*>(back.data()), back.size(), got, error)) << error;
    EXPECT_EQ(got, back.size());
    EXPECT_TRUE(back == head + tail);
    ASSERT_TRUE(file.ReadAt(120000, reinterpret_cast<uint8_t*>(back.data()), 10, got, error)) << error;
    EXPECT_EQ(got, 0u); // the end of the file
    ASSERT_TRUE(file.Resize(100000, error)) << error;
    EXPECT_EQ(ListTree(d.path()), (Tree{"EVMAJ_SETUP.ZIP", fs::u8path(temp).filename().string()}));

    ASSERT_TRUE(file.Flush(error)) << error;
    ASSERT_TRUE(file.Commit(Prefix(d) + "EVMAJ_SETUP.ZIP", error)) << error;
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(ListTree(d.path()), Tree{"EVMAJ_SETUP.ZIP"});
    EXPECT_TRUE(crosstest::ReadBytes(d.path() / "EVMAJ_SETUP.ZIP") == (head + tail).substr(0, 100000));
}

TEST(ReceivingFileWin, AFileNeverCommittedLeavesNothing) {
    crosstest::ScratchDir d;
    std::string error;
    {
        pf::ReceivingFile dropped;
        ASSERT_TRUE(dropped.Create(Prefix(d), error)) << error;
        ASSERT_TRUE(dropped.WriteAt(0, reinterpret_cast<const uint8_t*>("abc"), 3, error)) << error;
        pf::ReceivingFile discarded;
        ASSERT_TRUE(discarded.Create(Prefix(d), error)) << error;
        discarded.Discard();
        EXPECT_FALSE(discarded.IsOpen());
        EXPECT_EQ(ListTree(d.path()).size(), 1u);
    }
    EXPECT_TRUE(ListTree(d.path()).empty());
}

TEST(ReceivingFileWin, ACommitThatFailsKeepsTheFileUncommittedAndOpen) {
    crosstest::ScratchDir d;
    crosstest::WriteBytes(d.path() / "target.zip", "old");
    pf::ReceivingFile file;
    std::string error;
    ASSERT_TRUE(file.Create(Prefix(d), error)) << error;
    ASSERT_TRUE(file.WriteAt(0, reinterpret_cast<const uint8_t*>("new"), 3, error)) << error;
    {
        // Another program has the target open and lets nobody delete it.
        wintest::Handle held(::CreateFileW((d.path() / "target.zip").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_NE(held.h, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(file.Commit(Prefix(d) + "target.zip", error));
        EXPECT_FALSE(error.empty());
    }
    EXPECT_TRUE(file.IsOpen());
    EXPECT_EQ(crosstest::ReadBytes(d.path() / "target.zip"), "old");
    file.Discard();
    EXPECT_EQ(ListTree(d.path()), Tree{"target.zip"});
}

// In a child run of this program (see below): a file received and never
// committed by a process that then ends at once, without unwinding.
TEST(ReceivingFileWin, ChildEndsAtOnceWhileReceiving) {
    const char* dir = std::getenv("HALVORNE_RECEIVE_THEN_END_IN");
    if (dir == nullptr)
        GTEST_SKIP() << "runs as a child of AProcessThatEndsAtOnceLeavesNothing";
    static pf::ReceivingFile file; // never destroyed: the process ends first
    std::string error;
    if (!file.Create(std::string(dir) + "\\", error) ||
        !file.WriteAt(0, reinterpret_cast<const uint8_t*>("partial"), 7, error))
        ::ExitProcess(2);
    ::TerminateProcess(::GetCurrentProcess(), 7);
}

TEST(ReceivingFileWin, AProcessThatEndsAtOnceLeavesNothing) {
    crosstest::ScratchDir d;
    ::SetEnvironmentVariableW(L"HALVORNE_RECEIVE_THEN_END_IN", d.path().wstring().c_str());
    std::wstring self(MAX_PATH, L'\0');
    self.resize(::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    const auto run = wintest::RunProgram(self, "--gtest_filter=ReceivingFileWin.ChildEndsAtOnceWhileReceiving");
    ::SetEnvironmentVariableW(L"HALVORNE_RECEIVE_THEN_END_IN", nullptr);
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 7u) << run.output;
    EXPECT_TRUE(ListTree(d.path()).empty());
}

} // namespace
