// The version check: fetch the version-information file, compare the
// server's version with the installed one, offer the change notes and the
// download in the next-step dialog, and save the new version. With the
// publisher's key built in, both files count only with a good signature.
#include "transfer/flow/DownloadSteps.h"
#include "transfer/flow/TransferFlow.h"

#include "transfer/core/Cp1250.h"
#include "transfer/core/ErrorClass.h"
#include "transfer/core/VersionText.h"

#include <optional>

namespace transfer::flow {

namespace {

// The server's version text from the first five bytes of the
// version-information file; none when the fetch failed, the file is
// shorter or its signature failed. The connection test only asks whether
// the server answers, so it uses nothing and checks nothing.
std::optional<std::string> FetchServerVersion(DownloadOperation& op, const VersionParamSet& set, bool test) {
    const auto report = DownloadOperation::FailureReport::ByErrorText;
    const auto bytes = test ? op.FetchIntoMemory(set.ServerDirAddress + set.VersionFileName, report)
                            : op.FetchSignedIntoMemory(set.ServerDirAddress, set.VersionFileName, set.NewFileName,
                                  report, SignedFileRole::VersionFile);
    if (!bytes)
        return std::nullopt;
    return VersionTextFromFile(bytes->data(), bytes->size());
}

// Neither a page served in place of the version file nor a bad "/v:" may
// pass for a version: say which text it was, and leave the window open.
void EndWithBadVersionText(TransferFlow& flow, DownloadOperation& op, TransferHost& host, const std::string& bad) {
    op.EndConnectionNormally();
    host.SetExitCode(kExitOtherFailure);
    flow.ShowMessageLine(BadVersionMessage(bad), kRed);
    flow.CloseWhenDone = false;
}

// Nothing newer: 29, and the window closes without asking anything.
void EndAsNotNewer(TransferFlow& flow, DownloadOperation& op, TransferHost& host) {
    host.SetExitCode(kExitNothingToDownload);
    op.EndConnectionNormally();
    flow.ShowMessageLine(std::string(), kBlack);
    flow.CloseWhenDone = true;
}

// The next-step dialog, shown again after each look at the change notes
// until the user picks the download or "Storno". Returns whether the
// download was chosen.
bool AskForTheDownload(TransferFlow& flow, const std::string& serverVersion) {
    flow.ShowMessageLine(std::string(), kBlack);
    TransferView& view = flow.View();
    NextStepChoice choice;
    do {
        view.SetPartVisible(TransferPart::Animation, false);
        choice = view.AskNextStep(Cp1250ToUtf8(serverVersion));
        if (choice.Step == NextStep::ShowChanges) {
            view.HideWindow();
            const std::string address = flow.ShowFileName(choice.Pdf);
            flow.ShowChangesFile(address);
            flow.ShowWindow();
        }
        view.SetPartVisible(TransferPart::Animation, true);
    } while (choice.Step == NextStep::ShowChanges);
    return choice.Step == NextStep::Download;
}

// Compares the versions and, for a newer one, asks the user. Returns
// whether the new version is to be downloaded; every other end is shown
// here.
bool DecideOnTheNewVersion(TransferFlow& flow, DownloadOperation& op, TransferHost& host,
    const std::string& serverVersion, const std::string& installedVersion) {
    const VersionComparison cmp = CompareVersions(serverVersion, installedVersion);
    if (cmp == VersionComparison::BadServerText || cmp == VersionComparison::BadInstalledText) {
        EndWithBadVersionText(flow, op, host,
            cmp == VersionComparison::BadServerText ? Cp1250ToUtf8(serverVersion) : Utf8OrCp1250(installedVersion));
        return false;
    }
    if (cmp == VersionComparison::NotNewer) {
        EndAsNotNewer(flow, op, host);
        return false;
    }
    const bool download = AskForTheDownload(flow, serverVersion);
    flow.ReshowConnected = false;
    op.EndConnectionNormally();
    host.SetExitCode(kExitNone);
    flow.CloseWhenDone = !download;
    return download;
}

} // namespace

void TransferFlow::SetCheckAndDownloadVersionParams(const VersionParamSet& Test, const VersionParamSet& Main) {
    TestSet = Test;
    MainSet = Main;
}

bool TransferFlow::CheckAndDownloadVersionFiles(bool Test) {
    // The anti-freeze lets window messages run during a request, so the
    // main window's menu could start a second check on the same client;
    // that one returns at once instead.
    if (versionCheckRunning_)
        return ConnectionMade;
    OperationFlag running(versionCheckRunning_);

    // Copies: the parameter sets may be changed while the dialog is up.
    const VersionParamSet set = Test ? TestSet : MainSet;
    TransferHost& host = Host();

    DownloadOperation op(*this);
    op.Begin();
    // Each check starts as a fresh one: a close asked for by an earlier
    // check (not newer, or Storno in the dialog) would otherwise also close
    // the window on a later check that fails before the comparison, and
    // its failure would never be seen.
    CloseWhenDone = false;
    bool saved = false;
    try {
        const std::optional<std::string> serverVersion = FetchServerVersion(op, set, Test);
        // The connection test ends here: it only asks whether the server answers.
        if (!Test && serverVersion && DecideOnTheNewVersion(*this, op, host, *serverVersion, set.CurrentVersion))
            saved = op.DownloadIntoTarget({set.ServerDirAddress, set.NewFileName, set.TargetDir});
    } catch (...) {
        // Nothing the steps above call is expected to throw; should it
        // happen anyway, the run ends as a failure the user can read.
        op.ReportUnexpectedFailure();
        saved = false;
    }
    return op.Finish(saved, !Test);
}

} // namespace transfer::flow
