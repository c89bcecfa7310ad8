// The steps the two download operations of the transfer window (version
// check, documentation download) have in common: start, fetch a small file
// into memory, report a failed fetch, download a file into the target
// directory and save it there, finish. Each operation is its own sequence
// of these steps plus the decisions that are only its own.
#pragma once

#include "startup/core/RunParameters.h"
#include "http/IdHTTP.h"
#include "transfer/core/SaveDownload.h"

#include <QColor>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QObject;
class TForm_Run;
class TFileStream;

namespace transfer::gui {

inline const QColor kBlue{0, 0, 255};
inline const QColor kGreen{0, 128, 0};
inline const QColor kRed{255, 0, 0};
inline const QColor kBlack{0, 0, 0};

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
void PrepareClient(TIdHTTP& http, const TRunParameters& run);

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
void ReportFailure(TForm_Run& form, TRunParameters& run, const std::string& errorText);

// A file to download into the target directory in place of its files.
struct DownloadRequest {
    std::string ServerDirAddress; // the address is ServerDirAddress + FileName
    std::string FileName;         // on the server and in TargetDir
    std::string TargetDir;        // a prefix: ends with the separator
    // Empty the gauge before the request rather than when its size arrives.
    bool ClearGaugeFirst = false;
};

// One run of a download operation. Creating it changes nothing; the steps
// are called in the operation's order. The client is disconnected when the
// object goes, however the operation leaves.
class DownloadOperation {
public:
    DownloadOperation(TForm_Run& form, TRunParameters& run, QObject* sender);
    DownloadOperation(const DownloadOperation&) = delete;
    DownloadOperation& operator=(const DownloadOperation&) = delete;

    // Exit code 0, no connection yet, "NAVAZOVÁNÍ SPOJENÍ"; the client set
    // up for this run's proxy.
    void Begin();

    // How a failed fetch of the small file is reported.
    enum class FailureReport {
        ByErrorText, // exit code and message line by the error's text
        Silently,    // the status line only; the caller decides the rest
    };
    // Fetches a small file (the version information) into memory with the
    // byte-count line hidden. Fetched: connected, exit code 29, the bytes.
    // Failed: the connection's end shown, reported as asked, no bytes.
    // Either way the connected status comes back when a connection was
    // made, with an empty message line.
    std::optional<std::vector<uint8_t>> FetchIntoMemory(const std::string& address, FailureReport report);

    // The connection ends as planned: "SPOJENÍ UKONČENO" once it is closed.
    void EndConnectionNormally();

    // Downloads the file of request into its target directory: exit code
    // 25 and the byte-count line while the body streams into a file there
    // that has no name yet; then, for a body that arrived whole, the
    // received-file check, and the save that replaces the directory's files
    // (21). A failed fetch is reported by its error text and leaves the
    // directory untouched; so does a refused or unsaveable file, reported
    // as a failed save. Returns whether the file was saved.
    bool DownloadIntoTarget(const DownloadRequest& request);

    // For a catch block around the steps: something none of them expects
    // was thrown; the run ends as a failure the user can read.
    void ReportUnexpectedFailure();

    // Disconnects; closes the window when mayClose and the operation
    // succeeded or asked for it (CloseWhenDone). Returns ConnectionMade.
    bool Finish(bool succeeded, bool mayClose);

private:
    void HideProgressLine();
    void ShowProgressLine();
    void ReportFetchFailure(const std::string& why, FailureReport report);
    void ShowConnectionAgain();
    bool SaveReceivedFile(const DownloadRequest& request, TFileStream& received,
                          const ReceivedFileChecks& checks);
    void ReportSaveFailure(const DownloadRequest& request, int exitCode, const QString& message);

    TForm_Run& form_;
    TRunParameters& run_;
    QObject* sender_;
    DisconnectGuard disconnectAtEnd_;
};

} // namespace transfer::gui
