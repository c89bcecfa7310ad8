#include "startup/flow/HalvorneFlow.h"

#include "http/IdHTTP.h"
#include "startup/core/StartupTexts.h"
#include "transfer/core/ErrorClass.h"

namespace startup::flow {

VersionParamSets MakeVersionParamSets(const Program& program) {
    const TRunParameters& p = program.RunParameters;
    VersionParamSets sets;
    sets.TestSet.ServerDirAddress = program.GetVersionDirAddress();
    sets.TestSet.VersionFileName = program.GetVersionFileName();
    sets.MainSet.CurrentVersion = p.CurrentVersion;
    sets.MainSet.ServerDirAddress = program.GetVersionDirAddress();
    sets.MainSet.VersionFileName = program.GetVersionFileName();
    sets.MainSet.NewFileName = program.GetNewVersionFileName();
    sets.MainSet.TargetDir = p.TargetDir;
    return sets;
}

transfer::flow::DokumParamSet MakeDokumParams(const Program& program) {
    return {program.GetDokumDirAddress(), program.GetDokumFileName(), program.RunParameters.TargetDir};
}

HalvorneFlow::HalvorneFlow(Shell& shell, transfer::flow::TransferView& transferView, SettingsView& settingsView,
    const std::vector<std::string>& args, const std::string& programFile, const FlowOptions& options)
    : shell_(shell) {
    // The windows read the run parameters while they are set up, so the run
    // comes first and is complete before any of them.
    program_ = std::make_unique<Program>(shell, args, programFile, options.TerminateProcess);
    if (options.AfterProgram)
        options.AfterProgram(*program_);
    transfer_ = std::make_unique<transfer::flow::TransferFlow>(transferView, *program_);
    settings_ = std::make_unique<SettingsFlow>(settingsView, *program_, *transfer_);
    program_->SetSettings(settings_.get());
    main_ = std::make_unique<MainCommands>(*program_, *transfer_, *settings_);
}

HalvorneFlow::~HalvorneFlow() {
    // In reverse: the transfer flow's client may still call back while it
    // goes.
    if (program_)
        program_->SetSettings(nullptr);
    main_.reset();
    settings_.reset();
    transfer_.reset();
    program_.reset();
}

int HalvorneFlow::Run() {
    Program& program = *program_;
    TRunParameters& params = program.RunParameters;
    if (!params.ParamsValid) {
        if (params.NotFromHost) {
            // The warning has been shown; end quietly without a window.
            params.ExitCode = transfer::kExitNone;
            program.QuitRequested = true;
            return 0;
        }
        params.ExitCode = transfer::kExitOtherFailure;
        program.ShowMessage(MessageKind::Error, startup::texts::kInvalidParameters);
        program.EndProgram();
        return program.EndedExitCode;
    }

    // The main window's version check and the settings dialog's connection
    // test read the version parameters, so they use this run's "/v:" and
    // "/p:" and the stored server texts rather than empty parameters.
    const VersionParamSets sets = MakeVersionParamSets(program);
    if (params.AutoMode) {
        // The trust store is read while the window is first drawn, not
        // after it, when the task's first connection waits for it.
        TIdHTTP::PrepareFor(sets.MainSet.ServerDirAddress);
        transfer_->ShowWindow();
        if (params.ModeVersion) {
            transfer_->SetCheckAndDownloadVersionParams(sets.TestSet, sets.MainSet);
            transfer_->CheckAndDownloadVersionFiles(false);
        } else {
            transfer_->SetCheckAndDownloadDokumParams(MakeDokumParams(program));
            transfer_->CheckAndDownloadDokumFiles();
        }
    } else {
        if (params.ModeDokum && !params.ModeVersion)
            transfer_->SetCheckAndDownloadDokumParams(MakeDokumParams(program));
        transfer_->SetCheckAndDownloadVersionParams(sets.TestSet, sets.MainSet);
        shell_.ShowMainWindow();
    }

    // EndProgram may have run inside the task already.
    if (program.ProcessEnded)
        return program.EndedExitCode;
    if (program.QuitRequested)
        return 0;
    shell_.RunEventLoop();
    if (program.ProcessEnded)
        return program.EndedExitCode;
    return 0;
}

} // namespace startup::flow
