// A program without a public key asks for nothing but the files
// themselves: no signature request, and the window as it always was.
#include "tests/support/LoopbackServer.h"
#include "WindowHarness.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

using namespace tests::support;

TEST(UnsignedFlow, WithoutAKeyNoSignatureIsAskedFor) {
    ScriptedHttpServer server;
    server.Set("/halvorne/verze.txt", "5.30\r\n");
    server.Set("/halvorne/EVMAJ_SETUP.ZIP", "PK\x03\x04 new version");
    WindowHarness h;
    ASSERT_EQ(Form_Master->Run().GetUpdatePublicKey(), "");
    h.AnswerDialog({Answer::Download});
    Form_Run->Flow().SetCheckAndDownloadVersionParams(
        VersionParamSet{"", server.Address("halvorne"), "verze.txt", "", ""},
        VersionParamSet{"5.10", server.Address("halvorne"), "verze.txt", "EVMAJ_SETUP.ZIP", h.Target()});
    Form_Run->Flow().CheckAndDownloadVersionFiles(false);
    EXPECT_EQ(h.ExitCode(), 21);
    EXPECT_EQ(server.RequestLines(),
        (std::vector<std::string>{"GET /halvorne/verze.txt HTTP/1.0", "GET /halvorne/EVMAJ_SETUP.ZIP HTTP/1.0"}));
}
