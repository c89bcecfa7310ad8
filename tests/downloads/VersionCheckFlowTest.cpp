// The version check driven in-process against loopback servers: every end
// of the operation with its exit code, status line and message line.
#include "tests/support/LoopbackServer.h"
#include "tests/support/Ports.h"
#include "tests/support/WebServers.h"
#include "WindowHarness.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

using namespace tests::support;
using Tree = std::set<std::string>;

namespace {

const std::string kZip = std::string("PK\x03\x04", 4) + std::string(70000, 'z') + "end";

struct Expect {
    int exitCode;
    QString status;
    QColor statusColour;
    bool messageVisible;
    QString message; // checked when visible
    QColor messageColour;
    bool closed; // the operation closed the window (the program ends)
};

void CheckEnd(WindowHarness& h, const Expect& e, const std::string& what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(h.ExitCode(), e.exitCode);
    EXPECT_EQ(Form_Run->Label_Top->text(), e.status);
    EXPECT_EQ(TextColour(Form_Run->Label_Top), e.statusColour);
    // Closing the window hides the message line.
    EXPECT_EQ(Form_Run->Label_Msg->isVisible(), e.messageVisible && !e.closed);
    if (e.messageVisible) {
        EXPECT_EQ(Form_Run->Label_Msg->text(), e.message);
        EXPECT_EQ(TextColour(Form_Run->Label_Msg), e.messageColour);
    }
    EXPECT_EQ(!Form_Run->isVisible(), e.closed);
    if (e.closed && e.exitCode != 0) {
        EXPECT_TRUE(EndedWith(h, e.exitCode));
    }
    if (e.closed && e.exitCode == 0) {
        EXPECT_TRUE(Form_Master->Run().QuitRequested && h.terminations.empty());
    }
    if (!e.closed) {
        EXPECT_TRUE(h.terminations.empty());
    }
}

bool RunCheck(WindowHarness& h, const std::string& serverDir, const std::string& installed, bool test = false,
    const std::string& target = "") {
    const std::string t = target.empty() ? h.Target() : target;
    Form_Run->Flow().SetCheckAndDownloadVersionParams(VersionParamSet{"", serverDir, "verze.txt", "", ""},
        VersionParamSet{installed, serverDir, "verze.txt", "EVMAJ_SETUP.ZIP", t});
    return Form_Run->Flow().CheckAndDownloadVersionFiles(test);
}

void PopulateTarget(const WindowHarness& h) {
    WriteFile(h.Target() + "EVMAJ_OLD.ZIP", "old");
    WriteFile(h.Target() + "readme.txt", "r");
    std::filesystem::create_directory(h.Target() + "archiv");
    WriteFile(h.Target() + "archiv/keep.txt", "k");
}

const Tree kOldTree = {"EVMAJ_OLD.ZIP", "readme.txt", "archiv/", "archiv/keep.txt"};

} // namespace

