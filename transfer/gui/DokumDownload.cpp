// The documentation download: check that the server directory answers with
// a version-information file, then fetch the documentation file into the
// target directory in place of the files there.
#include "transfer/gui/Form_Run.h"
#include "transfer/gui/DownloadSteps.h"

#include "startup/gui/Form_Master.h"
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
    const std::string versionFile = Form_Master->GetVersionFileName();
    const std::string publicKey = Form_Master->GetUpdatePublicKey();
    TRunParameters& run = Form_Master->RunParameters;

    // 2.
    run.ExitCode = kExitNone;
    ConnectionMade = false;
    ShowAnimation();
    ShowStatusLine(StatusConnecting(), kBlue);

    // 3., 4.
    PrepareClient(IdHTTP1, run);
    DisconnectGuard disconnectAtEnd(IdHTTP1);

    bool saved = false;
    try {
        // 5.
        Gauge1->hide();
        Label_Download->hide();
        IdHTTP1.Request.ContentType = "application";

        // 6. The server directory must answer with a version file.
        bool passed = false;
        signature::Problem versionSignature = signature::Problem::None;
        std::string secureFailure; // a failed TLS connection, which the user must learn of
        {
            TMemoryStream stream;
            try {
                IdHTTP1.Get(serverDir + versionFile, stream);
                versionSignature = CheckVersionFileSignature(IdHTTP1, publicKey, serverDir, versionFile, stream);
                ConnectedInfo(Sender);
                if (versionSignature == signature::Problem::None) {
                    run.ExitCode = kExitNothingToDownload;
                    passed = stream.Size() >= kVersionBytes;
                }
            } catch (...) {
                secureFailure = TlsFailureMessage(DescribeCurrentException());
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
        if (versionSignature != signature::Problem::None) {
            // Neither answer of the first stage: the file came, but nothing
            // vouches for it. The window stays open with the reason.
            RefuseVersionFile(*this, run, Sender, IdHTTP1, versionSignature, versionFile,
                              SignedFileRole::DokumVersionFile);
        } else if (!secureFailure.empty()) {
            // A certificate that fails is a failed connection, but one the
            // user must see named rather than a window that just closes.
            run.ExitCode = kExitNoConnection;
            ShowMessageLine(FromUtf8OrCp1250(secureFailure), kBlack);
            CloseWhenDone = false;
        } else if (passed) {
            ShowMessageLine(QString(), kBlack);
            FinishedOk = true;
            IdHTTP1.Disconnect();
            DisconnectedInfo(Sender);
            run.ExitCode = kExitNone;
            CloseWhenDone = false;
        } else {
            run.ExitCode = kExitNothingToDownload;
            FinishedOk = true;
            IdHTTP1.Disconnect();
            DisconnectedInfo(Sender);
            ShowMessageLine(QString(), kBlack);
            CloseWhenDone = true;
        }

        // 8. The documentation file.
        if (passed) {
            run.ExitCode = kExitNotSaved;
            Label_Msg->hide();
            Gauge1->show();
            Label_Download->show();
            IdHTTP1.Request.ContentType = "application";
            TMemoryStream stream;
            SignedFile signedFile(IdHTTP1, publicKey, serverDir, fileName);
            signature::Problem refused = signature::Problem::None;
            bool fetched = false;
            try {
                ShowStatusLine(StatusDownloading(fileName), kBlue);
                HTTPWorkBegin(Sender, 0, 0);
                refused = signedFile.Prepare(&stream);
                if (refused == signature::Problem::None) {
                    IdHTTP1.Get(serverDir + fileName, stream);
                    stream.Position = 0;
                }
                fetched = true;
            } catch (...) {
                const std::string why = DescribeCurrentException();
                FinishedOk = false;
                DisconnectedInfo(Sender);
                ReportFailure(*this, run, why);
            }
            if (fetched)
                saved = CheckAndSave(*this, run, Sender, signedFile, refused, targetDir, stream);
        } // the stream is released here
    } catch (...) {
        run.ExitCode = kExitOtherFailure;
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
