#include "startup/gui/Startup.h"

#include "startup/core/StartupTexts.h"
#include "startup/gui/Form_Main.h"
#include "startup/gui/Form_Master.h"
#include "startup/gui/HalvorneWindows.h"
#include "transfer/core/ErrorClass.h"

#include <QApplication>

#include <climits>
#include <memory>
#include <unistd.h>

TVersionParamSets VersionParamSets(const TForm_Master& master) {
    const TRunParameters& p = master.RunParameters;
    TVersionParamSets sets;
    sets.TestSet.ServerDirAddress = master.GetVersionDirAddress();
    sets.TestSet.VersionFileName = master.GetVersionFileName();
    sets.MainSet.CurrentVersion = p.CurrentVersion;
    sets.MainSet.ServerDirAddress = master.GetVersionDirAddress();
    sets.MainSet.VersionFileName = master.GetVersionFileName();
    sets.MainSet.NewFileName = master.GetNewVersionFileName();
    sets.MainSet.TargetDir = p.TargetDir;
    return sets;
}

DokumParamSet DokumParams(const TForm_Master& master) {
    return {master.GetDokumDirAddress(), master.GetDokumFileName(), master.RunParameters.TargetDir};
}

namespace {

// The windows of the running program; main() and the tests end them with
// DestroyHalvorneWindows once they are done looking at them.
std::unique_ptr<THalvorneWindows> g_windows;

void HandOverVersionParams(QObject* sender) {
    const TVersionParamSets sets = VersionParamSets(*Form_Master);
    Form_Run->SetCheckAndDownloadVersionParams(sender, sets.TestSet, sets.MainSet);
}

void HandOverDokumParams(QObject* sender) {
    Form_Run->SetCheckAndDownloadDokumParams(sender, DokumParams(*Form_Master));
}

} // namespace

std::string ProgramFilePath() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n > 0)
        return std::string(buf, static_cast<std::size_t>(n));
    return QCoreApplication::applicationFilePath().toStdString();
}

void DestroyHalvorneWindows() { g_windows.reset(); }

int RunHalvorne(const std::vector<std::string>& args, const std::string& programFile, const TStartupOptions& options) {
    // The program ends only through EndProgram, never because the last
    // visible window went away (the transfer window and the main window
    // take turns being hidden).
    QApplication::setQuitOnLastWindowClosed(false);
    QObject* const app = QCoreApplication::instance();

    g_windows.reset();
    THalvorneWindowsOptions windowOptions;
    windowOptions.TerminateProcess = options.TerminateProcess;
    g_windows = std::make_unique<THalvorneWindows>(args, programFile, windowOptions);

    TRunParameters& params = Form_Master->RunParameters;
    if (!params.ParamsValid) {
        if (params.NotFromHost) {
            // The warning has been shown; end quietly without a window.
            params.ExitCode = transfer::kExitNone;
            Form_Master->QuitRequested = true;
            return 0;
        }
        params.ExitCode = transfer::kExitOtherFailure;
        Form_Master->ShowMessageDlg(TMsgDlgType::mtError, QString::fromUtf8(startup::texts::kInvalidParameters));
        Form_Master->EndProgram();
        return Form_Master->EndedExitCode;
    }

    if (params.AutoMode) {
        Form_Run->show();
        if (params.ModeVersion) {
            HandOverVersionParams(app);
            Form_Run->CheckAndDownloadVersionFiles(app, false);
        } else {
            HandOverDokumParams(app);
            Form_Run->CheckAndDownloadDokumFiles(app);
        }
    } else {
        // The main window's version check and the settings dialog's
        // connection test read the version parameters, so they use this run's "/v:" and
        // "/p:" and the stored server texts rather than empty parameters.
        if (params.ModeDokum && !params.ModeVersion)
            HandOverDokumParams(app);
        HandOverVersionParams(app);
        Form_Main->show();
    }

    // EndProgram may have run inside the task already.
    if (Form_Master->ProcessEnded)
        return Form_Master->EndedExitCode;
    if (Form_Master->QuitRequested)
        return 0;
    QApplication::exec();
    if (Form_Master->ProcessEnded)
        return Form_Master->EndedExitCode;
    return 0;
}
