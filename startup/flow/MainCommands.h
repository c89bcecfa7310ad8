// The main window's commands. See Shell.h for how a view forwards its user
// events here.
#pragma once

#include "startup/flow/Program.h"

namespace transfer::flow {
class TransferFlow;
}

namespace startup::flow {

class SettingsFlow;

class MainCommands {
public:
    MainCommands(Program& program, transfer::flow::TransferFlow& transfer, SettingsFlow& settings);

    // F9: the main window hides, the transfer window shows and runs the
    // version check; returns when it is over (the transfer window's
    // "Storno" brings the main window back).
    void OnVersionCheck();
    // F4: the settings dialog.
    void OnSettings();
    // F1: the configuration file's name in an information box.
    void OnHelp();
    // "Konec", Esc, the desktop's close: the main window goes and the
    // program ends.
    void OnExit();
    void OnEscape();
    void OnDesktopClose();

private:
    Program& program_;
    transfer::flow::TransferFlow& transfer_;
    SettingsFlow& settings_;
};

} // namespace startup::flow
