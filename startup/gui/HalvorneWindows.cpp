#include "startup/gui/HalvorneWindows.h"

#include "startup/gui/Form_Main.h"
#include "startup/gui/Form_Master.h"
#include "startup/gui/Form_Set.h"
#include "transfer/gui/FormDownloadSet.h"
#include "transfer/gui/Form_Run.h"

THalvorneWindows::THalvorneWindows(
    const std::vector<std::string>& args, const std::string& programFile, const THalvorneWindowsOptions& options) {
    master_ = std::make_unique<TForm_Master>();
    Form_Master = master_.get();
    run_ = std::make_unique<TForm_Run>();
    Form_Run = run_.get();
    set_ = std::make_unique<TForm_Set>();
    if (options.CreateSet)
        Form_Set = set_.get();
    main_ = std::make_unique<TForm_Main>();
    if (options.CreateMain)
        Form_Main = main_.get();
    if (options.CreateDownloadSet) {
        downloadSet_ = std::make_unique<TFormDownloadSet>();
        FormDownloadSet = downloadSet_.get();
    }

    startup::flow::FlowOptions flowOptions;
    flowOptions.TerminateProcess = options.TerminateProcess;
    flowOptions.AfterProgram = options.AfterMaster;
    flow_ = std::make_unique<startup::flow::HalvorneFlow>(*master_, *run_, *set_, args, programFile, flowOptions);
    master_->SetFlow(flow_.get());
    run_->SetFlow(&flow_->Transfer());
    set_->SetFlow(&flow_->Settings());
    main_->SetCommands(&flow_->Main());
}

THalvorneWindows::~THalvorneWindows() {
    // The views forward nothing more once the flow goes.
    main_->SetCommands(nullptr);
    set_->SetFlow(nullptr);
    run_->SetFlow(nullptr);
    flow_.reset();
    master_->SetFlow(nullptr);
    downloadSet_.reset();
    main_.reset();
    set_.reset();
    run_.reset();
    master_.reset();
}
