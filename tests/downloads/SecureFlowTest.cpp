// The operations over HTTPS against nginx with a test CA, with the demo's
// signed files: the whole version check directly and through tinyproxy's
// tunnel, a certificate that fails named on the message line as a failed
// connection, and Storno in the middle of a TLS download.
#include "tests/support/DirectoryWatch.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/Ports.h"
#include "tests/support/WebServers.h"
#include "tests/support/TestPki.h"
#include "tests/support/WebServers.h"
#include "WindowHarness.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <cstdlib>
#include <memory>
#include <random>

using namespace tests::support;
using Tree = std::set<std::string>;

namespace {

const std::string kDemo = std::string(HALVORNE_SOURCE_DIR) + "/demo/www";
const Tree kOldTree = {"EVMAJ_OLD.ZIP", "archiv/", "archiv/keep.txt"};
const QString kFailedSecure = QStringLiteral("Zabezpečené spojení se serverem nelze navázat: ");

class SecureFlow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        tmp_ = new TempDir();
        const std::string dir = tmp_->path().string();
        pki_ = new TestPki(dir);
        std::filesystem::create_directory(dir + "/no-certs");
        ::setenv("SSL_CERT_FILE", pki_->CaFile().c_str(), 1);
        ::setenv("SSL_CERT_DIR", (dir + "/no-certs").c_str(), 1);
        const CertificateFiles good = pki_->Loopback();
        const CertificateFiles expired = pki_->Issue({"expired", {"localhost"}, {"127.0.0.1"}, -30, -1});
        const CertificateFiles other = pki_->Issue({"other", {"update.example.test"}, {}});
        nginx_ =
            new NginxServer(kDemo, NginxOptions{.copyRoot = true, .certFile = good.CertFile, .keyFile = good.KeyFile});
        expired_ = new NginxServer(
            kDemo, NginxOptions{.copyRoot = true, .certFile = expired.CertFile, .keyFile = expired.KeyFile});
        otherHost_ = new NginxServer(
            kDemo, NginxOptions{.copyRoot = true, .certFile = other.CertFile, .keyFile = other.KeyFile});
        // A slow copy of the demo files with a big new version for Storno.
        slowRoot_ = dir + "/slow";
        std::filesystem::create_directories(slowRoot_ + "/halvorne");
        for (const char* f : {"verze.txt", "verze.txt.minisig"})
            std::filesystem::copy_file(kDemo + "/halvorne/" + f, slowRoot_ + "/halvorne/" + f);
        std::string big(3 << 20, '\0');
        std::mt19937 rng(3);
        for (auto& c : big)
            c = static_cast<char>(rng());
        tests::support::WriteFile(slowRoot_ + "/halvorne/EVMAJ_SETUP.ZIP", big);
        tests::support::WriteFile(
            slowRoot_ + "/halvorne/EVMAJ_SETUP.ZIP.minisig", ReadFile(kDemo + "/halvorne/EVMAJ_SETUP.ZIP.minisig"));
        slow_ = new tests::support::NginxServer(
            slowRoot_, {.copyRoot = true, .certFile = good.CertFile, .keyFile = good.KeyFile, .rate = "512k"});
    }
    static void TearDownTestSuite() {
        delete slow_;
        delete otherHost_;
        delete expired_;
        delete nginx_;
        delete pki_;
        delete tmp_;
        ::unsetenv("SSL_CERT_FILE");
        ::unsetenv("SSL_CERT_DIR");
    }
    static void PopulateTarget(const WindowHarness& h) {
        WriteFile(h.Target() + "EVMAJ_OLD.ZIP", "old");
        std::filesystem::create_directory(h.Target() + "archiv");
        WriteFile(h.Target() + "archiv/keep.txt", "k");
    }
    static void RunCheck(WindowHarness& h, const std::string& dir) {
        Form_Run->Flow().SetCheckAndDownloadVersionParams(VersionParamSet{"", dir, "verze.txt", "", ""},
            VersionParamSet{"5.10", dir, "verze.txt", "EVMAJ_SETUP.ZIP", h.Target()});
        Form_Run->Flow().CheckAndDownloadVersionFiles(false);
    }

    static TempDir* tmp_;
    static TestPki* pki_;
    static NginxServer *nginx_, *expired_, *otherHost_;
    static tests::support::NginxServer* slow_;
    static std::string slowRoot_;
};

