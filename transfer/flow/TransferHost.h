// What the transfer flow needs of the program that runs it: the run's
// parameters and exit code, how the program ends, the main window, the
// settings dialog and the program's message box. The start-up flow
// implements it; the transfer flow knows nothing else of start-up, so it
// can be built and tested on its own. Text is UTF-8.
#pragma once

#include <string>

namespace transfer::flow {

// The kinds of the program's message box: warning ("Upozornění"), error
// ("Chyba"), information ("Informace"). Each view picks the icon and the
// caption by kind.
enum class MessageKind { Warning, Error, Information };

// How the HTTP client reaches the server: directly, or through this proxy.
struct ProxySettings {
    bool UseProxy = false;
    std::string ProxyName;
    int ProxyPort = 0;
};

class TransferHost {
public:
    virtual ~TransferHost() = default;

    // The run parameters the transfer flow reads.
    virtual bool AutoMode() const = 0;
    virtual std::string CaptionText() const = 0;
    virtual ProxySettings Proxy() const = 0;
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
    virtual void ShowMessage(MessageKind kind, const std::string& text) = 0;

protected:
    TransferHost() = default;
    TransferHost(const TransferHost&) = default;
    TransferHost& operator=(const TransferHost&) = default;
};

} // namespace transfer::flow
