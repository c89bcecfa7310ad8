// Both download operations with the body streaming into the target
// directory: not one byte of it is visible there before it has been
// checked and accepted, the check sees exactly the body, its verdict
// decides, and a disk that refuses the body is a failed save that keeps
// the old files.
#include "tests/support/LoopbackServer.h"
#include "tests/support/SmallDisk.h"
#include "WindowHarness.h"

#include "http/Stream.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <random>
#include <sys/resource.h>

using namespace tests::support;
using Tree = std::set<std::string>;

namespace {

enum class Operation { VersionCheck, Dokum };

const char* Name(Operation op) { return op == Operation::VersionCheck ? "version check" : "documentation"; }
std::string FileOf(Operation op) { return op == Operation::VersionCheck ? "EVMAJ_SETUP.ZIP" : "DOKUMENTACE.PDF"; }

std::string RandomBody(std::size_t n, unsigned seed) {
    std::mt19937_64 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(gen());
    return s;
}

void PopulateTarget(const WindowHarness& h) {
    WriteFile(h.Target() + "OLD_SETUP.ZIP", "old");
    std::filesystem::create_directory(h.Target() + "archiv");
    WriteFile(h.Target() + "archiv/keep.txt", "k");
}

const Tree kOldTree = {"OLD_SETUP.ZIP", "archiv/", "archiv/keep.txt"};

// A server with a newer version and the file of the operation; the version
// check's dialog is answered with the download.
struct Scene {
    explicit Scene(Operation operation, const ScriptedReply& file)
        : op(operation), h(op == Operation::Dokum ? "dokum" : "chkver") {
        server.Set("/halvorne/verze.txt", "5.30\r\n");
        server.Set("/halvorne/" + FileOf(op), file);
        PopulateTarget(h);
        if (op == Operation::VersionCheck)
            h.AnswerDialog({Answer::Download});
    }

    void Run() {
        const std::string dir = server.Address("halvorne");
        if (op == Operation::Dokum) {
            Form_Run->Flow().SetCheckAndDownloadDokumParams(DokumParamSet{dir, FileOf(op), h.Target()});
            Form_Run->Flow().CheckAndDownloadDokumFiles();
        } else {
            Form_Run->Flow().SetCheckAndDownloadVersionParams(
                VersionParamSet{}, VersionParamSet{"5.10", dir, "verze.txt", FileOf(op), h.Target()});
            Form_Run->Flow().CheckAndDownloadVersionFiles(false);
        }
    }

    // The end of a failed save: the window stays open with the red message.
    void ExpectFailedSave(int exitCode, const QString& message) {
        EXPECT_EQ(h.ExitCode(), exitCode);
        EXPECT_EQ(Form_Run->Label_Top->text(), kEnded);
        EXPECT_EQ(TextColour(Form_Run->Label_Top), kBlue);
        EXPECT_TRUE(Form_Run->Label_Msg->isVisible());
        EXPECT_EQ(Form_Run->Label_Msg->text(), message);
        EXPECT_EQ(TextColour(Form_Run->Label_Msg), kRed);
        EXPECT_TRUE(Form_Run->isVisible());
        EXPECT_TRUE(h.terminations.empty());
        EXPECT_EQ(ListTree(h.Target()), kOldTree);
    }

    QString SaveFailed() const {
        return QStringLiteral("Soubor se nepodařilo uložit!\r\n") + QString::fromStdString(h.Target() + FileOf(op));
    }

    Operation op;
    ScriptedHttpServer server;
    WindowHarness h;
};

} // namespace

