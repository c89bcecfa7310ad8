// The hidden master object, the Qt shell of the start-up flow: the
// program's message box, the main window's showing and hiding, and the
// event loop. The run itself (parameters, stored texts, how the program
// ends) is the flow's Program.
#pragma once

#include "startup/flow/HalvorneFlow.h"
#include "startup/flow/Shell.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <string>

class TForm_Main;

class TForm_Master : public QWidget, public startup::flow::Shell {
    Q_OBJECT
public:
    explicit TForm_Master(QWidget* parent = nullptr);

    // The flow this shell serves; set once both exist.
    void SetFlow(startup::flow::HalvorneFlow* flow) { flow_ = flow; }
    startup::flow::HalvorneFlow& Flow() const { return *flow_; }
    startup::flow::Program& Run() const { return flow_->GetProgram(); }

    // Where the main window comes from: asked with create true when it is
    // to be shown (it may be made then), with false otherwise (null while
    // there is none). Without a source, the one named Form_Main.
    using MainWindowSource = std::function<TForm_Main*(bool create)>;
    void SetMainWindowSource(MainWindowSource source) { mainWindow_ = std::move(source); }
    // The caption the flow gave the main window, for one made later.
    const QString& MainCaption() const { return mainCaption_; }

    // Shell
    void ShowMessage(startup::flow::MessageKind kind, const std::string& text) override;
    void SetMainCaption(const std::string& text) override;
    void ShowMainWindow() override;
    void HideMainWindow() override;
    bool CloseMainWindow() override;
    int RunEventLoop() override;
    bool EventLoopRunning() const override;
    void QuitEventLoop(int code) override;

private:
    TForm_Main* MainWindow(bool create) const;

    startup::flow::HalvorneFlow* flow_ = nullptr;
    MainWindowSource mainWindow_;
    // The main window's caption, kept for a main window created later.
    QString mainCaption_;
};

// The single instance while it exists; owned by whoever created it.
extern QPointer<TForm_Master> Form_Master;
