// The version check: fetch the version-information file, compare the
// server's version with the installed one, offer the change notes and the
// download in the next-step dialog, and save the new version. With the
// publisher's key built in, both files count only with a good signature.
#include "transfer/gui/Form_Run.h"
#include "transfer/gui/FormDownloadSet.h"
#include "transfer/gui/DownloadSteps.h"

#include "transfer/core/ErrorClass.h"
#include "transfer/core/VersionText.h"
#include "platform/files/FileOps.h"

#include <QDialog>

#include <optional>

using namespace transfer;
using namespace transfer::gui;

namespace {

// Set while a version check runs. The anti-freeze lets window messages run
// during a request, so the main window's menu could start a second check
// on the same client; that one returns at once instead.
bool g_versionCheckRunning = false;

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
void EndWithBadVersionText(TForm_Run& form, DownloadOperation& op, TTransferHost& host, const QString& bad) {
    op.EndConnectionNormally();
    host.SetExitCode(kExitOtherFailure);
    form.ShowMessageLine(BadVersionMessage(bad), kRed);
    form.CloseWhenDone = false;
}

// Nothing newer: 29, and the window closes without asking anything.
void EndAsNotNewer(TForm_Run& form, DownloadOperation& op, TTransferHost& host) {
    host.SetExitCode(kExitNothingToDownload);
    op.EndConnectionNormally();
    form.ShowMessageLine(QString(), kBlack);
    form.CloseWhenDone = true;
}

// The next-step dialog, shown again after each look at the change notes
// until the user picks the download or "Storno". Returns whether the
// download was chosen.
bool AskForTheDownload(TForm_Run& form, QObject* sender, const std::string& serverVersion) {
    form.ShowMessageLine(QString(), kBlack);
    bool showChanges = false, download = false, pdf = false;
    do {
        form.HideAnimation();
        showChanges = download = pdf = false;
        if (FormDownloadSet) {
            FormDownloadSet->SetNewVersionText(FromCp1250(serverVersion));
            if (FormDownloadSet->exec() == QDialog::Accepted)
                FormDownloadSet->GetChoice(showChanges, download, pdf);
        }
        if (showChanges) {
            form.hide();
            const std::string address = form.ShowFileName(pdf);
            form.ShowChangesFile(sender, address);
            form.show();
        }
        form.ShowAnimation();
    } while (showChanges);
    return download;
}

// Compares the versions and, for a newer one, asks the user. Returns
// whether the new version is to be downloaded; every other end is shown
// here.
bool DecideOnTheNewVersion(TForm_Run& form, DownloadOperation& op, TTransferHost& host, QObject* sender,
    const std::string& serverVersion, const std::string& installedVersion) {
    const VersionComparison cmp = CompareVersions(serverVersion, installedVersion);
    if (cmp == VersionComparison::BadServerText || cmp == VersionComparison::BadInstalledText) {
        EndWithBadVersionText(form, op, host,
            cmp == VersionComparison::BadServerText ? FromCp1250(serverVersion) : FromUtf8OrCp1250(installedVersion));
        return false;
    }
    if (cmp == VersionComparison::NotNewer) {
        EndAsNotNewer(form, op, host);
        return false;
    }
    const bool download = AskForTheDownload(form, sender, serverVersion);
    form.ReshowConnected = false;
    op.EndConnectionNormally();
    host.SetExitCode(kExitNone);
    form.CloseWhenDone = !download;
    return download;
}

} // namespace

bool TForm_Run::VersionCheckRunning() const { return g_versionCheckRunning; }

void TForm_Run::SetCheckAndDownloadVersionParams(
    QObject* /*Sender*/, const VersionParamSet& Test, const VersionParamSet& Main) {
    TestSet = Test;
    MainSet = Main;
}

void TForm_Run::DeleteFilesInDir(const std::string& Dir) { platform::files::DeleteFilesMatching(Dir); }

bool TForm_Run::CheckAndDownloadVersionFiles(QObject* Sender, bool Test) {
    if (g_versionCheckRunning)
        return ConnectionMade;
    OperationFlag running(g_versionCheckRunning);

    // Copies: the parameter sets may be changed while the dialog is up.
    const VersionParamSet set = Test ? TestSet : MainSet;
    TTransferHost& host = Host();

    DownloadOperation op(*this, host, Sender);
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
        if (!Test && serverVersion &&
            DecideOnTheNewVersion(*this, op, host, Sender, *serverVersion, set.CurrentVersion))
            saved = op.DownloadIntoTarget({set.ServerDirAddress, set.NewFileName, set.TargetDir});
    } catch (...) {
        // Nothing the steps above call is expected to throw; should it
        // happen anyway, the run ends as a failure the user can read.
        op.ReportUnexpectedFailure();
        saved = false;
    }
    return op.Finish(saved, !Test);
}
