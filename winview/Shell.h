// The program's message box, main window and event loop in the Win32 view.
#pragma once

#include "startup/flow/Shell.h"
#include "winview/MainWindow.h"

#include <string>

namespace winview {

class Shell : public startup::flow::Shell {
public:
    MainWindow& Main() { return main_; }

    void ShowMessage(startup::flow::MessageKind kind, const std::string& text) override;
    void SetMainCaption(const std::string& text) override;
    void ShowMainWindow() override;
    void HideMainWindow() override;
    int RunEventLoop() override;
    bool EventLoopRunning() const override;
    void QuitEventLoop(int code) override;

private:
    MainWindow main_;
};

} // namespace winview
