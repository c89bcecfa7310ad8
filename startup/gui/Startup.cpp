#include "startup/gui/Startup.h"

#include "startup/core/StartupTexts.h"
#include "startup/gui/Form_Main.h"
#include "startup/gui/Form_Master.h"
#include "startup/gui/Form_Set.h"
#include "transfer/gui/FormDownloadSet.h"
#include "transfer/gui/Form_Run.h"

#include <QApplication>

#include <climits>
#include <unistd.h>

std::array<std::string, 10> VersionParamTexts(const TForm_Master& master) {
    const TRunParameters& p = master.RunParameters;
    return {std::string(), master.GetVersionDirAddress(), master.GetVersionFileName(), std::string(), std::string(),
            p.CurrentVersion, master.GetVersionDirAddress(), master.GetVersionFileName(),
            master.GetNewVersionFileName(), p.TargetDir};
}

std::array<std::string, 3> DokumParamTexts(const TForm_Master& master) {
    return {master.GetDokumDirAddress(), master.GetDokumFileName(), master.RunParameters.TargetDir};
}

namespace {

void HandOverVersionParams(QObject* sender) {
    const auto t = VersionParamTexts(*Form_Master);
    Form_Run->SetCheckAndDownloadVersionParams(sender, VersionParamSet{t[0], t[1], t[2], t[3], t[4]},
                                               VersionParamSet{t[5], t[6], t[7], t[8], t[9]});
}

void HandOverDokumParams(QObject* sender) {
    const auto t = DokumParamTexts(*Form_Master);
    Form_Run->SetCheckAndDownloadDokumParams(sender, DokumParamSet{t[0], t[1], t[2]});
}

} // namespace

std::string ProgramFilePath() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n > 0) return std::string(buf, static_cast<std::size_t>(n));
    return QCoreApplication::applicationFilePath().toStdString();
}

void DestroyHalvorneWindows() {
    delete FormDownloadSet;
    FormDownloadSet = nullptr;
    delete Form_Main;
    Form_Main = nullptr;
    delete Form_Set;
    Form_Set = nullptr;
    delete Form_Run;
    Form_Run = nullptr;
    delete Form_Master;
    Form_Master = nullptr;
}

int RunHalvorne(const std::vector<std::string>& args, const std::string& programFile, const TStartupOptions& options) {
    // The program ends only through EndProgram, never because the last
    // visible window went away (the transfer window and the main window
    // take turns being hidden).
    QApplication::setQuitOnLastWindowClosed(false);
    QObject* const app = QCoreApplication::instance();

    // The later windows read the run parameters while they are created, so
    // the master comes first and is complete before any of them.
    Form_Master = new TForm_Master(args, programFile);
    if (options.TerminateProcess) Form_Master->TerminateProcess = options.TerminateProcess;
    Form_Run = new TForm_Run();
    Form_Set = new TForm_Set();
    Form_Main = new TForm_Main();
    FormDownloadSet = new TFormDownloadSet();

    TRunParameters& params = Form_Master->RunParameters;
    if (!params.ParamsValid) {
        if (params.NotFromHost) {
            // The warning has been shown; end quietly without a window.
            params.ExitCode = 0;
            Form_Master->QuitRequested = true;
            return 0;
        }
        params.ExitCode = 99;
        Form_Master->ShowMessageDlg(TMsgDlgType::mtError, QString::fromUtf8(halvorne::texts::kInvalidParameters));
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
        if (params.ModeDokum && !params.ModeVersion) HandOverDokumParams(app);
        HandOverVersionParams(app);
        Form_Main->show();
    }

    // EndProgram may have run inside the task already.
    if (Form_Master->ProcessEnded) return Form_Master->EndedExitCode;
    if (Form_Master->QuitRequested) return 0;
    QApplication::exec();
    if (Form_Master->ProcessEnded) return Form_Master->EndedExitCode;
    return 0;
}
