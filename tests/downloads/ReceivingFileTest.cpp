// Files received into the target directory: nothing of them is visible
// there before they are committed, a committed file holds exactly what was
// written, and whatever goes wrong (a full disk, a file-size limit, a
// dropped download, a process that ends at once) leaves the directory as
// it was.
#include "http/FileStream.h"
#include "http/MemoryStream.h"
#include "platform/files/FileOps.h"
#include "platform/files/ReceivingFile.h"
#include "transfer/core/SaveDownload.h"
#include "tests/support/SmallDisk.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <chrono>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace pf = platform::files;
using tests::support::ListTree;
using tests::support::ReadFile;
using tests::support::RunInChild;
using tests::support::TempDir;
using tests::support::WriteFile;
using Tree = std::set<std::string>;
using Naming = pf::ReceivingFile::Naming;

namespace {

const Naming kNamings[] = {Naming::AnonymousWherePossible, Naming::Named};

const char* NamingName(Naming n) { return n == Naming::Named ? "named" : "anonymous"; }

void Populate(const std::filesystem::path& dir) {
    WriteFile(dir / "EVMAJ_SETUP.ZIP", "previous version");
    WriteFile(dir / ".hidden", "h");
    std::filesystem::create_directory(dir / "sub");
    WriteFile(dir / "sub" / "keep.txt", "kept");
}

const Tree kPopulated = {"EVMAJ_SETUP.ZIP", ".hidden", "sub/", "sub/keep.txt"};

// What the directory holds beyond its old entries while a file is being
// received: for a named file its one hidden temporary name, else nothing.
Tree Extra(const std::filesystem::path& dir, const Tree& before) {
    Tree extra;
    for (const auto& name : ListTree(dir))
        if (!before.count(name))
            extra.insert(name);
    return extra;
}

bool IsTemporaryName(const std::string& name) {
    return name.rfind(".halvorne-", 0) == 0 && name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0;
}

void ExpectOnlyItsOwnTraces(const std::filesystem::path& dir, const Tree& before, Naming naming,
    const pf::ReceivingFile& file, const std::string& when) {
    const Tree extra = Extra(dir, before);
    if (naming == Naming::Named) {
        ASSERT_EQ(extra.size(), 1u) << when;
        EXPECT_TRUE(IsTemporaryName(*extra.begin())) << when << ": " << *extra.begin();
        EXPECT_EQ(dir.string() + "/" + *extra.begin(), file.TemporaryPath()) << when;
    } else {
        EXPECT_EQ(extra, Tree{}) << when;
    }
}

std::string RandomBytes(std::mt19937_64& gen, std::size_t n) {
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(gen());
    return s;
}

// Both streams cut or grown to n bytes.
void ResizeBoth(TMemoryStream& model, TFileStream& file, uint64_t n) {
    model.SetSize(n);
    file.SetSize(n);
}

// Reads up to length bytes at `at` from both streams and expects the same.
void ExpectSameRead(TMemoryStream& model, TFileStream& file, uint64_t at, std::size_t length) {
    model.Position = file.Position = at;
    std::string a(length, '\0'), b(length, '\0');
    const std::size_t na = model.Read(reinterpret_cast<uint8_t*>(a.data()), a.size());
    const std::size_t nb = file.Read(reinterpret_cast<uint8_t*>(b.data()), b.size());
    ASSERT_EQ(na, nb);
    ASSERT_TRUE(a.compare(0, na, b, 0, nb) == 0) << "read at " << at;
}

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

constexpr int kSkipped = 77;

} // namespace

