// The start-up flow against the recording views: the start-up sequence and
// its exit codes, the main window's commands, and the settings dialog's
// rules with the configuration file on disk. No display and no server: the
// same cases run on Linux and under wine.
#include "tests/support/FakeViews.h"

#include "ScratchDir.h"

#include "startup/core/IniFile.h"
#include "startup/core/StartupTexts.h"
#include "startup/core/StoredTextValues.h"
#include "startup/flow/HalvorneFlow.h"
#include "startup/flow/WindowTexts.h"
#include "transfer/core/ErrorClass.h"
#include "transfer/flow/TransferTexts.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>

namespace {

using namespace startup::flow;
using tests::support::RecordingSettingsView;
using tests::support::RecordingShell;
using tests::support::RecordingTransferView;

std::string Marker() {
    return {startup::stored::LaunchMarkerFirst(), startup::stored::LaunchMarkerSecond(),
        startup::stored::LaunchMarkerThird()};
}

// Nothing listens there.
const std::string kDeadServer = "http://127.0.0.1:1/halvorne/";

class StartupFlowCases : public ::testing::Test {
protected:
    void Build(std::vector<std::string> words) {
        std::vector<std::string> args{Program(), Marker()};
        args.insert(args.end(), words.begin(), words.end());
        Start(args);
    }
    void Start(const std::vector<std::string>& args) {
        FlowOptions o;
        o.TerminateProcess = [this](int code) { terminations.push_back(code); };
        flow = std::make_unique<HalvorneFlow>(shell, transferView, settingsView, args, Program(), o);
        transferView.Flow = &flow->Transfer();
        settingsView.Flow = &flow->Settings();
    }
    // Aims the checks at a port nobody listens on.
    void AimAtDeadServer() {
        transfer::flow::VersionParamSet set;
        set.CurrentVersion = "1.00";
        set.ServerDirAddress = kDeadServer;
        set.VersionFileName = "verze.txt";
        set.NewFileName = "SETUP.ZIP";
        set.TargetDir = dir.prefix();
        flow->Transfer().SetCheckAndDownloadVersionParams(set, set);
    }
    std::string Program() const { return dir.file("Halvorne"); }
    std::string IniFile() const { return dir.file("Halvorne.INI"); }
    TRunParameters& Params() const { return flow->GetProgram().RunParameters; }

