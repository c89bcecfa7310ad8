#include "startup/flow/MainCommands.h"

#include "startup/flow/SettingsFlow.h"
#include "startup/flow/WindowTexts.h"
#include "transfer/flow/TransferFlow.h"

namespace startup::flow {

MainCommands::MainCommands(Program& program, transfer::flow::TransferFlow& transfer, SettingsFlow& settings)
    : program_(program), transfer_(transfer), settings_(settings) {
    program_.GetShell().SetMainCaption(program_.RunParameters.CaptionText);
}

void MainCommands::OnVersionCheck() {
    program_.GetShell().HideMainWindow();
    transfer_.ShowWindow();
    // Returns when the check is over. The main window stays hidden: the
    // transfer window's Storno brings it back.
    transfer_.CheckAndDownloadVersionFiles(false);
}

void MainCommands::OnSettings() { settings_.Open(); }

void MainCommands::OnHelp() {
    program_.ShowMessage(MessageKind::Information, texts::kIniFilePrefix + program_.RunParameters.IniFileName);
}

void MainCommands::OnExit() { program_.CloseMainWindow(); }

void MainCommands::OnEscape() { program_.CloseMainWindow(); }

void MainCommands::OnDesktopClose() { program_.CloseMainWindow(); }

} // namespace startup::flow