TEST(ReceivingFile, NothingIsVisibleBeforeCommitAndCommitReplacesTheName) {
    for (Naming naming : kNamings) {
        SCOPED_TRACE(NamingName(naming));
        TempDir d;
        Populate(d.path());
        pf::ReceivingFile file;
        std::string error;
        ASSERT_TRUE(file.Create(d.prefix(), error, naming)) << error;
        EXPECT_EQ(file.IsAnonymous(), naming == Naming::AnonymousWherePossible) << "anonymous files on this system";
        ASSERT_TRUE(file.WriteAt(0, Bytes("new "), 4, error)) << error;
        ASSERT_TRUE(file.WriteAt(4, Bytes("version"), 7, error)) << error;
        ExpectOnlyItsOwnTraces(d.path(), kPopulated, naming, file, "while receiving");
        ASSERT_TRUE(file.Flush(error)) << error;
        // A file of the final name is still there: the commit replaces it.
        ASSERT_TRUE(file.Commit(d.prefix() + "EVMAJ_SETUP.ZIP", error)) << error;
        EXPECT_FALSE(file.IsOpen());
        EXPECT_EQ(ReadFile(d.path() / "EVMAJ_SETUP.ZIP"), "new version");
        EXPECT_EQ(ListTree(d.path()), kPopulated);
        file.Discard(); // nothing to discard after the commit
        EXPECT_EQ(ReadFile(d.path() / "EVMAJ_SETUP.ZIP"), "new version");
    }
}

// Random writes, seeks, size changes and reads on the file stream and on a
// memory stream side by side: the file always holds what the memory holds,
// the observer sees every write once and in order, the directory never
// shows more than the file's own hidden name (none when anonymous), and the
// end - saved, discarded or dropped - leaves exactly what it should.
TEST(FileStream, SeededCampaignAgainstTheMemoryStream) {
    for (unsigned seed = 1; seed <= 60; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937_64 gen(seed);
        const Naming naming = kNamings[seed % 2];
        TempDir d;
        Populate(d.path());
        TMemoryStream model;
        auto file = std::make_unique<TFileStream>(d.prefix(), naming);
        ASSERT_TRUE(file->IsOpen()) << file->OpenError();
        std::string written, observed;
        file->OnWrite = [&observed](
                            const uint8_t* p, std::size_t n) { observed.append(reinterpret_cast<const char*>(p), n); };
        auto write = [&](const std::string& bytes) {
            model.Write(Bytes(bytes), bytes.size());
            file->Write(Bytes(bytes), bytes.size());
            written += bytes;
        };
        if (seed == 1) {
            // A download of some size: several steps of the background
            // writeback, the last one incomplete.
            for (int i = 0; i < 17 * 16 + 3; ++i)
                write(RandomBytes(gen, 64 * 1024));
        }
        const int ops = 1 + static_cast<int>(gen() % 40);
        for (int op = 0; op < ops; ++op) {
            const uint64_t size = model.Size();
            switch (gen() % 10) {
            case 0:
            case 1:
            case 2:
            case 3:
            case 4:
            case 5: {
                const std::size_t n = gen() % 8 == 0 ? gen() % 70000 : gen() % 5000;
                write(RandomBytes(gen, n));
                break;
            }
            case 6: model.Position = file->Position = gen() % (size + 1); break;
            case 7: ResizeBoth(model, *file, gen() % (size + 2000)); break;
            default: {
                const uint64_t at = gen() % (size + 10);
                ExpectSameRead(model, *file, at, gen() % 6000);
                if (::testing::Test::HasFatalFailure())
                    return;
                break;
            }
            }
            ASSERT_EQ(file->Size(), model.Size());
            ASSERT_EQ(file->Position, model.Position);
            ExpectOnlyItsOwnTraces(d.path(), kPopulated, naming, file->File(), "op " + std::to_string(op));
        }
        EXPECT_TRUE(observed == written) << "the observer saw " << observed.size() << " of " << written.size();
        std::string whole(static_cast<std::size_t>(file->Size()), '\0');
        file->Position = 0;
        ASSERT_EQ(file->Read(reinterpret_cast<uint8_t*>(whole.data()), whole.size()), whole.size());
        const std::string expected(model.Data.begin(), model.Data.end());
        ASSERT_TRUE(whole == expected) << "file and memory differ";

        switch (gen() % 3) {
        case 0: {
            const auto r = transfer::CommitReplacingDirectory(file->File(), d.prefix(), "NEW.BIN");
            ASSERT_TRUE(r.Ok) << r.Error;
            EXPECT_EQ(ListTree(d.path()), (Tree{"NEW.BIN", "sub/", "sub/keep.txt"}));
            EXPECT_TRUE(ReadFile(d.path() / "NEW.BIN") == expected) << "saved bytes differ";
            break;
        }
        case 1:
            file->File().Discard();
            EXPECT_EQ(ListTree(d.path()), kPopulated);
            break;
        default:
            file.reset();
            EXPECT_EQ(ListTree(d.path()), kPopulated);
            break;
        }
    }
}

