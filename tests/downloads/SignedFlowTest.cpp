// The version check and the documentation download of a program that
// carries the publisher's public key (the demo key), in-process: files
// signed with minisign are taken as before, and every kind of bad, foreign
// or missing signature ends the run with its exit code and message while
// nothing shows in the target directory under any name, not even for a
// moment (watched with inotify; a refused body only ever went into a file
// there that has no name).
#include "tests/support/DirectoryWatch.h"
#include "tests/support/Minisign.h"
#include "tests/support/LoopbackServer.h"
#include "WindowHarness.h"

#include "transfer/core/SignatureMessages.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>

#include <cstdlib>
#include <memory>
#include <optional>
#include <random>

#ifndef DEMO_KEY_DIR
#error "DEMO_KEY_DIR must name demo/keys"
#endif

using namespace tests::support;
namespace ms = tests::support::minisign;
using Tree = std::set<std::string>;

namespace {

const Tree kOldTree = {"EVMAJ_OLD.ZIP", "archiv/", "archiv/keep.txt"};
const QString kVerified = QStringLiteral("PODPIS SOUBORU OVĚŘEN");

// Records every text the status line was painted with.
class StatusLog : public QObject {
public:
    StatusLog() { Form_Run->Label_Top->installEventFilter(this); }
    ~StatusLog() override {
        if (Form_Run)
            Form_Run->Label_Top->removeEventFilter(this);
    }
    bool Saw(const QString& text) const { return texts_.contains(text); }

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint && (texts_.isEmpty() || texts_.back() != Form_Run->Label_Top->text()))
            texts_.push_back(Form_Run->Label_Top->text());
        return false;
    }

private:
    QStringList texts_;
};

// The files of the server directory with every signature a test may serve.
// The version file lists the hashes of the two files the runs download.
struct SignedSet {
    std::string verze = "5.30\r\nEvidence majetku\r\n";
    std::string verzeUnlisted; // signed, but without the new version's line
    std::string zipOther;      // signed under the new version's name, not listed
    std::string verzeUnlistedSig, zipOtherSig;
    std::string zip;
    std::string pdf = "%PDF-1.4\n" + std::string(20000, 'p') + "\n%%EOF\n";
    std::string verzeSig, zipSig, zipLegacySig, pdfSig;
    std::string verzeByStranger, zipByStranger;
};

class SignedFlow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        tmp_ = new TempDir();
        const std::string dir = tmp_->path().string();
        const std::string keys = DEMO_KEY_DIR;
        ms::KeyPair demo{keys + "/halvorne-demo.pub", keys + "/halvorne-demo.key", ""};
        ms::KeyPair stranger = ms::MakeKeyPair(dir, "stranger");
        std::mt19937 rng(11);
        files_.zip = std::string("PK\x03\x04", 4);
        for (int i = 0; i < 90000; ++i)
            files_.zip += static_cast<char>(rng());
        WriteFile(dir + "/EVMAJ_SETUP.ZIP", files_.zip);
        WriteFile(dir + "/DOKUMENTACE.PDF", files_.pdf);
        auto sign = [&](const ms::KeyPair& k, const std::string& name, bool legacy, const std::string& out) {
            return ReadFile(ms::Sign(k, dir + "/" + name, {legacy, "", dir + "/" + out}));
        };
        const std::string pdfLine = ms::HashLine(dir, "DOKUMENTACE.PDF");
        files_.verzeUnlisted = files_.verze + pdfLine;
        files_.verze += ms::HashLine(dir, "EVMAJ_SETUP.ZIP") + pdfLine;
        WriteFile(dir + "/verze.txt", files_.verzeUnlisted);
        files_.verzeUnlistedSig = sign(demo, "verze.txt", false, "vu.sig");
        WriteFile(dir + "/verze.txt", files_.verze);
        files_.zipOther = files_.zip + "an older build, validly signed";
        WriteFile(dir + "/EVMAJ_SETUP.ZIP", files_.zipOther);
        files_.zipOtherSig = sign(demo, "EVMAJ_SETUP.ZIP", false, "zo.sig");
        WriteFile(dir + "/EVMAJ_SETUP.ZIP", files_.zip);
        files_.verzeSig = sign(demo, "verze.txt", false, "v.sig");
        files_.zipSig = sign(demo, "EVMAJ_SETUP.ZIP", false, "z.sig");
        files_.zipLegacySig = sign(demo, "EVMAJ_SETUP.ZIP", true, "zl.sig");
        files_.pdfSig = sign(demo, "DOKUMENTACE.PDF", false, "p.sig");
        files_.verzeByStranger = sign(stranger, "verze.txt", false, "vs.sig");
        files_.zipByStranger = sign(stranger, "EVMAJ_SETUP.ZIP", false, "zs.sig");
    }
    static void TearDownTestSuite() {
        delete tmp_;
        tmp_ = nullptr;
    }

    // A memory of accepted signing times that outlives the runs (each
    // harness starts on a fresh home of its own, with nothing accepted).
    void FreshState() { state_ = std::make_unique<TempDir>(); }
    void UseState() const { ::setenv("XDG_CONFIG_HOME", state_->path().c_str(), 1); }

    static void PopulateTarget(const WindowHarness& h) {
        WriteFile(h.Target() + "EVMAJ_OLD.ZIP", "old");
        std::filesystem::create_directory(h.Target() + "archiv");
        WriteFile(h.Target() + "archiv/keep.txt", "k");
    }
    static bool Asked(const ScriptedHttpServer& s, const std::string& what) {
        for (const auto& l : s.RequestLines())
            if (l.find(what + " ") != std::string::npos)
                return true;
        return false;
    }
    static QString Message(signature::Problem p, const std::string& file, transfer::SignedFileRole role) {
        return QString::fromStdString(transfer::SignatureFailureMessage(p, file, role));
    }

    static TempDir* tmp_;
    static SignedSet files_;
    std::unique_ptr<TempDir> state_;
};

