#include "TransferTestSupport.h"

#include "startup/core/StoredTextValues.h"
#include "startup/gui/Form_Master.h"

#include <QApplication>

namespace tests::transfer {

namespace {
std::string LaunchMarker() {
    return {startup::stored::LaunchMarkerFirst(), startup::stored::LaunchMarkerSecond(),
        startup::stored::LaunchMarkerThird()};
}
} // namespace

HalvorneWindows::HalvorneWindows(const WindowsOptions& options) {
    // As in the program: only EndProgram ends the run, never the last
    // window going away.
    QApplication::setQuitOnLastWindowClosed(false);
    const std::string dir = dir_.path().toStdString();
    std::vector<std::string> args{dir + "/Halvorne", LaunchMarker(), "chkver", "/v:5.00", "/p:" + dir + "/cil"};
    if (options.autoMode)
        args.push_back("auto");
    THalvorneWindowsOptions o;
    // What start-up parsed from the command line above; set explicitly so
    // the windows see the mode under test whatever the parser's state.
    o.AfterMaster = [&options](startup::flow::Program& master) { master.RunParameters.AutoMode = options.autoMode; };
    o.TerminateProcess = [this](int code) { TerminatedWith.push_back(code); };
    o.CreateSet = options.createSet;
    o.CreateMain = options.createMain;
    o.CreateDownloadSet = options.createDownloadSet;
    o.CreateAllAtStart = options.createAllAtStart;
    windows_ = std::make_unique<THalvorneWindows>(args, dir + "/Halvorne", o);
}

// Closing the main window would end the program; the windows are simply dropped.
HalvorneWindows::~HalvorneWindows() = default;

} // namespace tests::transfer
