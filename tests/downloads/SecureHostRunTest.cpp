// Halvorne as the host runs it, built as a publisher builds it: an https
// address and the demo's public key. The demo's signed files are served by
// nginx over HTTPS with a test CA (SSL_CERT_FILE), directly and through
// tinyproxy; a file whose signature fails leaves the target directory
// untouched while the program runs, and ends with 25 once the user closes
// the window. Nothing shows in the target directory under any name while
// the refused file is received into it without one.
#include "tests/support/DirectoryWatch.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/Minisign.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestPki.h"
#include "tests/support/WebServers.h"
#include "tests/support/XvfbDisplay.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>

#ifndef SECURE_PROGRAM
#error "SECURE_PROGRAM must name the program under test"
#endif
#ifndef SECURE_PORT
#error "SECURE_PORT must be the port of the program's https address"
#endif
#ifndef DEMO_KEY_DIR
#error "DEMO_KEY_DIR must name demo/keys"
#endif

using namespace tests::support;
namespace fs = std::filesystem;
namespace ms = tests::support::minisign;
using Tree = std::set<std::string>;

namespace {

const std::string kDemo = std::string(HALVORNE_SOURCE_DIR) + "/demo/www";
const Tree kOldTree = {"EVMAJ_OLD.ZIP", "archiv/", "archiv/keep.txt"};

class SecureHostRun : public ::testing::Test {
protected:
    void SetUp() override {
        program_ = tmp_.prefix() + "Halvorne";
        fs::copy_file(SECURE_PROGRAM, program_);
        fs::create_directories(tmp_.path() / "home");
        target_ = tmp_.prefix() + "target/";
        fs::create_directory(target_);
        WriteFile(target_ + "EVMAJ_OLD.ZIP", "old");
        fs::create_directory(target_ + "archiv");
        WriteFile(target_ + "archiv/keep.txt", "k");
        pki_ = std::make_unique<TestPki>(tmp_.path().string());
        const CertificateFiles cert = pki_->Loopback();
        nginx_ = std::make_unique<NginxServer>(
            kDemo, NginxOptions{
                       .fixedPort = SECURE_PORT, .copyRoot = true, .certFile = cert.CertFile, .keyFile = cert.KeyFile});
        ASSERT_TRUE(nginx_->Running()) << nginx_->Error();
    }

    void WriteIni(bool useProxy, int port) {
        WriteFile(tmp_.prefix() + "Halvorne.INI", "[Proxy Server]\r\nUseProxy=" + std::string(useProxy ? "1" : "0") +
                                                      "\r\nProxyName=127.0.0.1\r\nProxyPort=" + std::to_string(port) +
                                                      "\r\n");
    }

    // Starts the program as the host does; the run is killed with the
    // fixture when it has not ended.
    Subprocess& Start(std::vector<std::string> args, const std::string& display = "") {
        args.insert(args.begin(), program_);
        const std::string home = (tmp_.path() / "home").string();
        SubprocessOptions o;
        // The test CA, as the demo trusts its own.
        o.env = {{"HOME", home}, {"XDG_CONFIG_HOME", home}, {"SSL_CERT_FILE", pki_->CaFile()}};
        if (display.empty()) {
            o.env["QT_QPA_PLATFORM"] = "offscreen";
        } else {
            o.env["QT_QPA_PLATFORM"] = "xcb";
            o.env["DISPLAY"] = display;
        }
        started_.push_back(std::make_unique<Subprocess>(args, o));
        return *started_.back();
    }

    // The exit code, or -1 when the program was still running at the
    // deadline (it is killed then) or did not end by itself.
    static int Wait(Subprocess& run, int seconds) {
        if (!run.WaitFor(std::chrono::seconds(seconds))) {
            run.Kill();
            return -1;
        }
        return run.Exited() ? run.ExitCode() : -1;
    }

    std::vector<std::string> Dokum() const { return {"+@+", "dokum", "/p:" + target_, "auto"}; }
    std::vector<std::string> Chkver(const std::string& v) const {
        return {"+@+", "chkver", "/v:" + v, "/p:" + target_, "auto"};
    }

