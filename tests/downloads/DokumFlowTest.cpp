// The documentation download driven in-process against loopback servers.
#include "tests/support/LoopbackServer.h"
#include "tests/support/Ports.h"
#include "tests/support/WebServers.h"
#include "WindowHarness.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

using namespace tests::support;
using Tree = std::set<std::string>;

namespace {

const std::string kPdf = "%PDF-1.4\n" + std::string(30000, 'p') + "\n%%EOF\n";

bool RunDokum(WindowHarness& h, const std::string& serverDir, const std::string& target = "") {
    Form_Run->Flow().SetCheckAndDownloadDokumParams(
        DokumParamSet{serverDir, "DOKUMENTACE.PDF", target.empty() ? h.Target() : target});
    return Form_Run->Flow().CheckAndDownloadDokumFiles();
}

void PopulateTarget(const WindowHarness& h) {
    WriteFile(h.Target() + "DOKUMENTACE_OLD.PDF", "old");
    std::filesystem::create_directory(h.Target() + "archiv");
    WriteFile(h.Target() + "archiv/keep.txt", "k");
}

const Tree kOldTree = {"DOKUMENTACE_OLD.PDF", "archiv/", "archiv/keep.txt"};

} // namespace

TEST(DokumFlow, EveryEndWithItsExitCodeStatusAndMessage) {
    struct Case {
        std::string name;
        std::optional<ScriptedReply> versionFile; // nullopt: 404
        std::optional<ScriptedReply> dokFile;
        bool refused;
        bool missingTarget;
        int exitCode;
        QString status;
        QColor statusColour;
        bool messageVisible;
        QString message;
        QColor messageColour;
        bool closed;
        Tree tree;
        std::string saved; // content of the saved file when the tree has it
    };
    const Tree savedTree = {"DOKUMENTACE.PDF", "archiv/", "archiv/keep.txt"};
    const std::vector<Case> cases = {
        {"saved", ScriptedReply{200, "OK", "5.30\r\n"}, ScriptedReply{200, "OK", kPdf}, false, false, 21, kEnded, kBlue,
            false, {}, {}, true, savedTree, kPdf},
        {"empty documentation saved", ScriptedReply{200, "OK", "5.30\r\n"}, ScriptedReply{200, "OK", ""}, false, false,
            21, kEnded, kBlue, false, {}, {}, true, savedTree, ""},
        {"version file of exactly 5 bytes passes", ScriptedReply{200, "OK", "5.30\n"}, ScriptedReply{200, "OK", kPdf},
            false, false, 21, kEnded, kBlue, false, {}, {}, true, savedTree, kPdf},
        {"version file of 4 bytes", ScriptedReply{200, "OK", "5.30"}, ScriptedReply{200, "OK", kPdf}, false, false, 29,
            kEnded, kBlue, true, "", kBlack, true, kOldTree, ""},
        {"version file 404", std::nullopt, ScriptedReply{200, "OK", kPdf}, false, false, 29, kEnded, kBlue, true, "",
            kBlack, true, kOldTree, ""},
        {"refused connection", std::nullopt, std::nullopt, true, false, 29, kNoConnection, kRed, true, "", kBlack, true,
            kOldTree, ""},
        {"documentation 404", ScriptedReply{200, "OK", "5.30\r\n"}, std::nullopt, false, false, 29, kCancelled, kRed,
            false, {}, {}, false, kOldTree, ""},
        {"documentation 503", ScriptedReply{200, "OK", "5.30\r\n"}, ScriptedReply{503, "Service Unavailable", ""},
            false, false, 99, kCancelled, kRed, true, "503 Service Unavailable", kBlack, false, kOldTree, ""},
        {"no target directory", ScriptedReply{200, "OK", "5.30\r\n"}, ScriptedReply{200, "OK", kPdf}, false, true, 25,
            kEnded, kBlue, true, "", kRed, false, kOldTree, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedHttpServer server;
        if (c.versionFile)
            server.Set("/halvorne/verze.txt", *c.versionFile);
        if (c.dokFile)
            server.Set("/halvorne/DOKUMENTACE.PDF", *c.dokFile);
        WindowHarness h("dokum");
        PopulateTarget(h);
        const std::string dir = c.refused ? "http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/halvorne/"
                                          : server.Address("halvorne");
        const std::string target = c.missingTarget ? h.Target() + "missing/" : h.Target();
        const bool connected = RunDokum(h, dir, target);
        EXPECT_EQ(connected, !c.refused);
        EXPECT_EQ(h.ExitCode(), c.exitCode);
        EXPECT_EQ(Form_Run->Label_Top->text(), c.status);
        EXPECT_EQ(TextColour(Form_Run->Label_Top), c.statusColour);
        // Closing the window hides the message line.
        EXPECT_EQ(Form_Run->Label_Msg->isVisible(), c.messageVisible && !c.closed);
        if (c.messageVisible) {
            const QString msg = c.missingTarget ? QStringLiteral("Soubor se nepodařilo uložit!\r\n") +
                                                      QString::fromStdString(target + "DOKUMENTACE.PDF")
                                                : c.message;
            EXPECT_EQ(Form_Run->Label_Msg->text(), msg);
            EXPECT_EQ(TextColour(Form_Run->Label_Msg), c.messageColour);
        }
        EXPECT_EQ(!Form_Run->isVisible(), c.closed);
        if (c.closed)
            EXPECT_TRUE(EndedWith(h, c.exitCode));
        else
            EXPECT_TRUE(h.terminations.empty());
        EXPECT_EQ(ListTree(h.Target()), c.tree);
        if (c.tree.count("DOKUMENTACE.PDF")) {
            EXPECT_TRUE(ReadFile(h.Target() + "DOKUMENTACE.PDF") == c.saved) << "saved bytes differ";
        }
        // A first stage that fails never asks for the documentation.
        const bool askedForDok = [&] {
            for (const auto& l : server.RequestLines())
                if (l.find("DOKUMENTACE.PDF") != std::string::npos)
                    return true;
            return false;
        }();
        EXPECT_EQ(askedForDok, c.exitCode != 29 || c.status == kCancelled);
    }
}

TEST(DokumFlow, StornoDuringTheDownloadEndsAtOnceWith25) {
    ScriptedHttpServer server;
    server.Set("/halvorne/verze.txt", "5.30\r\n");
    server.Set("/halvorne/DOKUMENTACE.PDF", ScriptedReply{200, "OK", std::string(400000, 'd'), 4096, 20});
    WindowHarness h("dokum");
    PopulateTarget(h);
    // Part of the body has arrived: the download is under way.
    h.WhenReady(
        [&h] { return h.ExitCode() == 25 && Form_Run->Gauge1->maximum() == 400000 && Form_Run->Gauge1->value() > 0; },
        [] { Form_Run->BitBtn_Storno->click(); });
    RunDokum(h, server.Address("halvorne"));
    ASSERT_FALSE(h.terminations.empty());
    EXPECT_EQ(h.terminations.front(), 25);
    EXPECT_EQ(ListTree(h.Target()), kOldTree);
}

TEST(DokumFlow, AgainstNginxDirectlyAndThroughTinyproxy) {
    NginxServer nginx(std::string(HALVORNE_SOURCE_DIR) + "/demo/www", {.copyRoot = true});
    ASSERT_TRUE(nginx.Running()) << nginx.Error();
    TinyProxyServer proxy;
    ASSERT_TRUE(proxy.Running()) << proxy.Error();
    for (bool viaProxy : {false, true}) {
        SCOPED_TRACE(viaProxy ? "through tinyproxy" : "direct");
        for (const std::string file : {"DOKUMENTACE.PDF", "CHYBI.PDF"}) {
            WindowHarness h("dokum");
            PopulateTarget(h);
            Form_Master->Run().RunParameters.UseProxy = viaProxy;
            Form_Master->Run().RunParameters.ProxyName = "127.0.0.1";
            Form_Master->Run().RunParameters.ProxyPort = proxy.Port();
            Form_Run->Flow().SetCheckAndDownloadDokumParams(DokumParamSet{nginx.Address("halvorne"), file, h.Target()});
            EXPECT_TRUE(Form_Run->Flow().CheckAndDownloadDokumFiles());
            if (file == "DOKUMENTACE.PDF") {
                EXPECT_EQ(h.ExitCode(), 21);
                EXPECT_TRUE(ReadFile(h.Target() + file) ==
                            ReadFile(std::string(HALVORNE_SOURCE_DIR) + "/demo/www/halvorne/DOKUMENTACE.PDF"))
                    << "saved bytes differ";
            } else {
                EXPECT_EQ(h.ExitCode(), 29);
                EXPECT_EQ(ListTree(h.Target()), kOldTree);
                EXPECT_TRUE(Form_Run->isVisible());
            }
        }
    }
}
