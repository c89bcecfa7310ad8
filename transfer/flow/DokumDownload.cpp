// The documentation download: check that the server directory answers with
// a version-information file, then fetch the documentation file into the
// target directory in place of the files there (both checked against their
// signatures when the program carries the publisher's key).
#include "transfer/flow/DownloadSteps.h"
#include "transfer/flow/TransferFlow.h"

#include "transfer/core/ErrorClass.h"
#include "transfer/core/VersionText.h"

namespace transfer::flow {

namespace {

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

void TransferFlow::SetCheckAndDownloadDokumParams(const DokumParamSet& Params) {
    MainSet.ServerDirAddress = Params.ServerDirAddress;
    MainSet.NewFileName = Params.FileName;
    MainSet.TargetDir = Params.TargetDir;
}

bool TransferFlow::CheckAndDownloadDokumFiles() {
    if (dokumDownloadRunning_)
        return ConnectionMade;
    OperationFlag running(dokumDownloadRunning_);

    const DownloadRequest request{MainSet.ServerDirAddress, MainSet.NewFileName, MainSet.TargetDir,
        /*ClearGaugeFirst=*/true};
    const std::string versionFile = Host().VersionFileName();
    TransferHost& host = Host();

    DownloadOperation op(*this);
    op.Begin();
    bool saved = false;
    try {
        if (ServerDirectoryAnswers(op, request.ServerDirAddress, versionFile, request.FileName)) {
            ShowMessageLine(std::string(), kBlack);
            op.EndConnectionNormally();
            host.SetExitCode(kExitNone);
            CloseWhenDone = false;
            saved = op.DownloadIntoTarget(request);
        } else if (!op.EndedForTheUserToSee()) {
            // Whatever went wrong, the run ends by itself with 29.
            host.SetExitCode(kExitNothingToDownload);
            op.EndConnectionNormally();
            ShowMessageLine(std::string(), kBlack);
            CloseWhenDone = true;
        }
    } catch (...) {
        op.ReportUnexpectedFailure();
        saved = false;
    }
    return op.Finish(saved, /*mayClose=*/true);
}

} // namespace transfer::flow
