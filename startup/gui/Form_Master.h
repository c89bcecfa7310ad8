// The hidden master object: owns the run parameters, the stored texts, the
// message box and the way the program ends.
#pragma once

#include "startup/core/RunParameters.h"
#include "transfer/gui/TransferHost.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Also the transfer windows' way into the program (TTransferHost).
class TForm_Master : public QWidget, public transfer::gui::TTransferHost {
    Q_OBJECT
public:
    // Master creation: parses the arguments (args[0] is the program file and
    // is not examined) and reads the configuration file. programFile is the
    // full path of the program file; IniFileName is derived from it.
    TForm_Master(const std::vector<std::string>& args, const std::string& programFile, QWidget* parent = nullptr);

    TRunParameters RunParameters;

    // Stored texts, unscrambled afresh on every call.
    std::string GetVersionDirAddress() const;
    std::string GetVersionFileName() const;
    std::string GetNewVersionFileName() const;
    std::string GetDokumDirAddress() const;
    std::string GetDokumFileName() const;
    std::string GetChangesHtmlAddress() const;
    std::string GetChangesPdfAddress() const;
    // The publisher's public key for signed updates (a minisign key line);
    // empty when this program takes files unsigned.
    std::string GetUpdatePublicKey() const;

    // Plain text of a stored text (character by character, same length).
    std::string UnscrambleText(std::string_view stored) const;

    bool ExtractParamValue(const std::string& word, const std::string& prefix, std::string& value) const;

    // Modal message box with the kind's icon and caption and one "OK" button.
    void ShowMessageDlg(TMsgDlgType kind, const QString& text) override;

    // ExitCode != 0: the process ends at once with it. ExitCode == 0: the
    // event loop is asked to stop (also when it has not started yet).
    void EndProgram() override;

    // Fills UseProxy, ProxyName, ProxyPort from the configuration file
    // (creating it with defaults when missing); a failed write is reported
    // in an error box "Unable to write to %s" and the values are kept.
    void ReadProxySettings();

    // What the transfer windows read and do through TTransferHost.
    bool AutoMode() const override { return RunParameters.AutoMode; }
    std::string CaptionText() const override { return RunParameters.CaptionText; }
    transfer::gui::TProxySettings Proxy() const override;
    std::string VersionFileName() const override { return GetVersionFileName(); }
    std::string ChangesAddress(bool pdf) const override;
    std::string UpdatePublicKey() const override { return GetUpdatePublicKey(); }
    int ExitCode() const override { return RunParameters.ExitCode; }
    void SetExitCode(int code) override { RunParameters.ExitCode = code; }
    void ShowMainWindow() override;
    void CloseMainWindow() override;
    void OpenSettingsDialog() override;

    // Set by EndProgram with ExitCode 0; start-up honours it before it
    // would enter the event loop.
    bool QuitRequested = false;

    // How EndProgram ends the process. Tests replace it to observe the code.
    std::function<void(int)> TerminateProcess;

    // Set by EndProgram just before it calls TerminateProcess, with the code
    // it passed. Only observable when TerminateProcess returns (tests): start-up
    // then stops where the process would have ended.
    bool ProcessEnded = false;
    int EndedExitCode = 0;
};

// The single instance while it exists; owned by whoever created it.
extern QPointer<TForm_Master> Form_Master;