TEST(VersionCheckFlow, EveryEndWithItsExitCodeStatusAndMessage) {
    struct Case {
        std::string name;
        std::optional<ScriptedReply> versionFile; // nullopt: 404
        std::optional<ScriptedReply> newFile;
        std::string installed;
        std::vector<Answer> answers;
        bool refused;       // nothing listens
        bool missingTarget; // the target directory does not exist
        Expect expect;
        Tree tree; // the target directory afterwards
    };
    const QString saveFailed = QStringLiteral("Soubor se nepodařilo uložit!\r\n");
    const std::vector<Case> cases = {
        {"new version saved", ScriptedReply{200, "OK", "5.30\r\nnotes"}, ScriptedReply{200, "OK", kZip}, "5.10",
            {Answer::Download}, false, false, {21, kEnded, kBlue, false, {}, {}, true},
            {"EVMAJ_SETUP.ZIP", "archiv/", "archiv/keep.txt"}},
        {"not newer", ScriptedReply{200, "OK", "5.23\r\n"}, std::nullopt, "5.23", {}, false, false,
            {29, kEnded, kBlue, true, "", kBlack, true}, kOldTree},
        {"dialog left with Storno", ScriptedReply{200, "OK", "5.30\r\n"}, ScriptedReply{200, "OK", kZip}, "5.10",
            {Answer::Storno}, false, false, {0, kEnded, kBlue, true, "", kBlack, true}, kOldTree},
        {"version file 404", std::nullopt, std::nullopt, "5.10", {}, false, false,
            {29, kCancelled, kRed, true, "", kBlack, false}, kOldTree},
        {"version file 500", ScriptedReply{500, "Internal Server Error", "x"}, std::nullopt, "5.10", {}, false, false,
            {99, kCancelled, kRed, true, "", kBlack, false}, kOldTree},
        {"version file of 4 bytes", ScriptedReply{200, "OK", "5.30"}, std::nullopt, "5.10", {}, false, false,
            {29, kConnected, kGreen, true, "", kBlack, false}, kOldTree},
        {"refused connection", std::nullopt, std::nullopt, "5.10", {}, true, false,
            {55, kNoConnection, kRed, true, kHint, kBlack, false}, kOldTree},
        {"new-version file 404", ScriptedReply{200, "OK", "5.30\r\n"}, std::nullopt, "5.10", {Answer::Download}, false,
            false, {29, kCancelled, kRed, false, {}, {}, false}, kOldTree},
        {"new-version file 500", ScriptedReply{200, "OK", "5.30\r\n"}, ScriptedReply{500, "Internal Server Error", "x"},
            "5.10", {Answer::Download}, false, false,
            {99, kCancelled, kRed, true, "500 Internal Server Error", kBlack, false}, kOldTree},
        {"saving failed: no target directory", ScriptedReply{200, "OK", "5.30\r\n"}, ScriptedReply{200, "OK", kZip},
            "5.10", {Answer::Download}, false, true, {25, kEnded, kBlue, true, "", kRed, false}, kOldTree},
        {"server sends a page instead of a version", ScriptedReply{200, "OK", "<html><body>moved</body></html>"},
            std::nullopt, "5.10", {}, false, false,
            {99, kEnded, kBlue, true, QStringLiteral("Chybný formát čísla verze: <html"), kRed, false}, kOldTree},
        {"installed version is not a number", ScriptedReply{200, "OK", "5.30\r\n"}, std::nullopt, "5.x", {}, false,
            false, {99, kEnded, kBlue, true, QStringLiteral("Chybný formát čísla verze: 5.x"), kRed, false}, kOldTree},
        {"no installed version", ScriptedReply{200, "OK", "5.30\r\n"}, std::nullopt, "", {}, false, false,
            {99, kEnded, kBlue, true, QStringLiteral("Chybný formát čísla verze: (prázdný text)"), kRed, false},
            kOldTree},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedHttpServer server;
        if (c.versionFile)
            server.Set("/halvorne/verze.txt", *c.versionFile);
        if (c.newFile)
            server.Set("/halvorne/EVMAJ_SETUP.ZIP", *c.newFile);
        WindowHarness h;
        PopulateTarget(h);
        h.AnswerDialog(c.answers);
        const std::string dir = c.refused ? "http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/halvorne/"
                                          : server.Address("halvorne");
        const std::string target = c.missingTarget ? h.Target() + "missing/" : h.Target();
        Expect e = c.expect;
        if (c.missingTarget)
            e.message = saveFailed + QString::fromStdString(target + "EVMAJ_SETUP.ZIP");
        const bool connected = RunCheck(h, dir, c.installed, false, target);
        EXPECT_EQ(connected, !c.refused);
        CheckEnd(h, e, c.name);
        EXPECT_EQ(ListTree(h.Target()), c.tree);
        EXPECT_EQ(h.dialogShowings, static_cast<int>(c.answers.size()));
        if (c.tree.count("EVMAJ_SETUP.ZIP")) {
            EXPECT_TRUE(ReadFile(h.Target() + "EVMAJ_SETUP.ZIP") == kZip) << "saved bytes differ";
        }
    }
}

TEST(VersionCheckFlow, ComparesVersionsAsDecimalNumbers) {
    struct Case {
        std::string file;
        std::string installed;
        bool dialog;
        QString shown;
    };
    const std::vector<Case> cases = {
        {"1.9\r\n", "1.10", true, "1.9"},
        {"1.10\r\n", "1.9", false, {}},
        {"2.0\r\n", "2.00", false, {}},
        {"10.125", "10.11", true, "10.12"},
        {"10.125", "10.12", false, {}},
        {"  7.1xyz", "7.0", true, "7.1"},
        {"5,30\r\n", "5.10", true, "5,30"},
        {"5.30\r\n", "5,30", false, {}},
    };
    ScriptedHttpServer server;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + " vs " + c.installed);
        server.Set("/halvorne/verze.txt", c.file);
        WindowHarness h;
        h.AnswerDialog({Answer::Storno});
        RunCheck(h, server.Address("halvorne"), c.installed);
        EXPECT_EQ(h.dialogShowings, c.dialog ? 1 : 0);
        EXPECT_EQ(h.ExitCode(), c.dialog ? 0 : 29);
        if (c.dialog) {
            EXPECT_EQ(h.dialogVersionTexts.at(0), c.shown);
        }
    }
}

