// The version check and the documentation download with the publisher's
// key, through the transfer flow and the recording view, against the
// signed files signed_flow_peers serves (SignedFlowServed.h): files signed
// as published are saved, and every kind of bad, foreign, missing or
// legacy-kind signature ends the run with its exit code and its message
// while the target directory keeps exactly what it had. The same cases run
// on Linux and under wine; the window's own rendering of them, the
// requests the server saw and an inotify watch of the target directory are
// the Linux window tests' (tests/downloads/SignedFlowTest.cpp).
#include "SignedFlowServed.h"

#include "tests/support/FakeViews.h"
#include "tests/support/TreeListing.h"
#include "ScratchDir.h"

#include "transfer/core/ErrorClass.h"
#include "transfer/core/SeenSignatures.h"
#include "transfer/core/SignatureMessages.h"
#include "transfer/flow/TransferFlow.h"
#include "transfer/flow/TransferTexts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <set>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using namespace transfer::flow;
namespace ss = tests::flow::signedset;
using crosstest::ReadBytes;
using crosstest::ScratchDir;
using crosstest::WriteBytes;
using P = signature::Problem;
using R = transfer::SignedFileRole;
using Tree = std::set<std::string>;

const Tree kOldTree = {"EVMAJ_OLD.ZIP", "archiv/", "archiv/keep.txt"};
constexpr const char* kVerified = "PODPIS SOUBORU OVĚŘEN";

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v == nullptr ? std::string() : std::string(v);
}

// Where the program remembers signing times: a folder of the test's.
void UseStateFolder(const std::string& dir) {
#ifdef _WIN32
    ::SetEnvironmentVariableA("APPDATA", dir.c_str());
#else
    ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
#endif
}

class SignedFlowCases : public ::testing::Test {
protected:
    void SetUp() override {
        files_ = Env(ss::kFilesVariable);
        server_ = Env(ss::kServerVariable);
        if (files_.empty() || server_.empty())
            FAIL() << "runs under signed_flow_peers, which serves the signed files";
        host.Key = File(ss::kKeyLine);
        ASSERT_FALSE(host.Key.empty()) << "no publisher key in " << files_;
        state = std::make_unique<ScratchDir>();
        UseStateFolder(state->path().string());
    }
    // A fresh flow on a fresh window, aimed at a target holding kOldTree.
    void Start() {
        view = std::make_unique<tests::support::RecordingTransferView>();
        host.Endings.clear();
        host.Code = 0;
        flow = std::make_unique<TransferFlow>(*view, host);
        view->Flow = flow.get();
        target = std::make_unique<ScratchDir>();
        WriteBytes(target->path() / "EVMAJ_OLD.ZIP", "old");
        std::filesystem::create_directory(target->path() / "archiv");
        WriteBytes(target->path() / "archiv" / "keep.txt", "k");
    }
    void CheckVersion(const std::string& dir, const std::string& installed, bool connectionTest = false) {
        Start();
        VersionParamSet set{installed, server_ + dir + "/", ss::kServedVerze, ss::kServedZip, target->prefix()};
        flow->SetCheckAndDownloadVersionParams(set, set);
        view->Answers.push_back({NextStep::Download, false});
        view->ShowWindow();
        EXPECT_TRUE(flow->CheckAndDownloadVersionFiles(connectionTest));
    }
    void DownloadDokum(const std::string& dir) {
        Start();
        flow->SetCheckAndDownloadDokumParams(DokumParamSet{server_ + dir + "/", ss::kServedPdf, target->prefix()});
        view->ShowWindow();
        EXPECT_TRUE(flow->CheckAndDownloadDokumFiles());
    }
    std::string File(const char* name) const { return ReadBytes(std::filesystem::path(files_) / name); }
    bool SawStatus(const std::string& text) const {
        return std::any_of(view->StatusHistory.begin(), view->StatusHistory.end(),
            [&](const tests::support::Line& l) { return l.Text == text; });
    }
    // A refused file: the window stays open with the reason in red, nothing
    // in the target directory changed.
    void ExpectRefused(int exitCode, const std::string& message) {
        EXPECT_EQ(host.Code, exitCode);
        EXPECT_TRUE(host.Endings.empty());
        EXPECT_EQ(view->Closes, 0);
        EXPECT_TRUE(view->WindowShown);
        EXPECT_EQ(view->Message.Text, message);
        EXPECT_EQ(view->Message.Colour, kRed);
        EXPECT_FALSE(SawStatus(kVerified));
        EXPECT_EQ(tests::support::ListTree(target->path()), kOldTree);
        EXPECT_EQ(ReadBytes(target->path() / "EVMAJ_OLD.ZIP"), "old");
    }
    static std::string Message(P p, const std::string& file, R role) {
        return transfer::SignatureFailureMessage(p, file, role);
    }

