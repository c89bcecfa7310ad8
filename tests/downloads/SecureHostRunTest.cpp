// Halvorne as the host runs it, built as a publisher builds it: an https
// address and the demo's public key. The demo's signed files are served by
// nginx over HTTPS with a test CA (SSL_CERT_FILE), directly and through
// tinyproxy; a file whose signature fails leaves the target directory
// untouched while the program runs, and ends with 25 once the user closes
// the window. Nothing shows in the target directory under any name while
// the refused file is received into it without one.
#include "DirectoryWatch.h"
#include "LocalServers.h"
#include "TestPki.h"
#include "WebServers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#ifndef SECURE_PROGRAM
#error "SECURE_PROGRAM must name the program under test"
#endif
#ifndef SECURE_PORT
#error "SECURE_PORT must be the port of the program's https address"
#endif

using namespace testsupport;
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
        nginx_ = std::make_unique<NginxServer>(kDemo, SECURE_PORT, cert.CertFile, cert.KeyFile);
    }
    void TearDown() override {
        for (pid_t pid : started_) {
            if (::waitpid(pid, nullptr, WNOHANG) == 0) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
        }
    }

    void WriteIni(bool useProxy, int port) {
        WriteFile(tmp_.prefix() + "Halvorne.INI", "[Proxy Server]\r\nUseProxy=" + std::string(useProxy ? "1" : "0") +
                                                      "\r\nProxyName=127.0.0.1\r\nProxyPort=" + std::to_string(port) +
                                                      "\r\n");
    }

    pid_t Start(std::vector<std::string> args, const std::string& display = "") {
        args.insert(args.begin(), program_);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string home = (tmp_.path() / "home").string();
        const std::string ca = pki_->CaFile();
        pid_t pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            ::setenv("HOME", home.c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", home.c_str(), 1);
            ::setenv("SSL_CERT_FILE", ca.c_str(), 1); // the test CA, as the demo trusts its own
            if (display.empty()) {
                ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            } else {
                ::setenv("QT_QPA_PLATFORM", "xcb", 1);
                ::setenv("DISPLAY", display.c_str(), 1);
            }
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        started_.push_back(pid);
        return pid;
    }

    // The exit code, or -1 when the program was still running at the deadline.
    static int Wait(pid_t pid, int seconds) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid)
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return -1;
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
    std::vector<pid_t> started_;
};

TEST_F(SecureHostRun, SignedFilesOverHttpsDirectlyAndThroughTinyproxy) {
    testsrv::TinyProxyServer tinyproxy;
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
    fs::permissions(nginx_->Root() + "/halvorne/DOKUMENTACE.PDF", fs::perms::owner_read | fs::perms::owner_write |
                                                                     fs::perms::group_read | fs::perms::others_read);
    WriteIni(false, 0);
    XvfbDisplay x;
    DirectoryWatch watch(target_);
    const pid_t pid = Start(Dokum(), x.Name());
    // The run refuses the file and waits with its message for the user.
    std::vector<std::string> windows;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((windows = x.FindWindows("evidence majetku")).empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_FALSE(windows.empty()) << "no transfer window";
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    x.Xdotool({"windowfocus", "--sync", windows.front()});
    x.Xdotool({"key", "--window", windows.front(), "Escape"});
    EXPECT_EQ(Wait(pid, 20), 25);
    EXPECT_EQ(ListTree(target_), kOldTree);
    EXPECT_EQ(ReadFile(target_ + "EVMAJ_OLD.ZIP"), "old");
    const std::vector<std::string> changes = watch.VisibleChanges();
    EXPECT_TRUE(changes.empty()) << "the target directory showed: " << changes.front();
    EXPECT_GT(watch.AnonymousWrites(), 0u) << "the file was received where it would have been saved";
}

} // namespace
