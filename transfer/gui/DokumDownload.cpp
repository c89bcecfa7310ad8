// The documentation download: check that the server directory answers with
// a version-information file, then fetch the documentation file into the
// target directory in place of the files there.
#include "transfer/gui/Form_Run.h"
#include "transfer/gui/DownloadSteps.h"

#include "startup/gui/Form_Master.h"
#include "transfer/core/ErrorClass.h"
#include "transfer/core/VersionText.h"

using namespace transfer;
using namespace transfer::gui;

namespace {

bool g_dokumDownloadRunning = false;

// The server directory must answer with a version file of at least five
// bytes; its content is not looked at. A failure here is no error of its
// own: the run ends as one with nothing to download.
bool ServerDirectoryAnswers(DownloadOperation& op, const std::string& serverDir, const std::string& versionFile) {
    const auto bytes = op.FetchIntoMemory(serverDir + versionFile, DownloadOperation::FailureReport::Silently);
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
    const std::string versionFile = Form_Master->GetVersionFileName();
    TRunParameters& run = Form_Master->RunParameters;

    DownloadOperation op(*this, run, Sender);
    op.Begin();
    bool saved = false;
    try {
        if (ServerDirectoryAnswers(op, request.ServerDirAddress, versionFile)) {
            ShowMessageLine(QString(), kBlack);
            op.EndConnectionNormally();
            run.ExitCode = kExitNone;
            CloseWhenDone = false;
            saved = op.DownloadIntoTarget(request);
        } else {
            // Whatever went wrong, the run ends by itself with 29.
            run.ExitCode = kExitNothingToDownload;
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