    std::string files_, server_;
    tests::support::RecordingTransferHost host;
    std::unique_ptr<tests::support::RecordingTransferView> view;
    std::unique_ptr<TransferFlow> flow;
    std::unique_ptr<ScratchDir> target;
    std::unique_ptr<ScratchDir> state;
};

std::optional<ss::ServedDir> Served(const std::string& name) {
    for (const auto& d : ss::ServedDirs())
        if (d.Name == name)
            return d;
    return std::nullopt;
}

TEST_F(SignedFlowCases, VersionCheckTakesSignedFilesAndRefusesEveryBadSignature) {
    struct Case {
        std::string dir;
        int exitCode;
        P problem;           // None: saved
        bool versionRefused; // the version file's signature failed: no dialog
    };
    const std::vector<Case> cases = {
        {"v-both-signed", transfer::kExitSaved, P::None, false},
        {"v-legacy-kind", 25, P::LegacyKind, false},
        {"v-not-listed", 99, P::NotListed, true},
        {"v-hash-mismatch", 25, P::HashMismatch, false},
        {"v-version-unsigned", 99, P::Missing, true},
        {"v-version-changed", 99, P::Mismatch, true},
        {"v-version-by-stranger", 99, P::UnknownKey, true},
        {"v-version-other-file", 99, P::OtherFile, true},
        {"v-version-sig-cut", 99, P::Malformed, true},
        {"v-version-sig-garbage", 99, P::Malformed, true},
        {"v-version-sig-oversized", 99, P::Oversized, true},
        {"v-new-unsigned", 25, P::Missing, false},
        {"v-new-changed-byte", 25, P::Mismatch, false},
        {"v-new-by-stranger", 25, P::UnknownKey, false},
        {"v-new-other-file", 25, P::OtherFile, false},
        {"v-new-sig-cut", 25, P::Malformed, false},
        {"v-new-sig-garbage", 25, P::Malformed, false},
        {"v-new-sig-oversized", 25, P::Oversized, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dir);
        const auto served = Served(c.dir);
        ASSERT_TRUE(served.has_value());
        // Each run starts with nothing remembered.
        state = std::make_unique<ScratchDir>();
        UseStateFolder(state->path().string());
        CheckVersion(c.dir, "5.10");
        EXPECT_EQ(view->AskedVersions.size(), c.versionRefused ? 0u : 1u);
        if (c.problem == P::None) {
            EXPECT_EQ(host.Code, c.exitCode);
            EXPECT_EQ(host.Endings, std::vector<int>{transfer::kExitSaved});
            EXPECT_TRUE(ReadBytes(target->path() / ss::kServedZip) == File(served->Zip)) << "saved bytes differ";
            EXPECT_EQ(
                tests::support::ListTree(target->path()), (Tree{"EVMAJ_SETUP.ZIP", "archiv/", "archiv/keep.txt"}));
            EXPECT_TRUE(SawStatus(kVerified));
            EXPECT_EQ(view->Status.Text, texts::kEnded) << "a good signature ends like no signature";
            continue;
        }
        ExpectRefused(c.exitCode,
            Message(c.problem, c.versionRefused && c.problem != P::NotListed ? ss::kServedVerze : ss::kServedZip,
                c.versionRefused ? R::VersionFile : R::DownloadedFile));
        // A refused version file cancels the run; a refused download ends
        // its connection normally and fails as a save does.
        EXPECT_EQ(view->Status.Text, c.versionRefused ? texts::kCancelled : texts::kEnded);
    }
}