// Written in the background (chunks gathered, written by the stream's
// threads, past the page cache where possible): bodies of a few MiB that
// arrive both as copies (Write) and straight into the stream's place
// (WriteBuffer, filled only in part at times), then seeks back into the
// part written at once and into queued chunks, size changes and reads, all
// side by side with a memory stream. The file holds what the memory holds
// whenever it is read, the observer sees every byte once and in order, and
// the committed file holds the same.
TEST(FileStream, WrittenInBackgroundHoldsWhatTheMemoryStreamHolds) {
    for (unsigned seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937_64 gen(seed * 7919);
        const Naming naming = kNamings[seed % 2];
        TempDir d;
        Populate(d.path());
        TMemoryStream model;
        auto file = std::make_unique<TFileStream>(d.prefix(), naming);
        ASSERT_TRUE(file->IsOpen()) << file->OpenError();
        file->WriteInBackground();
        std::string written, observed;
        file->OnWrite = [&observed](
                            const uint8_t* p, std::size_t n) { observed.append(reinterpret_cast<const char*>(p), n); };
        auto write = [&](const std::string& bytes) {
            model.Write(Bytes(bytes), bytes.size());
            std::size_t room = 0;
            uint8_t* place = gen() % 2 ? file->WriteBuffer(room) : nullptr;
            if (place && room > 0) {
                // As a receive does: what fits, perhaps less.
                const std::size_t n = std::min(bytes.size(), 1 + gen() % room);
                std::memcpy(place, bytes.data(), n);
                file->Wrote(n);
                if (n < bytes.size())
                    file->Write(Bytes(bytes) + n, bytes.size() - n);
            } else {
                file->Write(Bytes(bytes), bytes.size());
            }
            written += bytes;
        };
        auto body = [&](uint64_t bytes) {
            for (uint64_t done = 0; done < bytes;) {
                const std::size_t n = 1 + gen() % (300 * 1024);
                write(RandomBytes(gen, n));
                done += n;
            }
        };
        body((1 + gen() % 4) * 1024 * 1024);
        for (int op = 0; op < 20; ++op) {
            const uint64_t size = model.Size();
            switch (gen() % 6) {
            case 0: body(gen() % (1500 * 1024)); break;
            case 1: write(RandomBytes(gen, gen() % 9000)); break;
            case 2: model.Position = file->Position = gen() % (size + 1); break;
            case 3: ResizeBoth(model, *file, gen() % (size + 2000)); break;
            default: {
                const uint64_t at = gen() % (size + 10);
                ExpectSameRead(model, *file, at, gen() % 70000);
                if (::testing::Test::HasFatalFailure())
                    return;
                break;
            }
            }
            ASSERT_EQ(file->Size(), model.Size());
            ASSERT_EQ(file->Position, model.Position);
        }
        if (seed % 3 == 0) {
            body(2 * 1024 * 1024);
            file.reset(); // dropped with writes still queued: nothing stays
            EXPECT_EQ(ListTree(d.path()), kPopulated);
            continue;
        }
        file->WaitForQueuedWrites();
        EXPECT_TRUE(observed == written) << "the observer saw " << observed.size() << " of " << written.size();
        ExpectOnlyItsOwnTraces(d.path(), kPopulated, naming, file->File(), "at the end");
        const std::string expected(model.Data.begin(), model.Data.end());
        const auto r = transfer::CommitReplacingDirectory(file->File(), d.prefix(), "NEW.BIN");
        ASSERT_TRUE(r.Ok) << r.Error;
        EXPECT_TRUE(ReadFile(d.path() / "NEW.BIN") == expected) << "saved bytes differ";
    }
}

