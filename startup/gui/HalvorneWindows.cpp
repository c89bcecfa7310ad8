#include "startup/gui/HalvorneWindows.h"

#include "startup/gui/Form_Main.h"
#include "startup/gui/Form_Master.h"
#include "startup/gui/Form_Set.h"
#include "transfer/gui/FormDownloadSet.h"
#include "transfer/gui/Form_Run.h"

THalvorneWindows::THalvorneWindows(
    const std::vector<std::string>& args, const std::string& programFile, const THalvorneWindowsOptions& options)
    : options_(options) {
    master_ = std::make_unique<TForm_Master>();
    Form_Master = master_.get();
    run_ = std::make_unique<TForm_Run>();
    Form_Run = run_.get();
    settingsView_ =
        std::make_unique<startup::gui::SettingsOnDemand>([this]() -> TForm_Set& { return MakeSettingsDialog(); });

    startup::flow::FlowOptions flowOptions;
    flowOptions.TerminateProcess = options.TerminateProcess;
    flowOptions.AfterProgram = options.AfterMaster;
    flow_ =
        std::make_unique<startup::flow::HalvorneFlow>(*master_, *run_, *settingsView_, args, programFile, flowOptions);
    master_->SetFlow(flow_.get());
    master_->SetMainWindowSource([this](bool create) { return MainWindow(create); });
    run_->SetFlow(&flow_->Transfer());
    run_->SetNextStepDialogSource([this] { return NextStepDialog(); });

    if (options.CreateAllAtStart) {
        settingsView_->Dialog();
        MainWindow(true);
        NextStepDialog();
    }
}

THalvorneWindows::~THalvorneWindows() {
    // The views forward nothing more once the flow goes.
    if (main_)
        main_->SetCommands(nullptr);
    if (set_)
        set_->SetFlow(nullptr);
    run_->SetFlow(nullptr);
    run_->SetNextStepDialogSource(nullptr);
    master_->SetMainWindowSource(nullptr);
    downloadSet_.reset();
    main_.reset();
    set_.reset();
    flow_.reset();
    master_->SetFlow(nullptr);
    settingsView_.reset();
    run_.reset();
    master_.reset();
}

TForm_Set* THalvorneWindows::SettingsDialogIfMade() const { return settingsView_->Made(); }

TForm_Set& THalvorneWindows::MakeSettingsDialog() {
    set_ = std::make_unique<TForm_Set>();
    set_->SetFlow(&flow_->Settings());
    if (options_.CreateSet)
        Form_Set = set_.get();
    return *set_;
}

TForm_Main* THalvorneWindows::MainWindow(bool create) {
    if (!main_ && create && options_.CreateMain) {
        main_ = std::make_unique<TForm_Main>();
        main_->setWindowTitle(master_->MainCaption());
        main_->SetCommands(&flow_->Main());
        Form_Main = main_.get();
    }
    return main_.get();
}

TFormDownloadSet* THalvorneWindows::NextStepDialog() {
    if (!downloadSet_ && options_.CreateDownloadSet) {
        downloadSet_ = std::make_unique<TFormDownloadSet>();
        FormDownloadSet = downloadSet_.get();
    }
    return downloadSet_.get();
}
