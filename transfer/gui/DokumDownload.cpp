// The documentation download: check that the server directory answers with
// a version-information file, then fetch the documentation file into the
// target directory in place of the files there (both checked against their
// signatures when the program carries the publisher's key).
#include "transfer/gui/Form_Run.h"
#include "transfer/gui/DownloadSteps.h"

#include "transfer/core/ErrorClass.h"
#include "transfer/core/VersionText.h"

using namespace transfer;
using namespace transfer::gui;

namespace {

bool g_dokumDownloadRunning = false;

// The server directory must answer with a version file of at least five
// bytes; its content is not looked at, but with the publisher's key its
// signature must hold and it must list the documentation file's hash. A failure here is no error of its own: the run ends
// as one with nothing to download (unless it was one the user must see).
bool ServerDirectoryAnswers(
    DownloadOperation& op, const std::string& serverDir, const std::string& versionFile, const std::string& dokumFile) {
    const auto bytes = op.FetchSignedIntoMemory(serverDir, versionFile, dokumFile,
        DownloadOperation::FailureReport::Silently, SignedFileRole::DokumVersionFile);
    return bytes && bytes->size() >= kVersionBytes;
}

} // namespace

void TForm_Run::SetCheckAndDownloadDokumParams(QObject* /*Sender*/, const DokumParamSet& Params) {
    MainSet.ServerDirAddress = Params.ServerDirAddress;
    MainSet.NewFileName = Params.FileName;
    MainSet.TargetDir = Params.TargetDir;
}

bool TForm_Run::CheckAndDownloadDokumFiles(QObject* Sender) {
    if (g_dokumDownloadRunning)
        return ConnectionMade;
    OperationFlag running(g_dokumDownloadRunning);

    const DownloadRequest request{MainSet.ServerDirAddress, MainSet.NewFileName, MainSet.TargetDir,
        /*ClearGaugeFirst=*/true};
    const std::string versionFile = Host().VersionFileName();
    TTransferHost& host = Host();

    DownloadOperation op(*this, host, Sender);
    op.Begin();
    bool saved = false;
    try {
        if (ServerDirectoryAnswers(op, request.ServerDirAddress, versionFile, request.FileName)) {
            ShowMessageLine(QString(), kBlack);
            op.EndConnectionNormally();
            host.SetExitCode(kExitNone);
            CloseWhenDone = false;
            saved = op.DownloadIntoTarget(request);
        } else if (!op.EndedForTheUserToSee()) {
            // Whatever went wrong, the run ends by itself with 29.
            host.SetExitCode(kExitNothingToDownload);
            op.EndConnectionNormally();
            ShowMessageLine(QString(), kBlack);
            CloseWhenDone = true;
        }
    } catch (...) {
        op.ReportUnexpectedFailure();
        saved = false;
    }
    return op.Finish(saved, /*mayClose=*/true);
}