// A file-size limit reached by a write in the background fails the stream
// with the system's reason, at the latest when the writes are waited for;
// nothing after the failed chunk reaches the observer, and the directory
// keeps only its old files.
TEST(FileStream, ALimitReachedInTheBackgroundFailsWithItsReason) {
    for (Naming naming : kNamings) {
        SCOPED_TRACE(NamingName(naming));
        TempDir d;
        constexpr long kLimit = 2 * 1024 * 1024 + 3000; // within a chunk, off its alignment
        const int code = RunInChild([&]() -> int {
            std::signal(SIGXFSZ, SIG_DFL); // must not kill the writer
            Populate(d.path());
            rlimit lim{kLimit, kLimit};
            ::setrlimit(RLIMIT_FSIZE, &lim);
            std::mt19937_64 gen(11);
            std::string written, observed;
            std::string error;
            {
                TFileStream stream(d.prefix(), naming);
                if (!stream.IsOpen())
                    return 2;
                stream.WriteInBackground();
                stream.OnWrite = [&observed](const uint8_t* p, std::size_t n) {
                    observed.append(reinterpret_cast<const char*>(p), n);
                };
                try {
                    while (written.size() < 6u * 1024 * 1024) {
                        const std::string piece = RandomBytes(gen, 64 * 1024 + gen() % 1000);
                        written += piece;
                        stream.Write(Bytes(piece), piece.size());
                    }
                    stream.WaitForQueuedWrites();
                } catch (const EStreamError& e) {
                    error = e.what();
                }
                if (error != std::strerror(EFBIG))
                    return 3;
                if (observed.size() > static_cast<std::size_t>(kLimit) ||
                    written.compare(0, observed.size(), observed) != 0)
                    return 4;
            }
            if (ListTree(d.path()) != kPopulated)
                return 5;
            return 0;
        });
        EXPECT_EQ(code, 0) << "see the check with this number in the child";
    }
}

// A disk that fills up and a file-size limit are failed writes with the
// system's reason: the process is not killed, and the directory keeps its
// old files with nothing added. Each case runs in a child process (the
// limit and the mount are the child's alone); its exit code says which
// check failed.
TEST(FileStream, FullDiskAndFileSizeLimitFailWithAReasonAndLeaveNothing) {
    enum Kind { kLimit, kFullDisk };
    for (Kind kind : {kLimit, kFullDisk}) {
        for (Naming naming : kNamings) {
            SCOPED_TRACE(std::string(kind == kLimit ? "file-size limit, " : "full disk, ") + NamingName(naming));
            TempDir d;
            const int code = RunInChild([&]() -> int {
                std::string why;
                if (kind == kFullDisk) {
                    if (!tests::support::MountSmallDisk(d.path().string(), 256 * 1024, why))
                        return kSkipped;
                } else {
                    std::signal(SIGXFSZ, SIG_DFL); // must not kill the writer
                    rlimit lim{64 * 1024, 64 * 1024};
                    ::setrlimit(RLIMIT_FSIZE, &lim);
                }
                Populate(d.path());
                std::mt19937_64 gen(7);
                const std::string piece = RandomBytes(gen, 64 * 1024);
                {
                    TFileStream stream(d.prefix(), naming);
                    if (!stream.IsOpen())
                        return 2;
                    std::string error;
                    try {
                        for (int i = 0; i < 16; ++i)
                            stream.Write(Bytes(piece), piece.size());
                    } catch (const EStreamError& e) {
                        error = e.what();
                    }
                    const std::string expected = std::strerror(kind == kLimit ? EFBIG : ENOSPC);
                    if (error != expected)
                        return 3;
                }
                if (ListTree(d.path()) != kPopulated)
                    return 4;
                const auto r = transfer::SaveReplacingDirectory(d.prefix(), "EVMAJ_SETUP.ZIP", Bytes(piece), 16 * 1024);
                // The small file still fits either way; the big one does not.
                if (!r.Ok || ReadFile(d.path() / "EVMAJ_SETUP.ZIP") != piece.substr(0, 16 * 1024))
                    return 5;
                const std::string big(1024 * 1024, 'b');
                const auto failed = transfer::SaveReplacingDirectory(d.prefix(), "BIG.ZIP", Bytes(big), big.size());
                if (failed.Ok || failed.Error.empty())
                    return 6;
                if (ListTree(d.path()) != (Tree{"EVMAJ_SETUP.ZIP", "sub/", "sub/keep.txt"}))
                    return 7;
                return 0;
            });
            if (code == kSkipped) {
                std::printf("full disk not tested: no private mounts here\n");
                continue;
            }
            EXPECT_EQ(code, 0) << "see the check with this number in the child";
        }
    }
}

