#include "startup/gui/HalvorneWindows.h"

#include "startup/gui/Form_Main.h"
#include "startup/gui/Form_Master.h"
#include "startup/gui/Form_Set.h"
#include "transfer/gui/FormDownloadSet.h"
#include "transfer/gui/Form_Run.h"

THalvorneWindows::THalvorneWindows(
    const std::vector<std::string>& args, const std::string& programFile, const THalvorneWindowsOptions& options) {
    // The later windows read the run parameters while they are created, so
    // the master comes first and is complete before any of them.
    master_ = std::make_unique<TForm_Master>(args, programFile);
    Form_Master = master_.get();
    if (options.TerminateProcess)
        master_->TerminateProcess = options.TerminateProcess;
    if (options.AfterMaster)
        options.AfterMaster(*master_);

    run_ = std::make_unique<TForm_Run>(*master_);
    Form_Run = run_.get();
    if (options.CreateSet) {
        set_ = std::make_unique<TForm_Set>();
        Form_Set = set_.get();
    }
    if (options.CreateMain) {
        main_ = std::make_unique<TForm_Main>();
        Form_Main = main_.get();
    }
    if (options.CreateDownloadSet) {
        downloadSet_ = std::make_unique<TFormDownloadSet>();
        FormDownloadSet = downloadSet_.get();
    }
}

THalvorneWindows::~THalvorneWindows() {
    // A window may still reach the others while it goes (the transfer
    // window's client calls back), so the order is the reverse of creation.
    downloadSet_.reset();
    main_.reset();
    set_.reset();
    run_.reset();
    master_.reset();
}
