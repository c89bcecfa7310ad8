// The documentation download: check that the server directory answers with
// a version-information file, then fetch the documentation file into the
// target directory in place of the files there.
#include "transfer/gui/Form_Run.h"
#include "transfer/gui/DownloadSteps.h"

#include "transfer/core/ErrorClass.h"
#include "transfer/core/VersionText.h"

#include <QLabel>
#include <QProgressBar>

using namespace transfer;
using namespace transfer::gui;

namespace {
bool g_dokumDownloadRunning = false;
} // namespace

void TForm_Run::SetCheckAndDownloadDokumParams(QObject* /*Sender*/, const std::string& ServerAddress,
                                               const std::string& FileName, const std::string& TargetDir) {
    MainSet.ServerDirAddress = ServerAddress;
    MainSet.NewFileName = FileName;
    MainSet.TargetDir = TargetDir;
}

bool TForm_Run::CheckAndDownloadDokumFiles(QObject* Sender) {
    if (g_dokumDownloadRunning)
        return ConnectionMade;
    OperationFlag running(g_dokumDownloadRunning);

    // 1.
    const std::string serverDir = MainSet.ServerDirAddress;
    const std::string fileName = MainSet.NewFileName;
    const std::string targetDir = MainSet.TargetDir;
    const std::string versionFile = Host().VersionFileName();
    TTransferHost& host = Host();

    // 2.
    host.SetExitCode(kExitNone);
    ConnectionMade = false;
    ShowAnimation();
    ShowStatusLine(StatusConnecting(), kBlue);

    // 3., 4.
    PrepareClient(IdHTTP1, host.Proxy());
    DisconnectGuard disconnectAtEnd(IdHTTP1);

    bool saved = false;
    try {
        // 5.
        Gauge1->hide();
        Label_Download->hide();
        IdHTTP1.Request.ContentType = "application";

        // 6. The server directory must answer with a version file.
        bool passed = false;
        {
            TMemoryStream stream;
            try {
                IdHTTP1.Get(serverDir + versionFile, stream);
                ConnectedInfo(Sender);
                host.SetExitCode(kExitNothingToDownload);
                passed = stream.Size() >= kVersionBytes;
            } catch (...) {
                FinishedOk = false;
                DisconnectedInfo(Sender);
                passed = false;
            }
        }
        if (ConnectionMade) {
            ConnectedInfo(Sender);
            ShowMessageLine(QString(), kBlack);
        }

        // 7.
        if (passed) {
            ShowMessageLine(QString(), kBlack);
            FinishedOk = true;
            IdHTTP1.Disconnect();
            DisconnectedInfo(Sender);
            host.SetExitCode(kExitNone);
            CloseWhenDone = false;
        } else {
            host.SetExitCode(kExitNothingToDownload);
            FinishedOk = true;
            IdHTTP1.Disconnect();
            DisconnectedInfo(Sender);
            ShowMessageLine(QString(), kBlack);
            CloseWhenDone = true;
        }

        // 8. The documentation file.
        if (passed) {
            host.SetExitCode(kExitNotSaved);
            Label_Msg->hide();
            Gauge1->show();
            Label_Download->show();
            IdHTTP1.Request.ContentType = "application";
            TMemoryStream stream;
            bool fetched = false;
            try {
                ShowStatusLine(StatusDownloading(fileName), kBlue);
                HTTPWorkBegin(Sender, 0, 0);
                IdHTTP1.Get(serverDir + fileName, stream);
                stream.Position = 0;
                fetched = true;
            } catch (...) {
                const std::string why = DescribeCurrentException();
                FinishedOk = false;
                DisconnectedInfo(Sender);
                ReportFailure(*this, host, why);
            }
            if (fetched)
                saved = SaveIntoTarget(*this, host, Sender, targetDir, fileName, stream);
        } // the stream is released here
    } catch (...) {
        host.SetExitCode(kExitOtherFailure);
        ShowMessageLine(FromUtf8OrCp1250(DescribeCurrentException()), kBlack);
        CloseWhenDone = false;
        saved = false;
    }

    // 9.
    IdHTTP1.Disconnect();
    const bool result = ConnectionMade;
    // 10.
    if (saved || CloseWhenDone)
        BitBtn_StornoClick(Sender);
    return result;
}
