// The run: its parameters from the command line and the configuration
// file, the stored texts, the message box, and the way the program ends.
// The transfer flow reaches the program through it (TransferHost).
#pragma once

#include "startup/core/RunParameters.h"
#include "startup/flow/Shell.h"
#include "transfer/flow/TransferHost.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace startup::flow {

class SettingsFlow;

class Program : public transfer::flow::TransferHost {
public:
    // Parses the arguments (args[0] is the program file and is not
    // examined) and reads the configuration file; a run not started by the
    // host only gets its warning. programFile is the full path of the
    // program file; the configuration file's name is derived from it.
    // terminate ends the process with a code other than 0 (tests replace
    // it to observe the code).
    Program(Shell& shell, const std::vector<std::string>& args, const std::string& programFile,
        std::function<void(int)> terminate);

    TRunParameters RunParameters;

    // Stored texts, unscrambled afresh on every call.
    std::string GetVersionDirAddress() const;
    std::string GetVersionFileName() const;
    std::string GetNewVersionFileName() const;
    std::string GetDokumDirAddress() const;
    std::string GetDokumFileName() const;
    std::string GetChangesHtmlAddress() const;
    std::string GetChangesPdfAddress() const;
    std::string GetUpdatePublicKey() const;
    std::string UnscrambleText(std::string_view stored) const;

    // Fills UseProxy, ProxyName, ProxyPort from the configuration file
    // (creating it with defaults when missing); a failed write is reported
    // in an error box "Unable to write to <file>" and the values are kept.
    void ReadProxySettings();

    // ExitCode != 0: the process ends at once with it. ExitCode == 0: the
    // event loop is asked to stop (also when it has not started yet).
    void EndProgram() override;

    // The settings dialog this program opens (set once both exist).
    void SetSettings(SettingsFlow* settings) { settings_ = settings; }
    Shell& GetShell() const { return shell_; }

    // TransferHost
    bool AutoMode() const override { return RunParameters.AutoMode; }
    std::string CaptionText() const override { return RunParameters.CaptionText; }
    transfer::flow::ProxySettings Proxy() const override;
    std::string VersionFileName() const override { return GetVersionFileName(); }
    std::string ChangesAddress(bool pdf) const override;
    std::string UpdatePublicKey() const override { return GetUpdatePublicKey(); }
    int ExitCode() const override { return RunParameters.ExitCode; }
    void SetExitCode(int code) override { RunParameters.ExitCode = code; }
    void ShowMainWindow() override;
    // Closes the main window, which ends the program.
    void CloseMainWindow() override;
    void OpenSettingsDialog() override;
    void ShowMessage(MessageKind kind, const std::string& text) override;

    // Set by EndProgram with ExitCode 0; start-up honours it before it
    // would enter the event loop.
    bool QuitRequested = false;
    // How EndProgram ends the process with a code other than 0.
    std::function<void(int)> TerminateProcess;
    // Set by EndProgram just before it calls TerminateProcess, with the
    // code it passed. Only observable when TerminateProcess returns
    // (tests): start-up then stops where the process would have ended.
    bool ProcessEnded = false;
    int EndedExitCode = 0;

private:
    Shell& shell_;
    SettingsFlow* settings_ = nullptr;
};

// The way a process ends at once with a code: receiving files discarded,
// streams flushed, no static destructors.
[[noreturn]] void EndProcessNow(int code);

} // namespace startup::flow
