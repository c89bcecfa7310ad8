// The transfer window: status line, byte-count line with gauge, message
// line, animated picture, "Storno" and "Nastavení". Its operations (version
// check, documentation download, change viewer) live in their own sources.
#pragma once

#include "http/IdAntiFreeze.h"
#include "http/IdHTTP.h"
#include "transfer/core/SaveDownload.h"

#include <QColor>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>

class QLabel;
class QPushButton;
class QMovie;
class QProgressBar;

struct VersionParamSet {
    std::string CurrentVersion;
    std::string ServerDirAddress;
    std::string VersionFileName;
    std::string NewFileName;
    std::string TargetDir;
};

// The documentation download's parameters; kept in the fields of the same
// names of MainSet (FileName in NewFileName).
struct DokumParamSet {
    std::string ServerDirAddress;
    std::string FileName;
    std::string TargetDir;
};

class TForm_Run : public QWidget {
    Q_OBJECT
public:
    explicit TForm_Run(QWidget* parent = nullptr); // runs FormCreate
    ~TForm_Run() override;

    // Child components
    TIdHTTP IdHTTP1;
    TIdAntiFreeze IdAntiFreeze1;
    QLabel* Label_Top = nullptr;
    QProgressBar* Gauge1 = nullptr;
    QLabel* Label_Msg = nullptr;
    QPushButton* BitBtn_Storno = nullptr;
    QLabel* Label_Download = nullptr;
    QPushButton* BitBtn_Set = nullptr;
    QWidget* Panel_Img = nullptr;
    QLabel* ImageGIf = nullptr;
    QMovie* GifMovie = nullptr;

    // State flags
    bool CloseWhenDone = false;
    bool FinishedOk = true;
    bool ConnectionMade = false;
    bool ReshowConnected = false;

    // Parameters of the operations
    VersionParamSet TestSet;
    VersionParamSet MainSet;

    // Makes the checks a downloaded file must pass before it is saved
    // (transfer/core/SaveDownload.h), fresh for each download, given the
    // file's address. Unset: every file that arrived whole is saved.
    std::function<transfer::ReceivedFileChecks(const std::string& address)> MakeReceivedFileChecks;

    // Display operations
    void ShowStatusLine(const QString& text, const QColor& colour);
    void ShowMessageLine(const QString& text, const QColor& colour);
    void ShowAnimation();
    void HideAnimation();
    static QString FormatByteCount(int32_t count);
    std::string ShowFileName(bool pdf);
    void ConnectedInfo(QObject* sender);
    void DisconnectedInfo(QObject* sender);
    void BitBtn_StornoClick(QObject* sender);

    // Progress handlers (bound to IdHTTP1's events)
    void HTTPWorkBegin(QObject* sender, int workMode, int64_t workCountMax);
    void HTTPWork(QObject* sender, int workMode, int64_t workCount);
    void HTTPWorkEnd(QObject* sender, int workMode);

    // Window handlers
    void FormCreate();
    void FormShow();
    void FormClose();
    // Return true when the key was consumed.
    bool FormKeyPress(int key);
    bool BitBtn_StornoKeyPress(int key);
    void BitBtn_SetClick();

    // Version check and download (transfer/gui/VersionCheck.cpp)
    // Test: the connection test's set; Main: the version check's.
    void SetCheckAndDownloadVersionParams(QObject* Sender, const VersionParamSet& Test, const VersionParamSet& Main);
    bool CheckAndDownloadVersionFiles(QObject* Sender, bool Test);
    // True while a version check or connection test runs (its requests let
    // window events run, so other windows can ask). A call made meanwhile
    // runs nothing, so its result measures nothing.
    bool VersionCheckRunning() const;
    static void DeleteFilesInDir(const std::string& Dir);

    // Documentation download (transfer/gui/DokumDownload.cpp)
    void SetCheckAndDownloadDokumParams(QObject* Sender, const DokumParamSet& Params);
    bool CheckAndDownloadDokumFiles(QObject* Sender);

    // Change-information viewer (transfer/gui/ChangesViewer.cpp)
    void ShowChangesFile(QObject* Sender, const std::string& Address);
    static std::string FindBrowserPath();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildLayout();
    void LoadPicture();
    // After the window closed: the main window comes back (interactive
    // mode) or closes, which ends the program (automatic mode).
    void LeaveForTheMainWindow();
    // Set by closeEvent, so that a close of the hidden window (which Qt
    // delivers no close event for) still runs FormClose once.
    bool closeHandled_ = false;
    // Set while BitBtn_StornoClick closes the window itself.
    bool closingByStorno_ = false;
    // The gauge's maximum in bytes; the gauge itself counts in int, which
    // a file beyond 2 GiB exceeds. Starts as the gauge's initial range.
    int64_t gaugeTotal_ = 100;
};

extern TForm_Run* Form_Run;