TEST(VersionCheckFlow, ChangesShownTwiceThenDownload) {
    ScriptedHttpServer server;
    server.Set("/halvorne/verze.txt", "5.30\r\n");
    server.Set("/halvorne/EVMAJ_SETUP.ZIP", kZip);
    WindowHarness h;
    h.AnswerDialog({Answer::ChangesHtml, Answer::ChangesPdf, Answer::Download});
    RunCheck(h, server.Address("halvorne"), "5.10");
    EXPECT_EQ(h.dialogShowings, 3);
    EXPECT_EQ(h.BrowserLog(),
        Form_Master->Run().GetChangesHtmlAddress() + "\n" + Form_Master->Run().GetChangesPdfAddress() + "\n");
    EXPECT_EQ(h.ExitCode(), 21);
    EXPECT_TRUE(EndedWith(h, 21));
    EXPECT_TRUE(ReadFile(h.Target() + "EVMAJ_SETUP.ZIP") == kZip) << "saved bytes differ";
    EXPECT_FALSE(Form_Run->Flow().ReshowConnected);
}

TEST(VersionCheckFlow, StornoDuringTheDownloadEndsAtOnceWith25) {
    ScriptedHttpServer server;
    server.Set("/halvorne/verze.txt", "5.30\r\n");
    // 400 kB in 4 kB pieces every 20 ms: about two seconds.
    server.Set("/halvorne/EVMAJ_SETUP.ZIP", ScriptedReply{200, "OK", std::string(400000, 'd'), 4096, 20});
    WindowHarness h;
    PopulateTarget(h);
    h.AnswerDialog({Answer::Download});
    int codeWhenPressed = -1;
    // Part of the body has arrived: the download is under way.
    h.WhenReady(
        [&h] { return h.ExitCode() == 25 && Form_Run->Gauge1->maximum() == 400000 && Form_Run->Gauge1->value() > 0; },
        [&] {
            codeWhenPressed = h.ExitCode();
            Form_Run->BitBtn_Storno->click();
        });
    RunCheck(h, server.Address("halvorne"), "5.10");
    EXPECT_EQ(codeWhenPressed, 25);
    ASSERT_FALSE(h.terminations.empty());
    EXPECT_EQ(h.terminations.front(), 25);
    EXPECT_EQ(ListTree(h.Target()), kOldTree) << "an interrupted download changes nothing";
}

TEST(VersionCheckFlow, TestModeReportsTheConnectionOnly) {
    ScriptedHttpServer server; // no version file: 404
    WindowHarness h;
    PopulateTarget(h);
    Form_Run->Flow().SetCheckAndDownloadVersionParams(
        VersionParamSet{"", server.Address("halvorne"), "verze.txt", "", ""}, VersionParamSet{});
    EXPECT_TRUE(Form_Run->Flow().CheckAndDownloadVersionFiles(true));
    EXPECT_TRUE(Form_Run->isVisible());
    EXPECT_TRUE(h.terminations.empty());
    EXPECT_EQ(ListTree(h.Target()), kOldTree);
    Form_Run->Flow().SetCheckAndDownloadVersionParams(
        VersionParamSet{"", "http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/", "verze.txt", "", ""},
        VersionParamSet{});
    EXPECT_FALSE(Form_Run->Flow().CheckAndDownloadVersionFiles(true));
    EXPECT_TRUE(Form_Run->isVisible());
}

TEST(VersionCheckFlow, UsesTheConfiguredProxy) {
    ScriptedHttpServer proxy;
    proxy.Set("/halvorne/verze.txt", "5.23\r\n");
    WindowHarness h;
    Form_Master->Run().RunParameters.UseProxy = true;
    Form_Master->Run().RunParameters.ProxyName = "127.0.0.1";
    Form_Master->Run().RunParameters.ProxyPort = proxy.Port();
    RunCheck(h, "http://update.invalid/halvorne/", "5.23");
    EXPECT_EQ(h.ExitCode(), 29);
    ASSERT_EQ(proxy.RequestLines().size(), 1u);
    EXPECT_EQ(proxy.RequestLines()[0], "GET http://update.invalid/halvorne/verze.txt HTTP/1.0");
}