TEST_F(SignedFlowCases, DocumentationDownloadTakesSignedFilesAndRefusesBadOnes) {
    struct Case {
        std::string dir;
        int exitCode;
        P problem;
        R role;
    };
    const std::vector<Case> cases = {
        {"d-both-signed", transfer::kExitSaved, P::None, R::DownloadedFile},
        {"d-version-unsigned", 99, P::Missing, R::DokumVersionFile},
        {"d-changed", 25, P::Mismatch, R::DownloadedFile},
        {"d-other-file", 25, P::OtherFile, R::DownloadedFile},
        {"d-unsigned", 25, P::Missing, R::DownloadedFile},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dir);
        const auto served = Served(c.dir);
        ASSERT_TRUE(served.has_value());
        DownloadDokum(c.dir);
        if (c.problem == P::None) {
            EXPECT_EQ(host.Code, c.exitCode);
            EXPECT_EQ(host.Endings, std::vector<int>{transfer::kExitSaved});
            EXPECT_TRUE(ReadBytes(target->path() / ss::kServedPdf) == File(served->Pdf)) << "saved bytes differ";
            // Saving replaces every file of the target directory; folders stay.
            EXPECT_EQ(
                tests::support::ListTree(target->path()), (Tree{"DOKUMENTACE.PDF", "archiv/", "archiv/keep.txt"}));
            continue;
        }
        ExpectRefused(
            c.exitCode, Message(c.problem, c.role == R::DokumVersionFile ? ss::kServedVerze : ss::kServedPdf, c.role));
    }
}

TEST_F(SignedFlowCases, AVersionFileOlderThanOneSeenIsRefusedAndADamagedMemoryIsNamed) {
    // Never seen the newer one: the old file is taken (nothing newer, 29).
    CheckVersion("replay-old", "5.30");
    EXPECT_EQ(host.Code, transfer::kExitNothingToDownload);
    // Once the newer one was seen, the old one served again is refused.
    state = std::make_unique<ScratchDir>();
    UseStateFolder(state->path().string());
    CheckVersion("replay-new", "5.30");
    EXPECT_EQ(host.Code, transfer::kExitNothingToDownload);
    CheckVersion("replay-old", "5.30");
    ExpectRefused(transfer::kExitOtherFailure, Message(P::Replayed, ss::kServedVerze, R::VersionFile));
    EXPECT_EQ(view->AskedVersions.size(), 0u);
    // A memory that cannot be read is no empty memory: the run stops and
    // names it.
    const std::string stateFile = transfer::SeenSignaturesPath();
    ASSERT_FALSE(stateFile.empty());
    ASSERT_TRUE(std::filesystem::exists(std::filesystem::path(stateFile))) << stateFile;
    WriteBytes(std::filesystem::path(stateFile), "damaged\n");
    CheckVersion("replay-new", "5.30");
    EXPECT_EQ(host.Code, transfer::kExitOtherFailure);
    EXPECT_NE(view->Message.Text.find(stateFile), std::string::npos) << view->Message.Text;
    EXPECT_EQ(tests::support::ListTree(target->path()), kOldTree);
}

TEST_F(SignedFlowCases, TheConnectionTestAsksForNoSignature) {
    // The directory serves the version file without its signature.
    CheckVersion("connection", "", true);
    EXPECT_NE(view->Message.Text, Message(P::Missing, ss::kServedVerze, R::VersionFile));
    EXPECT_NE(host.Code, transfer::kExitOtherFailure) << view->Message.Text;
}

} // namespace