// A process that ends at once (the program's end with an exit code skips
// every destructor) takes its named temporary files with it.
TEST(ReceivingFile, AProcessThatEndsAtOnceLeavesNoTemporaryFile) {
    TempDir d;
    Populate(d.path());
    const int code = RunInChild([&]() -> int {
        pf::ReceivingFile a, b;
        std::string error;
        if (!a.Create(d.prefix(), error, Naming::Named) || !b.Create(d.prefix(), error, Naming::Named))
            return 2;
        if (!a.WriteAt(0, Bytes("part"), 4, error))
            return 3;
        if (ListTree(d.path()).size() != kPopulated.size() + 2)
            return 4;
        pf::DiscardAllReceivingFiles();
        std::_Exit(0);
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ListTree(d.path()), kPopulated);
}

// The commit in place of the old files: the new file gets the mode any new
// file gets (only the owner could read it while it arrived), read-only
// files and sub-directories stay, and a read-only file or a directory of
// the final name is refused before anything changes.
TEST(ReceivingFile, CommitReplacingKeepsReadOnlyFilesAndGivesTheFinalMode) {
    namespace fs = std::filesystem;
    for (Naming naming : kNamings) {
        SCOPED_TRACE(NamingName(naming));
        TempDir d;
        Populate(d.path());
        WriteFile(d.path() / "README.TXT", "read-only");
        fs::permissions(d.path() / "README.TXT", fs::perms::owner_read | fs::perms::group_read);
        pf::ReceivingFile file;
        std::string error;
        ASSERT_TRUE(file.Create(d.prefix(), error, naming)) << error;
        ASSERT_TRUE(file.WriteAt(0, Bytes("new"), 3, error)) << error;
        struct stat st {};
        const std::string watched = naming == Naming::Named ? file.TemporaryPath() : std::string();
        if (!watched.empty()) {
            ASSERT_EQ(::stat(watched.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0600u) << "readable by others while it arrives";
        }
        ASSERT_TRUE(file.Flush(error)) << error;
        ASSERT_TRUE(file.CommitReplacing(d.prefix(), d.prefix() + "NEW.ZIP", error)) << error;
        EXPECT_EQ(ListTree(d.path()), (Tree{"NEW.ZIP", "README.TXT", "sub/", "sub/keep.txt"}));
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ASSERT_EQ(::stat((d.prefix() + "NEW.ZIP").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0666u & ~mask);

        // The read-only file's own name, and a directory's: refused, nothing changed.
        for (const char* name : {"README.TXT", "sub"}) {
            pf::ReceivingFile again;
            ASSERT_TRUE(again.Create(d.prefix(), error, naming)) << error;
            ASSERT_TRUE(again.WriteAt(0, Bytes("x"), 1, error)) << error;
            EXPECT_FALSE(again.CommitReplacing(d.prefix(), d.prefix() + name, error)) << name;
            again.Discard();
            EXPECT_EQ(ListTree(d.path()), (Tree{"NEW.ZIP", "README.TXT", "sub/", "sub/keep.txt"})) << name;
        }
    }
}

// The target directory is opened once, never through a link: a link in
// its place is refused, so the names made and removed are never another
// directory's.
TEST(ReceivingFile, ATargetDirectoryThatIsALinkIsRefused) {
    TempDir d;
    std::filesystem::create_directory(d.path() / "real");
    Populate(d.path() / "real");
    std::filesystem::create_directory_symlink(d.path() / "real", d.path() / "link");
    pf::ReceivingFile file;
    std::string error;
    EXPECT_FALSE(file.Create(d.prefix() + "link/", error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ListTree(d.path() / "real"), kPopulated);
}

// A crash at any moment of the commit (the process killed after a random
// delay, seeded) leaves every old file or the new one, at worst under its
// hidden name; never neither.
TEST(ReceivingFile, ACrashDuringTheCommitLeavesTheOldFilesOrTheNewOne) {
    constexpr int kRounds = 30;
    constexpr int kMaxRounds = 60;
    constexpr int kOldFiles = 100;
    constexpr std::size_t kBody = 64 * 1024;
    // One receive and commit in a child; killed after delay (none: runs to its end).
    auto receiveAndCommit = [&](const TempDir& d, std::optional<std::chrono::microseconds> delay) {
        const pid_t child = ::fork();
        if (child == 0) {
            pf::ReceivingFile file;
            std::string error;
            const std::string body(kBody, 'n');
            if (!file.Create(d.prefix(), error) || !file.WriteAt(0, Bytes(body), body.size(), error) ||
                !file.Flush(error) || !file.CommitReplacing(d.prefix(), d.prefix() + "NEW.ZIP", error))
                std::_Exit(2);
            std::_Exit(0);
        }
        if (delay) {
            std::this_thread::sleep_for(*delay);
            ::kill(child, SIGKILL);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return !(WIFEXITED(status) && WEXITSTATUS(status) == 2);
    };
    auto populate = [&](const TempDir& d) {
        for (int i = 0; i < kOldFiles; ++i)
            WriteFile(d.path() / ("OLD" + std::to_string(i)), "old");
    };
    // How long the whole child takes here (a sanitizer build is slower):
    // the kills fall anywhere from its start to a while after its end.
    std::chrono::microseconds whole{};
    {
        TempDir d;
        populate(d);
        const auto t0 = std::chrono::steady_clock::now();
        ASSERT_TRUE(receiveAndCommit(d, std::nullopt));
        whole = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);
        ASSERT_EQ(ListTree(d.path()), Tree{"NEW.ZIP"});
    }
    // The campaign means something only if the kills land on both sides of
    // the commit. A machine under load stretches the child beyond the one
    // run measured, or a cold first run overstates it: after the planned
    // rounds, the range of delays follows what the rounds saw, a bounded
    // number of times.
    std::mt19937_64 gen(2109);
    long long range = whole.count() * 3 / 2 + 1;
    int sawNew = 0;
    int round = 0;
    for (; round < kMaxRounds; ++round) {
        if (round >= kRounds) {
            if (sawNew > 0 && sawNew < round)
                break;
            range = sawNew == 0 ? range * 2 : std::max<long long>(range / 2, 1);
        }
        TempDir d;
        populate(d);
        const auto delay = std::chrono::microseconds(static_cast<long long>(gen() % static_cast<uint64_t>(range)));
        ASSERT_TRUE(receiveAndCommit(d, delay)) << "the commit failed in round " << round;
        int old = 0;
        bool hasNew = false;
        for (const auto& name : ListTree(d.path())) {
            if (name.rfind("OLD", 0) == 0)
                ++old;
            else if (name == "NEW.ZIP" || IsTemporaryName(name))
                hasNew = hasNew || ReadFile(d.path() / name).size() == kBody;
        }
        EXPECT_TRUE(old == kOldFiles || hasNew) << "round " << round << ": " << old << " old files, no new one";
        sawNew += hasNew ? 1 : 0;
    }
    // The kills reach past the commit sometimes and stop before it other times.
    EXPECT_GT(sawNew, 0);
    EXPECT_LT(sawNew, round);
}