TempDir* SignedFlow::tmp_ = nullptr;
SignedSet SignedFlow::files_;

std::string Cut(const std::string& s) { return s.substr(0, s.size() / 2); }
std::string Garbage() { return "untrusted comment: x\n!!!!\ntrusted comment: y\n????\n"; }
std::string Oversized(const std::string& s) { return s + std::string(100000, '#'); }

TEST_F(SignedFlow, VersionCheckTakesSignedFilesAndRefusesEveryBadSignature) {
    using P = signature::Problem;
    using R = transfer::SignedFileRole;
    struct Case {
        std::string name;
        std::string verze;
        std::optional<std::string> verzeSig; // nullopt: 404
        std::string zip;
        std::optional<std::string> zipSig;
        int exitCode;
        P problem;           // None: saved
        bool versionRefused; // the version file's signature failed: no dialog
    };
    const SignedSet& f = files_;
    const std::vector<Case> cases = {
        {"both signed", f.verze, f.verzeSig, f.zip, f.zipSig, 21, P::None, false},
        {"new version signed the legacy way", f.verze, f.verzeSig, f.zip, f.zipLegacySig, 25, P::LegacyKind, false},
        {"version file lists no new version", f.verzeUnlisted, f.verzeUnlistedSig, f.zip, f.zipSig, 99, P::NotListed,
            true},
        {"new version validly signed but not the listed one", f.verze, f.verzeSig, f.zipOther, f.zipOtherSig, 25,
            P::HashMismatch, false},
        {"version file unsigned", f.verze, std::nullopt, f.zip, f.zipSig, 99, P::Missing, true},
        {"version file changed", "5.90\r\nEvidence majetku\r\n", f.verzeSig, f.zip, f.zipSig, 99, P::Mismatch, true},
        {"version file signed by another key", f.verze, f.verzeByStranger, f.zip, f.zipSig, 99, P::UnknownKey, true},
        {"version file with the signature of another file", f.verze, f.zipSig, f.zip, f.zipSig, 99, P::OtherFile, true},
        {"version signature truncated", f.verze, Cut(f.verzeSig), f.zip, f.zipSig, 99, P::Malformed, true},
        {"version signature garbage", f.verze, Garbage(), f.zip, f.zipSig, 99, P::Malformed, true},
        {"version signature oversized", f.verze, Oversized(f.verzeSig), f.zip, f.zipSig, 99, P::Oversized, true},
        {"new version unsigned", f.verze, f.verzeSig, f.zip, std::nullopt, 25, P::Missing, false},
        {"new version with a changed byte", f.verze, f.verzeSig, f.zip.substr(0, 5000) + "X" + f.zip.substr(5001),
            f.zipSig, 25, P::Mismatch, false},
        {"new version signed by another key", f.verze, f.verzeSig, f.zip, f.zipByStranger, 25, P::UnknownKey, false},
        {"new version with the signature of another file", f.verze, f.verzeSig, f.zip, f.pdfSig, 25, P::OtherFile,
            false},
        {"new version signature truncated", f.verze, f.verzeSig, f.zip, Cut(f.zipSig), 25, P::Malformed, false},
        {"new version signature garbage", f.verze, f.verzeSig, f.zip, Garbage(), 25, P::Malformed, false},
        {"new version signature oversized", f.verze, f.verzeSig, f.zip, Oversized(f.zipSig), 25, P::Oversized, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedHttpServer server;
        server.Set("/halvorne/verze.txt", c.verze);
        if (c.verzeSig)
            server.Set("/halvorne/verze.txt.minisig", *c.verzeSig);
        server.Set("/halvorne/EVMAJ_SETUP.ZIP", c.zip);
        if (c.zipSig)
            server.Set("/halvorne/EVMAJ_SETUP.ZIP.minisig", *c.zipSig);
        WindowHarness h;
        PopulateTarget(h);
        h.AnswerDialog({Answer::Download});
        StatusLog status;
        DirectoryWatch watch(h.Target());
        Form_Run->Flow().SetCheckAndDownloadVersionParams(
            VersionParamSet{"", server.Address("halvorne"), "verze.txt", "", ""},
            VersionParamSet{"5.10", server.Address("halvorne"), "verze.txt", "EVMAJ_SETUP.ZIP", h.Target()});
        EXPECT_TRUE(Form_Run->Flow().CheckAndDownloadVersionFiles(false));
        const std::vector<std::string> changes = watch.VisibleChanges();
        EXPECT_EQ(h.ExitCode(), c.exitCode);
        EXPECT_EQ(h.dialogShowings, c.versionRefused ? 0 : 1);
        if (c.problem == P::None) {
            EXPECT_TRUE(EndedWith(h, 21));
            EXPECT_TRUE(ReadFile(h.Target() + "EVMAJ_SETUP.ZIP") == c.zip) << "saved bytes differ";
            EXPECT_EQ(ListTree(h.Target()), (Tree{"EVMAJ_SETUP.ZIP", "archiv/", "archiv/keep.txt"}));
            EXPECT_TRUE(status.Saw(kVerified));
            EXPECT_EQ(Form_Run->Label_Top->text(), kEnded) << "a good signature ends like no signature";
            continue;
        }
        // Refused: the window stays open with the reason, nothing changed.
        const QString message =
            Message(c.problem, c.versionRefused && c.problem != P::NotListed ? "verze.txt" : "EVMAJ_SETUP.ZIP",
                c.versionRefused ? R::VersionFile : R::DownloadedFile);
        EXPECT_TRUE(Form_Run->isVisible());
        EXPECT_TRUE(h.terminations.empty());
        EXPECT_TRUE(Form_Run->Label_Msg->isVisible());
        EXPECT_EQ(Form_Run->Label_Msg->text(), message);
        EXPECT_EQ(TextColour(Form_Run->Label_Msg), kRed);
        // A refused version file cancels the run; a refused download ends
        // its connection normally and fails as a save does.
        EXPECT_EQ(Form_Run->Label_Top->text(), c.versionRefused ? kCancelled : kEnded);
        EXPECT_FALSE(status.Saw(kVerified));
        EXPECT_EQ(ListTree(h.Target()), kOldTree);
        EXPECT_EQ(ReadFile(h.Target() + "EVMAJ_OLD.ZIP"), "old");
        EXPECT_TRUE(changes.empty()) << "the target directory showed: " << changes.front();
        // A file its signature rules out beforehand is not even fetched;
        // one that arrived went only into a file without a name.
        const bool fetched = !c.versionRefused && (c.problem == P::Mismatch || c.problem == P::HashMismatch);
        EXPECT_EQ(Asked(server, "/halvorne/EVMAJ_SETUP.ZIP"), fetched);
        EXPECT_EQ(watch.AnonymousWrites() > 0, fetched);
    }
}

TEST_F(SignedFlow, DocumentationDownloadTakesSignedFilesAndRefusesBadOnes) {
    using P = signature::Problem;
    using R = transfer::SignedFileRole;
    struct Case {
        std::string name;
        std::optional<std::string> verzeSig;
        std::string pdf;
        std::optional<std::string> pdfSig;
        int exitCode;
        P problem;
        R role;
    };
    const SignedSet& f = files_;
    const std::vector<Case> cases = {
        {"both signed", f.verzeSig, f.pdf, f.pdfSig, 21, P::None, R::DownloadedFile},
        {"version file unsigned", std::nullopt, f.pdf, f.pdfSig, 99, P::Missing, R::DokumVersionFile},
        {"documentation changed", f.verzeSig, f.pdf + " ", f.pdfSig, 25, P::Mismatch, R::DownloadedFile},
        {"documentation with the new version's signature", f.verzeSig, f.pdf, f.zipSig, 25, P::OtherFile,
            R::DownloadedFile},
        {"documentation unsigned", f.verzeSig, f.pdf, std::nullopt, 25, P::Missing, R::DownloadedFile},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedHttpServer server;
        server.Set("/halvorne/verze.txt", f.verze);
        if (c.verzeSig)
            server.Set("/halvorne/verze.txt.minisig", *c.verzeSig);
        server.Set("/halvorne/DOKUMENTACE.PDF", c.pdf);
        if (c.pdfSig)
            server.Set("/halvorne/DOKUMENTACE.PDF.minisig", *c.pdfSig);
        WindowHarness h("dokum");
        PopulateTarget(h);
        DirectoryWatch watch(h.Target());
        Form_Run->Flow().SetCheckAndDownloadDokumParams(
            DokumParamSet{server.Address("halvorne"), "DOKUMENTACE.PDF", h.Target()});
        EXPECT_TRUE(Form_Run->Flow().CheckAndDownloadDokumFiles());
        const std::vector<std::string> changes = watch.VisibleChanges();
        EXPECT_EQ(h.ExitCode(), c.exitCode);
        if (c.problem == P::None) {
            EXPECT_TRUE(EndedWith(h, 21));
            EXPECT_TRUE(ReadFile(h.Target() + "DOKUMENTACE.PDF") == c.pdf) << "saved bytes differ";
            continue;
        }
        EXPECT_TRUE(Form_Run->isVisible());
        EXPECT_TRUE(h.terminations.empty());
        EXPECT_EQ(Form_Run->Label_Msg->text(),
            Message(c.problem, c.role == R::DokumVersionFile ? "verze.txt" : "DOKUMENTACE.PDF", c.role));
        EXPECT_EQ(ListTree(h.Target()), kOldTree);
        EXPECT_TRUE(changes.empty()) << "the target directory showed: " << changes.front();
    }
}

TEST_F(SignedFlow, AVersionFileOlderThanOneSeenIsRefusedAndADamagedMemoryIsNamed) {
    const std::string dir = tmp_->path().string();
    const std::string keys = DEMO_KEY_DIR;
    const ms::KeyPair demo{keys + "/halvorne-demo.pub", keys + "/halvorne-demo.key", ""};
    const std::string old = "5.10\r\n" + ms::HashLine(dir, "EVMAJ_SETUP.ZIP");
    WriteFile(dir + "/old-verze.txt", old);
    const std::string oldSig =
        ReadFile(ms::Sign(demo, dir + "/old-verze.txt", {false, "timestamp:1000000000\tfile:verze.txt\thashed", ""}));
    FreshState();
    auto check = [&](const std::string& verze, const std::string& sig) {
        ScriptedHttpServer server;
        server.Set("/halvorne/verze.txt", verze);
        server.Set("/halvorne/verze.txt.minisig", sig);
        WindowHarness h;
        UseState();
        Form_Run->Flow().SetCheckAndDownloadVersionParams(
            VersionParamSet{"", server.Address("halvorne"), "verze.txt", "", ""},
            VersionParamSet{"5.30", server.Address("halvorne"), "verze.txt", "EVMAJ_SETUP.ZIP", h.Target()});
        Form_Run->Flow().CheckAndDownloadVersionFiles(false);
        return std::make_pair(h.ExitCode(), Form_Run->Label_Msg->text());
    };
    // Never seen the newer one: the old file is taken (nothing newer, 29).
    EXPECT_EQ(check(old, oldSig).first, 29);
    // Once the newer one was seen, the old one served again is refused.
    FreshState();
    EXPECT_EQ(check(files_.verze, files_.verzeSig).first, 29);
    const auto replayed = check(old, oldSig);
    EXPECT_EQ(replayed.first, 99);
    EXPECT_EQ(
        replayed.second, Message(signature::Problem::Replayed, "verze.txt", transfer::SignedFileRole::VersionFile));
    // A memory that cannot be read is no empty memory: the run stops and names it.
    const std::string stateFile = state_->prefix() + "halvorne/seen-signatures.txt";
    WriteFile(stateFile, "damaged\n");
    const auto damaged = check(files_.verze, files_.verzeSig);
    EXPECT_EQ(damaged.first, 99);
    EXPECT_TRUE(damaged.second.contains(QString::fromStdString(stateFile))) << damaged.second.toStdString();
}

TEST_F(SignedFlow, TheConnectionTestAsksForNoSignature) {
    ScriptedHttpServer server;
    server.Set("/halvorne/verze.txt", files_.verze); // no signature at all
    WindowHarness h;
    Form_Run->Flow().SetCheckAndDownloadVersionParams(
        VersionParamSet{"", server.Address("halvorne"), "verze.txt", "", ""}, VersionParamSet{"", "", "", "", ""});
    EXPECT_TRUE(Form_Run->Flow().CheckAndDownloadVersionFiles(true));
    EXPECT_EQ(server.RequestLines(), std::vector<std::string>{"GET /halvorne/verze.txt HTTP/1.0"});
}

} // namespace
