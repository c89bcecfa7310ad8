// The transfer window's flow: the HTTP client, the run's flags and the
// three operations run in the window (version check with the next-step
// loop, documentation download, change viewer), with the signature checks
// of signed updates. It talks to its window only through TransferView and
// to the program only through TransferHost. See TransferView.h for how a
// view forwards user events here.
#pragma once

#include "http/IdAntiFreeze.h"
#include "http/IdHTTP.h"
#include "transfer/core/SaveDownload.h"
#include "transfer/flow/TransferHost.h"
#include "transfer/flow/TransferView.h"

#include <cstdint>
#include <functional>
#include <string>

namespace transfer::flow {

// The version check's parameters: the connection test's set carries only
// the version directory and the version file.
struct VersionParamSet {
    std::string CurrentVersion;
    std::string ServerDirAddress;
    std::string VersionFileName;
    std::string NewFileName;
    std::string TargetDir;
};

// The documentation download's parameters; kept in the fields of the same
// names of the version check's set (FileName in NewFileName).
struct DokumParamSet {
    std::string ServerDirAddress;
    std::string FileName;
    std::string TargetDir;
};

class TransferFlow {
public:
    // Sets the window up for the run: caption, lines, "Nastavení" in the
    // automatic mode only; binds the client's events to the window.
    TransferFlow(TransferView& view, TransferHost& host);
    ~TransferFlow();
    TransferFlow(const TransferFlow&) = delete;
    TransferFlow& operator=(const TransferFlow&) = delete;

    TransferView& View() const { return view_; }
    TransferHost& Host() const { return host_; }

    // ---- user events, forwarded by the view ----
    void OnShown();
    void OnStorno();
    void OnSettings();
    void OnEscape();
    void OnDesktopClose();

    // ---- the window ----
    // Shows the window through the view (which reports OnShown).
    void ShowWindow();

    // ---- the operations ----
    // The version check (Test false) or the connection test (Test true).
    // Returns whether a connection was made. A call made while a check
    // runs runs nothing and returns the running check's state.
    void SetCheckAndDownloadVersionParams(const VersionParamSet& test, const VersionParamSet& main);
    bool CheckAndDownloadVersionFiles(bool test);
    bool VersionCheckRunning() const { return versionCheckRunning_; }

    void SetCheckAndDownloadDokumParams(const DokumParamSet& params);
    bool CheckAndDownloadDokumFiles();

    // The change notes in the registered browser (waits until it closes),
    // else the desktop's "open" for a local file, else a warning.
    void ShowChangesFile(const std::string& address);
    static std::string FindBrowserPath();
    // The change notes' address by format.
    std::string ShowFileName(bool pdf) const { return host_.ChangesAddress(pdf); }

    // ---- the status line's answers to the client's events ----
    void ConnectedInfo();
    void DisconnectedInfo();
    void WorkBegin(int64_t workCountMax);
    void Work(int64_t workCount);
    void WorkEnd();

    // What the message line says; shows it in place of the byte-count line
    // and the gauge.
    void ShowMessageLine(const std::string& text, Rgb colour);

    // ---- state the operations keep ----
    TIdHTTP Http;
    TIdAntiFreeze AntiFreeze;
    bool CloseWhenDone = false;
    bool FinishedOk = true;
    bool ConnectionMade = false;
    bool ReshowConnected = false;
    VersionParamSet TestSet;
    VersionParamSet MainSet;
    // Makes the checks a downloaded file must pass before it is saved
    // (transfer/core/SaveDownload.h), fresh for each download, given the
    // file's address. Unset: every file that arrived whole is saved.
    std::function<ReceivedFileChecks(const std::string& address)> MakeReceivedFileChecks;

private:
    void Closed();
    void LeaveForTheMainWindow();

    TransferView& view_;
    TransferHost& host_;
    bool versionCheckRunning_ = false;
    bool dokumDownloadRunning_ = false;
    // The gauge's maximum in bytes; the gauge itself counts in int, which
    // a file beyond 2 GiB exceeds.
    int64_t gaugeTotal_ = 100;
};

// Where count stands on a gauge of at most INT_MAX steps for a file of
// total bytes (see TransferFlow::Work); the maximum is GaugeMaximum(total).
int GaugeMaximum(int64_t total);
int GaugePosition(int64_t count, int64_t total);

} // namespace transfer::flow
