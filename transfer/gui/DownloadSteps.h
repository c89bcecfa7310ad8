// Steps and texts shared by the two download operations of the transfer
// window (version check and documentation download).
#pragma once

#include "http/IdHTTP.h"
#include "transfer/gui/TransferHost.h"
#include "transfer/gui/TransferWidgets.h"

#include <QColor>
#include <QString>

#include <string>

class QObject;
class TForm_Run;
class TMemoryStream;

namespace transfer::gui {

// Status and message texts of the operations.
QString StatusConnecting();                                  // "NAVAZOVÁNÍ SPOJENÍ"
QString StatusDownloading(const std::string& fileName);      // "Stahování souboru " + name
QString SaveFailedMessage(const std::string& dir, const std::string& fileName);
QString BadVersionMessage(const QString& text);

// The version-information file is code page 1250.
QString FromCp1250(const std::string& bytes);
// Texts of our own are UTF-8; texts from a server may be anything.
QString FromUtf8OrCp1250(const std::string& bytes);

// Interception off, HTTP/1.0, the proxy of the run parameters (or none,
// port 80).
void PrepareClient(TIdHTTP& http, const TProxySettings& proxy);

// Disconnects the client when the operation leaves, however it leaves.
class DisconnectGuard {
public:
    explicit DisconnectGuard(TIdHTTP& http) : http_(http) {}
    ~DisconnectGuard();
    DisconnectGuard(const DisconnectGuard&) = delete;
    DisconnectGuard& operator=(const DisconnectGuard&) = delete;
private:
    TIdHTTP& http_;
};

// Holds a flag set for the life of an operation.
class OperationFlag {
public:
    explicit OperationFlag(bool& flag) : flag_(flag) { flag_ = true; }
    ~OperationFlag() { flag_ = false; }
    OperationFlag(const OperationFlag&) = delete;
    OperationFlag& operator=(const OperationFlag&) = delete;
private:
    bool& flag_;
};

// A failed request: exit code and message line by the error's text.
void ReportFailure(TForm_Run& form, TTransferHost& host, const std::string& errorText);

// Saves the downloaded stream as dir + fileName in place of every file in
// dir. Sets FinishedOk, shows the end of the connection, and leaves 21 or,
// on failure, 25 with the red message. Returns whether the file was saved.
bool SaveIntoTarget(TForm_Run& form, TTransferHost& host, QObject* sender,
                    const std::string& dir, const std::string& fileName, const TMemoryStream& stream);

} // namespace transfer::gui