TempDir* SecureFlow::tmp_ = nullptr;
TestPki* SecureFlow::pki_ = nullptr;
NginxServer *SecureFlow::nginx_, *SecureFlow::expired_, *SecureFlow::otherHost_;
tests::support::NginxServer* SecureFlow::slow_ = nullptr;
std::string SecureFlow::slowRoot_;

TEST_F(SecureFlow, SignedNewVersionOverHttpsDirectlyAndThroughTinyproxy) {
    tests::support::TinyProxyServer proxy;
    ASSERT_TRUE(proxy.Running()) << proxy.Error();
    for (bool viaProxy : {false, true}) {
        SCOPED_TRACE(viaProxy ? "through tinyproxy" : "direct");
        WindowHarness h;
        PopulateTarget(h);
        Form_Master->Run().RunParameters.UseProxy = viaProxy;
        Form_Master->Run().RunParameters.ProxyName = "127.0.0.1";
        Form_Master->Run().RunParameters.ProxyPort = proxy.Port();
        h.AnswerDialog({Answer::Download});
        RunCheck(h, nginx_->Address("halvorne"));
        EXPECT_EQ(h.ExitCode(), 21);
        EXPECT_TRUE(EndedWith(h, 21));
        EXPECT_EQ(h.dialogVersionTexts, std::vector<QString>{"5.30"});
        EXPECT_TRUE(ReadFile(h.Target() + "EVMAJ_SETUP.ZIP") == ReadFile(kDemo + "/halvorne/EVMAJ_SETUP.ZIP"))
            << "saved bytes differ";
        EXPECT_EQ(ListTree(h.Target()), (Tree{"EVMAJ_SETUP.ZIP", "archiv/", "archiv/keep.txt"}));
    }
}

TEST_F(SecureFlow, ACertificateThatFailsIsAFailedConnectionNamedOnTheMessageLine) {
    {
        WindowHarness h;
        PopulateTarget(h);
        RunCheck(h, expired_->Address("halvorne"));
        EXPECT_EQ(h.ExitCode(), 55);
        EXPECT_EQ(Form_Run->Label_Top->text(), kNoConnection);
        EXPECT_EQ(TextColour(Form_Run->Label_Top), kRed);
        EXPECT_EQ(
            Form_Run->Label_Msg->text(), kFailedSecure + QStringLiteral("platnost certifikátu serveru vypršela."));
        EXPECT_TRUE(Form_Run->isVisible());
        EXPECT_EQ(h.dialogShowings, 0);
        EXPECT_EQ(ListTree(h.Target()), kOldTree);
    }
    {
        // The documentation download would close its window on a failed
        // first request; a certificate problem stays on screen instead.
        WindowHarness h("dokum");
        PopulateTarget(h);
        Form_Run->Flow().SetCheckAndDownloadDokumParams(
            DokumParamSet{otherHost_->Address("halvorne"), "DOKUMENTACE.PDF", h.Target()});
        EXPECT_FALSE(Form_Run->Flow().CheckAndDownloadDokumFiles());
        EXPECT_EQ(h.ExitCode(), 55);
        EXPECT_EQ(Form_Run->Label_Top->text(), kNoConnection);
        EXPECT_EQ(Form_Run->Label_Msg->text(), kFailedSecure + QStringLiteral("certifikát patří jinému serveru."));
        EXPECT_TRUE(Form_Run->isVisible());
        EXPECT_TRUE(h.terminations.empty());
        EXPECT_EQ(ListTree(h.Target()), kOldTree);
    }
}

TEST_F(SecureFlow, StornoDuringATlsDownloadEndsAtOnceWith25) {
    const std::string dir = "https://127.0.0.1:" + std::to_string(slow_->Port()) + "/halvorne/";
    WindowHarness h;
    PopulateTarget(h);
    DirectoryWatch watch(h.Target());
    h.AnswerDialog({Answer::Download});
    int codeWhenPressed = -1;
    h.WhenReady(
        [&h] {
            return h.ExitCode() == 25 && Form_Run->Gauge1->maximum() == (3 << 20) && Form_Run->Gauge1->value() > 0;
        },
        [&] {
            codeWhenPressed = h.ExitCode();
            Form_Run->BitBtn_Storno->click();
        });
    RunCheck(h, dir);
    EXPECT_EQ(codeWhenPressed, 25);
    ASSERT_FALSE(h.terminations.empty());
    EXPECT_EQ(h.terminations.front(), 25);
    EXPECT_EQ(ListTree(h.Target()), kOldTree);
    EXPECT_TRUE(watch.VisibleChanges().empty());
}

} // namespace
