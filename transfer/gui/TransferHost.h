// What the transfer windows need from the program that runs them. The
// master object implements it; the transfer windows know nothing else of
// start-up, so they can be built and tested without the start-up windows.
#pragma once

#include <QString>

#include <string>

// The kinds of the program's message box: warning ("Upozornění"), error
// ("Chyba"), information ("Informace").
enum class TMsgDlgType { mtWarning, mtError, mtInformation };

namespace transfer::gui {

// How the HTTP client reaches the server: directly, or through this proxy.
struct TProxySettings {
    bool UseProxy = false;
    std::string ProxyName;
    int ProxyPort = 0;
};

class TTransferHost {
public:
    virtual ~TTransferHost() = default;

    // The run parameters the transfer windows read.
    virtual bool AutoMode() const = 0;
    virtual std::string CaptionText() const = 0;
    virtual TProxySettings Proxy() const = 0;
    // Stored texts, asked afresh on every call.
    virtual std::string VersionFileName() const = 0;
    virtual std::string ChangesAddress(bool pdf) const = 0;
    // The publisher's public key for signed updates (a minisign key line);
    // empty when the program takes files unsigned.
    virtual std::string UpdatePublicKey() const = 0;

    // The run's exit code, which the operations keep up to date.
    virtual int ExitCode() const = 0;
    virtual void SetExitCode(int code) = 0;

    // Ends the program with the exit code (at once when it is not 0).
    virtual void EndProgram() = 0;
    // The main window: shown again after an interactive check; closed (which
    // ends the program) when the automatic run's transfer window goes.
    virtual void ShowMainWindow() = 0;
    virtual void CloseMainWindow() = 0;
    // The connection-settings dialog, modeless.
    virtual void OpenSettingsDialog() = 0;
    // The program's modal message box with one "OK" button.
    virtual void ShowMessageDlg(TMsgDlgType kind, const QString& text) = 0;

protected:
    TTransferHost() = default;
    TTransferHost(const TTransferHost&) = default;
    TTransferHost& operator=(const TTransferHost&) = default;
};

} // namespace transfer::gui
