// The version check: fetch the version-information file, compare the
// server's version with the installed one, offer the change notes and the
// download in the next-step dialog, and save the new version.
#include "transfer/gui/Form_Run.h"
#include "transfer/gui/FormDownloadSet.h"
#include "transfer/gui/DownloadSteps.h"

#include "startup/gui/Form_Master.h"
#include "transfer/core/ErrorClass.h"
#include "transfer/core/SaveDownload.h"
#include "transfer/core/VersionText.h"
#include "platform/files/FileOps.h"

#include <QDialog>
#include <QLabel>
#include <QProgressBar>

using namespace transfer;
using namespace transfer::gui;

namespace {
// Set while a version check runs. The anti-freeze lets window messages run
// during a request, so the main window's menu could start a second check
// on the same client; that one returns at once instead.
bool g_versionCheckRunning = false;
} // namespace

bool TForm_Run::VersionCheckRunning() const { return g_versionCheckRunning; }

void TForm_Run::SetCheckAndDownloadVersionParams(QObject* /*Sender*/,
    const std::string& P1, const std::string& P2, const std::string& P3, const std::string& P4,
    const std::string& P5, const std::string& P6, const std::string& P7, const std::string& P8,
    const std::string& P9, const std::string& P10) {
    TestSet = VersionParamSet{P1, P2, P3, P4, P5};
    MainSet = VersionParamSet{P6, P7, P8, P9, P10};
}

void TForm_Run::DeleteFilesInDir(const std::string& Dir) {
    platform::files::DeleteFilesMatching(Dir);
}

bool TForm_Run::CheckAndDownloadVersionFiles(QObject* Sender, bool Test) {
    if (g_versionCheckRunning)
        return ConnectionMade;
    OperationFlag running(g_versionCheckRunning);

    // 1. Copies: the parameter sets may be changed while the dialog is up.
    const VersionParamSet set = Test ? TestSet : MainSet;
    TRunParameters& run = Form_Master->RunParameters;

    // 2. Each check starts as a fresh one: a close asked for by an earlier
    // check (not newer, or Storno in the dialog) would otherwise also close
    // the window on a later check that fails before the comparison, and
    // its failure would never be seen.
    run.ExitCode = kExitNone;
    ConnectionMade = false;
    CloseWhenDone = false;
    ShowAnimation();
    ShowStatusLine(StatusConnecting(), kBlue);

    // 3. From here on the client is disconnected however the operation ends.
    PrepareClient(IdHTTP1, run);
    DisconnectGuard disconnectAtEnd(IdHTTP1);

    bool ok = false;
    try {
        // 4.
        Gauge1->hide();
        Label_Download->hide();
        IdHTTP1.Request.ContentType = "application";
        std::string serverVersion;

        // 5. The version information.
        {
            TMemoryStream stream;
            try {
                IdHTTP1.Get(set.ServerDirAddress + set.VersionFileName, stream);
                ConnectedInfo(Sender);
                run.ExitCode = kExitNothingToDownload;
                auto text = VersionTextFromFile(stream.Data.data(), stream.Size());
                ok = text.has_value();
                if (ok)
                    serverVersion = *text;
            } catch (...) {
                const std::string why = DescribeCurrentException();
                FinishedOk = false;
                DisconnectedInfo(Sender);
                ReportFailure(*this, run, why);
                ok = false;
            }
        } // the stream is released here
        if (ConnectionMade) {
            ConnectedInfo(Sender);
            ShowMessageLine(QString(), kBlack);
        }

        // 6. The connection test ends here.
        if (!Test) {
            // 7. The comparison.
            if (ok) {
                const VersionComparison cmp = CompareVersions(serverVersion, set.CurrentVersion);
                if (cmp == VersionComparison::BadServerText || cmp == VersionComparison::BadInstalledText) {
                    // Neither a page served in place of the version file nor
                    // a bad "/v:" may pass for a version: say which text it was.
                    const QString bad = cmp == VersionComparison::BadServerText
                        ? FromCp1250(serverVersion) : FromUtf8OrCp1250(set.CurrentVersion);
                    FinishedOk = true;
                    IdHTTP1.Disconnect();
                    DisconnectedInfo(Sender);
                    run.ExitCode = kExitOtherFailure;
                    ShowMessageLine(BadVersionMessage(bad), kRed);
                    CloseWhenDone = false;
                    ok = false;
                } else if (cmp == VersionComparison::NotNewer) {
                    run.ExitCode = kExitNothingToDownload;
                    FinishedOk = true;
                    IdHTTP1.Disconnect();
                    DisconnectedInfo(Sender);
                    ShowMessageLine(QString(), kBlack);
                    ok = false;
                    CloseWhenDone = true;
                } else {
                    ShowMessageLine(QString(), kBlack);
                    bool showChanges = false, download = false, pdf = false;
                    do {
                        HideAnimation();
                        showChanges = download = pdf = false;
                        if (FormDownloadSet) {
                            FormDownloadSet->SetNewVersionText(FromCp1250(serverVersion));
                            if (FormDownloadSet->exec() == QDialog::Accepted)
                                FormDownloadSet->GetChoice(showChanges, download, pdf);
                        }
                        if (showChanges) {
                            hide();
                            const std::string address = ShowFileName(pdf);
                            ShowChangesFile(Sender, address);
                            show();
                        }
                        ShowAnimation();
                    } while (showChanges);

                    ok = download;
                    ReshowConnected = false;
                    FinishedOk = true;
                    IdHTTP1.Disconnect();
                    DisconnectedInfo(Sender);
                    run.ExitCode = kExitNone;
                    CloseWhenDone = !ok;
                }
            }

            // 8. The new version.
            if (ok) {
                run.ExitCode = kExitNotSaved;
                Label_Msg->hide();
                Gauge1->show();
                Label_Download->show();
                IdHTTP1.Request.ContentType = "application";
                TMemoryStream stream;
                bool fetched = false;
                try {
                    ShowStatusLine(StatusDownloading(set.NewFileName), kBlue);
                    IdHTTP1.Get(set.ServerDirAddress + set.NewFileName, stream);
                    stream.Position = 0;
                    fetched = true;
                } catch (...) {
                    const std::string why = DescribeCurrentException();
                    FinishedOk = false;
                    DisconnectedInfo(Sender);
                    ReportFailure(*this, run, why);
                    ok = false;
                }
                if (fetched)
                    ok = SaveIntoTarget(*this, run, Sender, set.TargetDir, set.NewFileName, stream);
            } // the stream is released here
        }
    } catch (...) {
        // Nothing the steps above call is expected to throw; should it
        // happen anyway, the run ends as a failure the user can read.
        run.ExitCode = kExitOtherFailure;
        ShowMessageLine(FromUtf8OrCp1250(DescribeCurrentException()), kBlack);
        CloseWhenDone = false;
        ok = false;
    }

    // 9.
    IdHTTP1.Disconnect();
    const bool result = ConnectionMade;
    if (!Test && (ok || CloseWhenDone))
        BitBtn_StornoClick(Sender);
    return result;
}