    crosstest::ScratchDir dir;
    RecordingShell shell;
    RecordingTransferView transferView;
    RecordingSettingsView settingsView;
    std::unique_ptr<HalvorneFlow> flow;
    std::vector<int> terminations;
};

// ---- the start-up sequence ----

TEST_F(StartupFlowCases, ARunNotStartedByTheHostWarnsAndEndsWith0WithoutAWindow) {
    Start({Program(), "xyz", "chkver", "/v:1", "/p:" + dir.prefix(), "auto"});
    ASSERT_EQ(shell.Messages.size(), 1u);
    EXPECT_EQ(shell.Messages[0].Kind, MessageKind::Warning);
    EXPECT_NE(shell.Messages[0].Text.find(startup::texts::kNotFromHostAfter), std::string::npos);
    EXPECT_EQ(flow->Run(), 0);
    EXPECT_TRUE(flow->GetProgram().QuitRequested);
    EXPECT_EQ(shell.LoopsRun, 0);
    EXPECT_FALSE(transferView.WindowShown);
    EXPECT_FALSE(shell.MainVisible);
    EXPECT_TRUE(terminations.empty());
    // Nothing touched: no configuration file either.
    EXPECT_FALSE(std::filesystem::exists(IniFile()));
}

TEST_F(StartupFlowCases, InvalidParametersSayWhyAndEndWith99) {
    Build({"auto"}); // neither "chkver" nor "dokum"
    EXPECT_EQ(flow->Run(), transfer::kExitOtherFailure);
    ASSERT_EQ(shell.Messages.size(), 1u);
    EXPECT_EQ(shell.Messages[0].Kind, MessageKind::Error);
    EXPECT_EQ(shell.Messages[0].Text, startup::texts::kInvalidParameters);
    EXPECT_EQ(terminations, std::vector<int>{99});
    EXPECT_EQ(shell.LoopsRun, 0);
}

TEST_F(StartupFlowCases, TheFirstStartByTheHostWritesTheConfigurationFile) {
    Build({"chkver", "/v:1.00", "/p:" + dir.prefix()});
    ASSERT_TRUE(std::filesystem::exists(IniFile()));
    TIniFile ini(IniFile());
    EXPECT_EQ(ini.ReadInteger(startup::texts::kProxySection, startup::texts::kKeyUseProxy, -1), 0);
    EXPECT_EQ(ini.ReadInteger(startup::texts::kProxySection, startup::texts::kKeyProxyPort, -1), 0);
    EXPECT_EQ(shell.MainCaption, Params().CaptionText);
    EXPECT_EQ(transferView.Caption, Params().CaptionText);
    EXPECT_TRUE(settingsView.TestButton); // the interactive run
}

TEST_F(StartupFlowCases, TheAutomaticCheckThatCannotConnectWaitsWithItsMessageUntilStorno) {
    Build({"chkver", "/v:1.00", "/p:" + dir.prefix(), "auto"});
    EXPECT_FALSE(settingsView.TestButton);
    shell.WhileLooping = [&] {
        // The check ended: the window is up with its message, nothing ended.
        EXPECT_TRUE(transferView.WindowShown);
        EXPECT_TRUE(transferView.IsVisible(transfer::flow::TransferPart::MessageLine));
        EXPECT_TRUE(terminations.empty());
        transferView.Flow->OnStorno();
    };
    // The test's stored texts name a server nobody answers for.
    EXPECT_EQ(flow->Run(), transfer::kExitNoConnection);
    EXPECT_EQ(terminations.front(), transfer::kExitNoConnection);
    EXPECT_EQ(flow->Transfer().MainSet.ServerDirAddress, kDeadServer);
    EXPECT_EQ(shell.LoopsRun, 1);
}

// The main window's check and the settings dialog's test use this run's
// "/v:" and "/p:" and the stored server texts, also on a "dokum" run.
TEST_F(StartupFlowCases, TheSequenceHandsTheRunsParametersToTheTransferFlow) {
    const std::string target = dir.file("out dir"); // no trailing separator typed
    Build({"DOKUM", "/P:" + target, "/v:5.20"});
    shell.WhileLooping = [&] { flow->Main().OnExit(); };
    EXPECT_EQ(flow->Run(), 0);
    const transfer::flow::VersionParamSet& test = flow->Transfer().TestSet;
    const transfer::flow::VersionParamSet& main = flow->Transfer().MainSet;
    EXPECT_EQ(test.CurrentVersion + test.NewFileName + test.TargetDir, "");
    EXPECT_EQ(test.ServerDirAddress, kDeadServer);
    EXPECT_EQ(test.VersionFileName, "verze.txt");
    EXPECT_EQ(main.CurrentVersion, "5.20");
    EXPECT_EQ(main.ServerDirAddress, kDeadServer);
    EXPECT_EQ(main.VersionFileName, "verze.txt");
    EXPECT_EQ(main.NewFileName, "SETUP.ZIP");
    EXPECT_EQ(main.TargetDir.substr(0, target.size()), target);
    EXPECT_EQ(main.TargetDir.size(), target.size() + 1); // with its separator
    EXPECT_FALSE(transferView.WindowShown);
}

TEST_F(StartupFlowCases, TheAutomaticDocumentationRunFetchesWithItsParameters) {
    Build({"dokum", "/p:" + dir.prefix(), "auto"});
    shell.WhileLooping = [&] { ADD_FAILURE() << "the run ends by itself"; };
    // Nothing answers: nothing to download, and the window closed itself.
    EXPECT_EQ(flow->Run(), transfer::kExitNothingToDownload);
    EXPECT_EQ(terminations.front(), transfer::kExitNothingToDownload);
    EXPECT_EQ(flow->Transfer().MainSet.ServerDirAddress, kDeadServer);
    EXPECT_EQ(flow->Transfer().MainSet.NewFileName, "DOKUMENTACE.PDF");
    EXPECT_EQ(flow->Transfer().MainSet.TargetDir, dir.prefix());
    EXPECT_EQ(transferView.Closes, 1);
    EXPECT_EQ(shell.LoopsRun, 0);
}

// ---- the main window's commands ----

TEST_F(StartupFlowCases, TheInteractiveRunOpensTheMainWindowAndRunsTheLoop) {
    Build({"chkver", "/v:1.00", "/p:" + dir.prefix()});
    shell.WhileLooping = [&] {
        EXPECT_TRUE(shell.MainVisible);
        EXPECT_FALSE(transferView.WindowShown);
        flow->Main().OnExit();
    };
    EXPECT_EQ(flow->Run(), 0);
    EXPECT_EQ(shell.LoopsRun, 1);
    EXPECT_EQ(shell.MainCloses, 1);
    EXPECT_EQ(shell.Quits, std::vector<int>{0});
    EXPECT_TRUE(terminations.empty());
}

TEST_F(StartupFlowCases, F1NamesTheConfigurationFile) {
    Build({"chkver", "/v:1.00", "/p:" + dir.prefix()});
    flow->Main().OnHelp();
    ASSERT_EQ(shell.Messages.size(), 1u);
    EXPECT_EQ(shell.Messages[0].Kind, MessageKind::Information);
    EXPECT_EQ(shell.Messages[0].Text, std::string(texts::kIniFilePrefix) + Params().IniFileName);
}

TEST_F(StartupFlowCases, F9ChecksInTheTransferWindowAndStornoBringsTheMainWindowBack) {
    Build({"chkver", "/v:1.00", "/p:" + dir.prefix()});
    shell.WhileLooping = [&] {
        AimAtDeadServer();
        flow->Main().OnVersionCheck();
        EXPECT_FALSE(shell.MainVisible);
        EXPECT_TRUE(transferView.WindowShown);
        EXPECT_EQ(Params().ExitCode, transfer::kExitNoConnection);
        transferView.Flow->OnStorno();
        EXPECT_TRUE(shell.MainVisible);
        EXPECT_FALSE(transferView.WindowShown);
        EXPECT_TRUE(terminations.empty());
        // Esc in the main window ends the program with the check's code.
        flow->Main().OnEscape();
    };
    EXPECT_EQ(flow->Run(), transfer::kExitNoConnection);
    EXPECT_EQ(terminations, std::vector<int>{transfer::kExitNoConnection});
}

TEST_F(StartupFlowCases, EscInTheTransferWindowEndsThroughTheHiddenMainWindow) {
    Build({"chkver", "/v:1.00", "/p:" + dir.prefix()});
    AimAtDeadServer();
    flow->Main().OnVersionCheck();
    transferView.Flow->OnEscape();
    EXPECT_EQ(shell.MainCloses, 1);
    EXPECT_EQ(terminations, std::vector<int>{transfer::kExitNoConnection});
}

// ---- the settings dialog ----

TEST_F(StartupFlowCases, OpeningFillsFromTheFileWithThePortClampedOnceOnly) {
    Build({"chkver", "/v:1.00", "/p:" + dir.prefix()});
    {
        TIniFile ini(IniFile());
        ini.WriteBool(startup::texts::kProxySection, startup::texts::kKeyUseProxy, true);
        ini.WriteString(startup::texts::kProxySection, startup::texts::kKeyProxyName, "proxy.example");
        ini.WriteInteger(startup::texts::kProxySection, startup::texts::kKeyProxyPort, 70000);
    }
    flow->Main().OnSettings();
    EXPECT_TRUE(settingsView.Opened);
    EXPECT_TRUE(settingsView.Fields.UseProxy);
    EXPECT_EQ(settingsView.Fields.ProxyName, "proxy.example");
    EXPECT_EQ(settingsView.Fields.PortText, "65535");
    EXPECT_TRUE(settingsView.FieldsEnabled);
    EXPECT_EQ(Params().ProxyPort, 65535);
    // Open already: to the front, not filled again over what was typed.
    settingsView.Fields.ProxyName = "typed";
    flow->GetProgram().OpenSettingsDialog();
    EXPECT_EQ(settingsView.Shows, 1);
    EXPECT_EQ(settingsView.Fronted, 1);
    EXPECT_EQ(settingsView.Fields.ProxyName, "typed");
}

TEST_F(StartupFlowCases, TheCheckBoxOffEmptiesAndGreysTheFields) {
    Build({"chkver", "/v:1.00", "/p:" + dir.prefix()});
    flow->Settings().Open();
    settingsView.Fields = {true, "proxy", "8080"};
    flow->Settings().OnUseProxyClicked();
    EXPECT_TRUE(settingsView.FieldsEnabled);
    EXPECT_EQ(settingsView.Fields.ProxyName, "proxy");
    settingsView.Fields.UseProxy = false;
    flow->Settings().OnUseProxyClicked();
    EXPECT_FALSE(settingsView.FieldsEnabled);
    EXPECT_EQ(settingsView.Fields.ProxyName, "");
    EXPECT_EQ(settingsView.Fields.PortText, "0");
}

TEST_F(StartupFlowCases, SaveRefusesWhatTheFileCannotHoldAndWritesTheRest) {
    Build({"chkver", "/v:1.00", "/p:" + dir.prefix()});
    flow->Settings().Open();
    struct Case {
        ProxyFields fields;
        bool saved;
    };
    const Case cases[] = {
        {{true, "", "8080"}, false},
        {{true, "  ", "8080"}, false},
        {{true, "proxy", "0"}, false},
        {{true, "proxy", "abc"}, false},
        {{true, "pro\nxy", "8080"}, false},
        {{false, "a\rb", "0"}, false},
        {{true, " proxy.example ", "3128"}, true},
        {{false, "", "0"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fields.ProxyName + "/" + c.fields.PortText);
        shell.Messages.clear();
        settingsView.Opened = true;
        settingsView.Fields = c.fields;
        flow->Settings().OnSave();
        EXPECT_EQ(!settingsView.Opened, c.saved);
        if (!c.saved) {
            ASSERT_EQ(shell.Messages.size(), 1u);
            EXPECT_EQ(shell.Messages[0].Kind, MessageKind::Warning);
            EXPECT_EQ(shell.Messages[0].Text, texts::kRefused);
            continue;
        }
        EXPECT_TRUE(shell.Messages.empty());
        TIniFile ini(IniFile());
        const std::string name = c.fields.UseProxy ? "proxy.example" : "";
        EXPECT_EQ(ini.ReadBool(startup::texts::kProxySection, startup::texts::kKeyUseProxy, !c.fields.UseProxy),
            c.fields.UseProxy);
        EXPECT_EQ(ini.ReadString(startup::texts::kProxySection, startup::texts::kKeyProxyName, "?"), name);
        EXPECT_EQ(Params().ProxyName, name);
        EXPECT_EQ(Params().UseProxy, c.fields.UseProxy);
    }
}

TEST_F(StartupFlowCases, StornoPutsBackWhatTheDialogWasOpenedWith) {
    Build({"chkver", "/v:1.00", "/p:" + dir.prefix()});
    flow->Settings().Open();
    settingsView.Fields = {true, "proxy", "3128"};
    flow->Settings().OnSave();
    flow->Settings().Open();
    // Saved meanwhile by the test's own hand, then cancelled: the run keeps
    // what the dialog opened with.
    Params().ProxyName = "changed";
    Params().ProxyPort = 1;
    flow->Settings().OnStorno();
    EXPECT_FALSE(settingsView.Opened);
    EXPECT_EQ(Params().ProxyName, "proxy");
    EXPECT_EQ(Params().ProxyPort, 3128);
    EXPECT_TRUE(Params().UseProxy);
}

TEST_F(StartupFlowCases, TheConnectionTestSaysWhenItFails) {
    Build({"chkver", "/v:1.00", "/p:" + dir.prefix()});
    AimAtDeadServer();
    flow->Settings().Open();
    settingsView.Fields = {false, "", "0"};
    flow->Settings().OnTest();
    ASSERT_EQ(shell.Messages.size(), 1u);
    EXPECT_EQ(shell.Messages[0].Kind, MessageKind::Warning);
    EXPECT_EQ(shell.Messages[0].Text, texts::kTestFailed);
    // The settings were saved before the test.
    EXPECT_TRUE(std::filesystem::exists(IniFile()));
    EXPECT_TRUE(settingsView.Opened);
}

// ---- the port field ----

// The port field's text, over many generated texts: a number in range is
// itself, beyond the range the nearer limit, anything else 0.
TEST(PortText, AnyTextBecomesAPortInRange) {
    std::mt19937_64 gen(1208);
    const std::string alphabet = "0123456789 +-x\t.";
    for (int i = 0; i < 20000; ++i) {
        std::string t;
        const int n = static_cast<int>(gen() % 24);
        for (int k = 0; k < n; ++k)
            t += alphabet[gen() % alphabet.size()];
        const int port = InterpretPortText(t);
        ASSERT_GE(port, kPortMin) << t;
        ASSERT_LE(port, kPortMax) << t;
        // The reference: strip blanks, then the whole rest must be a
        // signed decimal number that fits 64 bits.
        std::size_t b = t.find_first_not_of(" \t"), e = t.find_last_not_of(" \t");
        const std::string core = b == std::string::npos ? "" : t.substr(b, e - b + 1);
        long long value = 0;
        bool number = false;
        try {
            std::size_t used = 0;
            value = std::stoll(core, &used, 10);
            number = used == core.size() && core.find_first_of(" \t") == std::string::npos;
        } catch (const std::exception&) {
            number = false;
        }
        const int expected = !number ? 0 : value < kPortMin ? kPortMin : value > kPortMax ? kPortMax : int(value);
        ASSERT_EQ(port, expected) << "'" << t << "'";
    }
    EXPECT_EQ(InterpretPortText("9223372036854775807"), kPortMax);
    EXPECT_EQ(InterpretPortText("9223372036854775808"), 0);
    EXPECT_EQ(InterpretPortText("-9223372036854775808"), kPortMin);
    EXPECT_EQ(InterpretPortText(" 8080 "), 8080);
}

TEST(IniLine, OnlyLineBreaksAndNulBreakALine) {
    EXPECT_FALSE(BreaksIniLine("proxy.example:8080 ž"));
    EXPECT_TRUE(BreaksIniLine("a\rb"));
    EXPECT_TRUE(BreaksIniLine("a\nb"));
    EXPECT_TRUE(BreaksIniLine(std::string("a\0b", 3)));
}

} // namespace