// The demo server's files through nginx, directly and through tinyproxy.
TEST(VersionCheckFlow, AgainstNginxDirectlyAndThroughTinyproxy) {
    NginxServer nginx(std::string(HALVORNE_SOURCE_DIR) + "/demo/www", {.copyRoot = true});
    ASSERT_TRUE(nginx.Running()) << nginx.Error();
    TinyProxyServer proxy;
    ASSERT_TRUE(proxy.Running()) << proxy.Error();
    for (bool viaProxy : {false, true}) {
        SCOPED_TRACE(viaProxy ? "through tinyproxy" : "direct");
        auto configure = [&] {
            Form_Master->Run().RunParameters.UseProxy = viaProxy;
            Form_Master->Run().RunParameters.ProxyName = "127.0.0.1";
            Form_Master->Run().RunParameters.ProxyPort = proxy.Port();
        };
        { // success
            WindowHarness h;
            PopulateTarget(h);
            configure();
            h.AnswerDialog({Answer::Download});
            RunCheck(h, nginx.Address("halvorne"), "5.10");
            EXPECT_EQ(h.ExitCode(), 21);
            EXPECT_EQ(h.dialogVersionTexts, std::vector<QString>{"5.30"});
            EXPECT_TRUE(ReadFile(h.Target() + "EVMAJ_SETUP.ZIP") ==
                        ReadFile(std::string(HALVORNE_SOURCE_DIR) + "/demo/www/halvorne/EVMAJ_SETUP.ZIP"))
                << "saved bytes differ";
            EXPECT_EQ(ListTree(h.Target()), (Tree{"EVMAJ_SETUP.ZIP", "archiv/", "archiv/keep.txt"}));
        }
        { // version file missing
            WindowHarness h;
            configure();
            RunCheck(h, nginx.Address("nothing-here"), "5.10");
            EXPECT_EQ(h.ExitCode(), 29);
            EXPECT_EQ(Form_Run->Label_Top->text(), kCancelled);
            EXPECT_TRUE(Form_Run->isVisible());
        }
        { // new-version file missing
            WindowHarness h;
            configure();
            h.AnswerDialog({Answer::Download});
            Form_Run->Flow().SetCheckAndDownloadVersionParams(VersionParamSet{},
                VersionParamSet{"5.10", nginx.Address("halvorne"), "verze.txt", "NO_SUCH.ZIP", h.Target()});
            Form_Run->Flow().CheckAndDownloadVersionFiles(false);
            EXPECT_EQ(h.ExitCode(), 29);
            EXPECT_FALSE(Form_Run->Label_Msg->isVisible());
            EXPECT_TRUE(Form_Run->isVisible());
        }
    }
}

TEST(VersionCheckFlow, StornoDuringTheDownloadFromTheMainWindowReturnsToIt) {
    ScriptedHttpServer server;
    server.Set("/halvorne/verze.txt", "5.30\r\n");
    server.Set("/halvorne/EVMAJ_SETUP.ZIP", ScriptedReply{200, "OK", std::string(400000, 'd'), 4096, 20});
    WindowHarness h;
    PopulateTarget(h);
    Form_Master->Run().RunParameters.AutoMode = false; // started from the main window's menu
    h.AnswerDialog({Answer::Download});
    h.WhenReady(
        [&h] { return h.ExitCode() == 25 && Form_Run->Gauge1->maximum() == 400000 && Form_Run->Gauge1->value() > 0; },
        [] { Form_Run->BitBtn_Storno->click(); });
    RunCheck(h, server.Address("halvorne"), "5.10");
    // The program goes on; the interrupted download is reported as a lost
    // connection on the hidden window, and nothing on disk changed.
    EXPECT_TRUE(h.terminations.empty());
    EXPECT_FALSE(Form_Run->isVisible());
    EXPECT_TRUE(Form_Main->isVisible());
    EXPECT_EQ(h.ExitCode(), 55);
    EXPECT_EQ(Form_Run->Label_Top->text(), kCancelled);
    EXPECT_EQ(Form_Run->Label_Msg->text(), kHint);
    EXPECT_EQ(ListTree(h.Target()), kOldTree);
}
