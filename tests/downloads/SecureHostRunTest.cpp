// Halvorne as the host runs it, built as a publisher builds it: an https
// address and the demo's public key. The demo's signed files are served by
// nginx over HTTPS with a test CA (SSL_CERT_FILE), directly and through
// tinyproxy; a file whose signature fails leaves the target directory
// untouched while the program runs, and ends with 25 once the user closes
// the window. Nothing shows in the target directory under any name while
// the refused file is received into it without one.
#include "tests/support/DirectoryWatch.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestPki.h"
#include "tests/support/WebServers.h"
#include "tests/support/XvfbDisplay.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>

#ifndef SECURE_PROGRAM
#error "SECURE_PROGRAM must name the program under test"
#endif
#ifndef SECURE_PORT
#error "SECURE_PORT must be the port of the program's https address"
#endif

using namespace tests::support;
namespace fs = std::filesystem;
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

} // namespace
