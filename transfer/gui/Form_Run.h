// The transfer window: status line, byte-count line with gauge, message
// line, animated picture, "Storno" and "Nastavení". Its operations (version
// check, documentation download, change viewer) live in their own sources.
#pragma once

#include "http/IdAntiFreeze.h"
#include "http/IdHTTP.h"

#include <QColor>
#include <QString>
#include <QWidget>

#include <cstdint>
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
    void SetCheckAndDownloadVersionParams(QObject* Sender,
        const std::string& P1, const std::string& P2, const std::string& P3, const std::string& P4,
        const std::string& P5, const std::string& P6, const std::string& P7, const std::string& P8,
        const std::string& P9, const std::string& P10);
    bool CheckAndDownloadVersionFiles(QObject* Sender, bool Test);
    // True while a version check or connection test runs (its requests let
    // window events run, so other windows can ask). A call made meanwhile
    // runs nothing, so its result measures nothing.
    bool VersionCheckRunning() const;
    static void DeleteFilesInDir(const std::string& Dir);

    // Documentation download (transfer/gui/DokumDownload.cpp)
    void SetCheckAndDownloadDokumParams(QObject* Sender, const std::string& ServerAddress,
                                        const std::string& FileName, const std::string& TargetDir);
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
};

extern TForm_Run* Form_Run;