    TempDir tmp_;
    std::unique_ptr<TestPki> pki_;
    std::unique_ptr<NginxServer> nginx_;
    std::string program_;
    std::string target_;
    std::vector<std::unique_ptr<Subprocess>> started_;
};

TEST_F(SecureHostRun, SignedFilesOverHttpsDirectlyAndThroughTinyproxy) {
    tests::support::TinyProxyServer tinyproxy;
    ASSERT_TRUE(tinyproxy.Running()) << tinyproxy.Error();
    for (bool viaProxy : {false, true}) {
        SCOPED_TRACE(viaProxy ? "through tinyproxy" : "direct");
        WriteFile(target_ + "EVMAJ_OLD.ZIP", "old");
        WriteIni(viaProxy, tinyproxy.Port());
        EXPECT_EQ(Wait(Start(Chkver("5.30")), 30), 29);
        EXPECT_EQ(ListTree(target_), kOldTree);
        EXPECT_EQ(Wait(Start(Dokum()), 30), 21);
        EXPECT_EQ(ListTree(target_), (Tree{"DOKUMENTACE.PDF", "archiv/", "archiv/keep.txt"}));
        EXPECT_TRUE(ReadFile(target_ + "DOKUMENTACE.PDF") == ReadFile(kDemo + "/halvorne/DOKUMENTACE.PDF"))
            << "saved bytes differ";
        fs::remove(target_ + "DOKUMENTACE.PDF");
    }
}

TEST_F(SecureHostRun, AFileWithAWrongSignatureNeverReachesTheTargetDirectory) {
    // The server's documentation is replaced; its signature is the genuine one's.
    WriteFile(nginx_->Root() + "/halvorne/DOKUMENTACE.PDF", "%PDF-1.4 not what the publisher signed");
    fs::permissions(nginx_->Root() + "/halvorne/DOKUMENTACE.PDF",
        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    WriteIni(false, 0);
    XvfbDisplay x;
    DirectoryWatch watch(target_);
    Subprocess& run = Start(Dokum(), x.Name());
    // The run refuses the file and waits with its message for the user.
    const std::vector<std::string> windows = x.WaitForWindow("evidence majetku");
    ASSERT_FALSE(windows.empty()) << "no transfer window";
    ASSERT_TRUE(WaitUntilIdle(run.Pid()))
        << "the run did not come to rest" << (run.Finished() ? ": it ended by itself" : "");
    x.Xdotool({"windowfocus", "--sync", windows.front()});
    x.Xdotool({"key", "--window", windows.front(), "Escape"});
    EXPECT_EQ(Wait(run, 20), 25);
    EXPECT_EQ(ListTree(target_), kOldTree);
    EXPECT_EQ(ReadFile(target_ + "EVMAJ_OLD.ZIP"), "old");
    const std::vector<std::string> changes = watch.VisibleChanges();
    EXPECT_TRUE(changes.empty()) << "the target directory showed: " << changes.front();
    EXPECT_GT(watch.AnonymousWrites(), 0u) << "the file was received where it would have been saved";
}

// Each attack a server under an attacker's control (on the network path or
// a mirror) can make with the publisher's genuine, validly signed files,
// against the real program: none may get a file saved, and each ends with
// its exit code once the user closes the window that names the refusal.
class TrustAttacks : public SecureHostRun {
protected:
    std::string Halvorne(const std::string& name) const { return nginx_->Root() + "/halvorne/" + name; }
    // Puts text on the server, readable by its workers.
    void Serve(const std::string& name, const std::string& text) {
        WriteFile(Halvorne(name), text);
        fs::permissions(Halvorne(name),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    }
    // Signs text as the publisher did, at the time the trusted comment
    // gives (empty: now), under name; returns the signature file's text.
    std::string SignedBy(const std::string& name, const std::string& text, const std::string& comment = "") {
        const std::string dir = tmp_.prefix() + "publisher";
        fs::create_directories(dir);
        WriteFile(dir + "/" + name, text);
        const std::string keys = DEMO_KEY_DIR;
        const ms::KeyPair demo{keys + "/halvorne-demo.pub", keys + "/halvorne-demo.key", ""};
        return ReadFile(ms::Sign(demo, dir + "/" + name, {false, comment, ""}));
    }
    void RestoreDemoFiles() {
        for (const char* f : {"verze.txt", "verze.txt.minisig", "DOKUMENTACE.PDF", "DOKUMENTACE.PDF.minisig"})
            Serve(f, ReadFile(kDemo + "/halvorne/" + f));
    }
    // Runs until the program ends by itself or, once it waits with its
    // window open, the user closes it; the exit code (-1: it never ended).
    int RunToTheEnd(const std::vector<std::string>& args, XvfbDisplay& x) {
        Subprocess& run = Start(args, x.Name());
        const std::vector<std::string> windows = x.WaitForWindow("evidence majetku");
        if (!windows.empty() && WaitUntilIdle(run.Pid())) {
            x.Xdotool({"windowfocus", "--sync", windows.front()});
            x.Xdotool({"key", "Escape"});
        }
        return Wait(run, 20);
    }
};

TEST_F(TrustAttacks, NoAttackOnTheSignedFilesGetsAFileSaved) {
    const std::string genuineVerze = ReadFile(kDemo + "/halvorne/verze.txt");
    const std::string genuinePdf = ReadFile(kDemo + "/halvorne/DOKUMENTACE.PDF");
    XvfbDisplay x;
    WriteIni(false, 0);
    // The genuine files, seen once: this machine now knows their signing times.
    ASSERT_EQ(Wait(Start(Chkver("5.30"), x.Name()), 30), 29);

    struct Attack {
        std::string name;
        std::function<void()> serve;
        std::vector<std::string> args;
        int exitCode;
    };
    const std::vector<Attack> attacks = {
        {"downgrade: an old documentation validly signed under its name",
            [&] {
                const std::string old = "%PDF-1.4 the documentation of an older release";
                Serve("DOKUMENTACE.PDF", old);
                Serve("DOKUMENTACE.PDF.minisig", SignedBy("DOKUMENTACE.PDF", old));
            },
            Dokum(), 25},
        {"kind swap: ED made Ed, the genuine file's hash served as the file",
            [&] {
                const std::string line = ms::HashLine(kDemo + "/halvorne", "DOKUMENTACE.PDF");
                std::string hash;
                for (std::size_t i = 0; i < 128; i += 2)
                    hash += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
                Serve("DOKUMENTACE.PDF", hash);
                std::string sig = ReadFile(kDemo + "/halvorne/DOKUMENTACE.PDF.minisig");
                const std::size_t line2 = sig.find('\n') + 1;
                // Base64 of "ED" begins "RU", of "Ed" "RW"; the key id and
                // the signature bytes after it stay untouched.
                ASSERT_EQ(sig.substr(line2, 2), "RU");
                sig[line2 + 1] = 'W';
                Serve("DOKUMENTACE.PDF.minisig", sig);
            },
            Dokum(), 25},
        {"replay: an older version file, validly signed, saying nothing is newer",
            [&] {
                const std::string old = "5.10\r\n" + ms::HashLine(kDemo + "/halvorne", "EVMAJ_SETUP.ZIP");
                Serve("verze.txt", old);
                Serve("verze.txt.minisig", SignedBy("verze.txt", old, "timestamp:1000000000\tfile:verze.txt\thashed"));
            },
            Chkver("5.10"), 99},
        {"replay: the documentation run sees the older version file too",
            [&] {
                const std::string old = "5.10\r\n" + ms::HashLine(kDemo + "/halvorne", "DOKUMENTACE.PDF");
                Serve("verze.txt", old);
                Serve("verze.txt.minisig", SignedBy("verze.txt", old, "timestamp:1000000000\tfile:verze.txt\thashed"));
            },
            Dokum(), 99},
        {"a signed version file that vouches for no new version",
            [&] {
                const std::string bare = "5.90\r\n";
                Serve("verze.txt", bare);
                Serve("verze.txt.minisig", SignedBy("verze.txt", bare));
            },
            Chkver("5.10"), 99},
        {"a version file far larger than any", [&] { Serve("verze.txt", genuineVerze + std::string(1 << 20, '#')); },
            Chkver("5.10"), 99},
    };
    for (const Attack& attack : attacks) {
        SCOPED_TRACE(attack.name);
        RestoreDemoFiles();
        attack.serve();
        DirectoryWatch watch(target_);
        EXPECT_EQ(RunToTheEnd(attack.args, x), attack.exitCode);
        EXPECT_EQ(ListTree(target_), kOldTree);
        EXPECT_EQ(ReadFile(target_ + "EVMAJ_OLD.ZIP"), "old");
        const std::vector<std::string> changes = watch.VisibleChanges();
        EXPECT_TRUE(changes.empty()) << "the target directory showed: " << changes.front();
    }

    // A proxy that refuses the tunnel with 404 is no connection, not a
    // missing file: 55, and the proxy's answer named.
    RestoreDemoFiles();
    ScriptedServer proxy(
        {ScriptStep::Read(), ScriptStep::Out("HTTP/1.0 404 Not Found\r\n\r\n"), ScriptStep::CloseNow()});
    WriteIni(true, proxy.Port());
    EXPECT_EQ(RunToTheEnd(Chkver("5.10"), x), 55);
    EXPECT_EQ(ListTree(target_), kOldTree);

    // The genuine files still pass, and a state file that cannot be read
    // stops the run with its name rather than forgetting what was seen.
    WriteIni(false, 0);
    EXPECT_EQ(Wait(Start(Dokum(), x.Name()), 30), 21);
    EXPECT_TRUE(ReadFile(target_ + "DOKUMENTACE.PDF") == genuinePdf);
    fs::remove(target_ + "DOKUMENTACE.PDF");
    WriteFile(target_ + "EVMAJ_OLD.ZIP", "old");
    WriteFile((tmp_.path() / "home" / "halvorne" / "seen-signatures.txt").string(), "damaged\n");
    EXPECT_EQ(RunToTheEnd(Dokum(), x), 99);
    EXPECT_EQ(ListTree(target_), kOldTree);
}

} // namespace
