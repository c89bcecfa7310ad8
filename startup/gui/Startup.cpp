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

namespace {

// Table A: texts 1-5 for the connection test, 6-10 for the version check.
void HandOverVersionParams(QObject* sender) {
    const TRunParameters& p = Form_Master->RunParameters;
    Form_Run->SetCheckAndDownloadVersionParams(sender,
        std::string(), Form_Master->GetVersionDirAddress(), Form_Master->GetVersionFileName(), std::string(),
        std::string(),
        p.CurrentVersion, Form_Master->GetVersionDirAddress(), Form_Master->GetVersionFileName(),
        Form_Master->GetNewVersionFileName(), p.TargetDir);
}

// Table B: the documentation download.
void HandOverDokumParams(QObject* sender) {
    Form_Run->SetCheckAndDownloadDokumParams(sender, Form_Master->GetDokumDirAddress(),
                                             Form_Master->GetDokumFileName(), Form_Master->RunParameters.TargetDir);
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
        // connection test read table A, so they use this run's "/v:" and
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