// What the check of a received file sees and decides, in both operations.
TEST(StreamedDownload, NothingReachesTheTargetBeforeTheCheckAndItsVerdictDecides) {
    struct Verdict {
        const char* name;
        transfer::ReceivedFileVerdict verdict;
    };
    const Verdict verdicts[] = {
        {"accepted", transfer::ReceivedFileVerdict::Accept()},
        {"refused as a failed save", transfer::ReceivedFileVerdict::Refuse(25, "")},
        {"refused with its own code and text", transfer::ReceivedFileVerdict::Refuse(99, "Podpis souboru nesouhlasí")},
    };
    // Arrives in pieces, so the body is written in many steps; the big one
    // is written and observed by the file stream's own threads past its
    // first MiB.
    const ScriptedReply replies[] = {
        {200, "OK", RandomBody(300000, 5), 16384, 2},
        {200, "OK", RandomBody(3 * 1024 * 1024 + 123, 6), 256 * 1024, 1},
    };
    for (const ScriptedReply& reply : replies)
        for (Operation op : {Operation::VersionCheck, Operation::Dokum}) {
            for (const Verdict& v : verdicts) {
                SCOPED_TRACE(
                    std::string(Name(op)) + ", " + v.name + ", " + std::to_string(reply.Body.size()) + " bytes");
                const std::string& body = reply.Body;
                Scene scene(op, reply);
                std::vector<std::string> addresses;
                std::string observed, checked;
                int writesSeen = 0, writesWithTraces = 0;
                bool checkSawOldTree = false;
                const std::string target = scene.h.Target();
                Form_Run->Flow().MakeReceivedFileChecks = [&](const std::string& address) {
                    addresses.push_back(address);
                    transfer::ReceivedFileChecks checks;
                    checks.Observe = [&](const uint8_t* bytes, std::size_t n) {
                        observed.append(reinterpret_cast<const char*>(bytes), n);
                        ++writesSeen;
                        if (ListTree(target) != kOldTree)
                            ++writesWithTraces;
                    };
                    checks.Accept = [&](TStream& received) {
                        checkSawOldTree = ListTree(target) == kOldTree;
                        checked.resize(static_cast<std::size_t>(received.Size()));
                        received.Position = 0;
                        checked.resize(received.Read(reinterpret_cast<uint8_t*>(checked.data()), checked.size()));
                        return v.verdict;
                    };
                    return checks;
                };
                scene.Run();

                EXPECT_EQ(addresses, std::vector<std::string>{scene.server.Address("halvorne") + FileOf(op)});
                EXPECT_GT(writesSeen, 1);
                EXPECT_EQ(writesWithTraces, 0) << "the target showed something while the body arrived";
                EXPECT_TRUE(checkSawOldTree) << "the target changed before the check";
                EXPECT_TRUE(observed == body) << "observed " << observed.size() << " bytes";
                EXPECT_TRUE(checked == body) << "the check read " << checked.size() << " bytes";
                if (v.verdict.Accepted) {
                    EXPECT_EQ(scene.h.ExitCode(), 21);
                    EXPECT_TRUE(EndedWith(scene.h, 21));
                    EXPECT_EQ(ListTree(target), (Tree{FileOf(op), "archiv/", "archiv/keep.txt"}));
                    EXPECT_TRUE(ReadFile(target + FileOf(op)) == body) << "saved bytes differ";
                } else {
                    scene.ExpectFailedSave(v.verdict.ExitCode,
                        v.verdict.Message.empty() ? scene.SaveFailed() : QString::fromStdString(v.verdict.Message));
                }
            }
        }
}

// A body the disk will not take: the save fails as soon as the disk says
// so (the rest of the body is not fetched), with exit code 25 and the red
// message, and the old files stay.
TEST(StreamedDownload, ADiskThatRefusesTheBodyIsAFailedSave) {
    const std::string body = RandomBody(1000000, 9);
    for (Operation op : {Operation::VersionCheck, Operation::Dokum}) {
        {
            SCOPED_TRACE(std::string(Name(op)) + ", file-size limit");
            Scene scene(op, ScriptedReply{200, "OK", body});
            rlimit old{};
            ::getrlimit(RLIMIT_FSIZE, &old);
            rlimit lim = old;
            lim.rlim_cur = 64 * 1024;
            ::setrlimit(RLIMIT_FSIZE, &lim);
            scene.Run();
            ::setrlimit(RLIMIT_FSIZE, &old);
            scene.ExpectFailedSave(25, scene.SaveFailed());
            EXPECT_LT(Form_Run->Gauge1->value(), 1000000) << "the download went on after the disk refused it";
        }
    }
    // Last: the disk stays mounted in this process's namespace.
    for (Operation op : {Operation::VersionCheck, Operation::Dokum}) {
        SCOPED_TRACE(std::string(Name(op)) + ", full disk");
        Scene scene(op, ScriptedReply{200, "OK", body});
        std::string why;
        const std::filesystem::path target(scene.h.Target());
        std::filesystem::remove_all(target / "archiv");
        std::filesystem::remove(target / "OLD_SETUP.ZIP");
        if (!MountSmallDisk(scene.h.Target(), 256 * 1024, why))
            GTEST_SKIP() << "no private mounts here: " << why;
        PopulateTarget(scene.h);
        scene.Run();
        scene.ExpectFailedSave(25, scene.SaveFailed());
        EXPECT_LT(Form_Run->Gauge1->value(), 1000000) << "the download went on after the disk refused it";
        UnmountSmallDisk(scene.h.Target());
    }
}
