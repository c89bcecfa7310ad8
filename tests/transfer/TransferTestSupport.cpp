#include "TransferTestSupport.h"

#include "startup/core/StoredTextValues.h"
#include "startup/gui/Form_Main.h"
#include "startup/gui/Form_Master.h"
#include "startup/gui/Form_Set.h"
#include "startup/gui/Startup.h"
#include "transfer/gui/FormDownloadSet.h"
#include "transfer/gui/Form_Run.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>

namespace transfer_test {

namespace {
std::string LaunchMarker() {
    return {halvorne::stored::LaunchMarkerFirst(), halvorne::stored::LaunchMarkerSecond(),
            halvorne::stored::LaunchMarkerThird()};
}
} // namespace

HalvorneWindows::HalvorneWindows(const WindowsOptions& options) {
    // As in the program: only EndProgram ends the run, never the last
    // window going away.
    QApplication::setQuitOnLastWindowClosed(false);
    const std::string dir = dir_.path().toStdString();
    std::vector<std::string> args{dir + "/Halvorne", LaunchMarker(), "chkver", "/v:5.00",
                                  "/p:" + dir + "/cil"};
    if (options.autoMode)
        args.push_back("auto");
    Form_Master = new TForm_Master(args, dir + "/Halvorne");
    // What start-up parsed from the command line above; set explicitly so
    // the windows see the mode under test whatever the parser's state.
    Form_Master->RunParameters.AutoMode = options.autoMode;
    Form_Master->TerminateProcess = [this](int code) { TerminatedWith.push_back(code); };

    Form_Run = new TForm_Run();
    if (options.createSet)
        Form_Set = new TForm_Set();
    if (options.createMain)
        Form_Main = new TForm_Main();
    if (options.createDownloadSet)
        FormDownloadSet = new TFormDownloadSet();
}

HalvorneWindows::~HalvorneWindows() {
    // Closing the main window would end the program; the windows are simply dropped.
    DestroyHalvorneWindows();
}

ModalAnswerer::ModalAnswerer() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
}

ModalAnswerer::~ModalAnswerer() { timer_.stop(); }

void ModalAnswerer::Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr)
        return;
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        Boxes.push_back({box->windowTitle(), box->text()});
        const auto buttons = box->buttons();
        if (!buttons.isEmpty())
            buttons.first()->click();
        else
            box->reject();
        return;
    }
    if (OnOtherModal)
        OnOtherModal(modal);
    else if (auto* dialog = qobject_cast<QDialog*>(modal))
        dialog->reject();
}

} // namespace transfer_test
