// The main window: a frame with a menu bar of four commands and the F9, F4
// and F1 accelerators. It forwards the commands and the close to the main
// window's commands; the flow acts.
#pragma once

#include "startup/flow/MainCommands.h"
#include "winview/WinBase.h"

#include <string>

namespace winview {

class MainWindow : public Window {
public:
    MainWindow();
    ~MainWindow() override;

    void SetCommands(startup::flow::MainCommands* commands) { commands_ = commands; }
    HACCEL Accelerators() const override { return accelerators_; }

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnEscape() override;

private:
    startup::flow::MainCommands* commands_ = nullptr;
    HACCEL accelerators_ = nullptr;
    HBITMAP pictures_[4] = {};
};

} // namespace winview
