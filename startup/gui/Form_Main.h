// The main window of the interactive path: a menu bar and nothing else. A
// view only: its commands are the start-up flow's (MainCommands).
#pragma once

#include "startup/flow/MainCommands.h"

#include <QPointer>
#include <QMainWindow>

class QAction;

class TForm_Main : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm_Main(QWidget* parent = nullptr);

    // The commands this window forwards its events to; set once both exist.
    void SetCommands(startup::flow::MainCommands* commands) { commands_ = commands; }

    QAction* Menu_Akce = nullptr;      // "&Kontrola verze (F9)"
    QAction* Menu_Nastaveni = nullptr; // "&Nastavení (F4)"
    QAction* Menu_Konec = nullptr;     // "Konec"
    QAction* Menu_Napoveda = nullptr;  // "Nápověda (F1)"

    void Menu_AkceClick();
    void Menu_NastaveniClick();
    void Menu_KonecClick();
    void Menu_NapovedaClick();
    bool FormKeyPress(int key);

    // The desktop's close, also when the window is hidden or was never
    // shown: hides QWidget::close so that a close request the toolkit would
    // answer without a close event still reaches the flow.
    bool close();
    // Closes the window as the flow asks (the program ends next), also when
    // it is hidden, without reporting the close back to the flow.
    void CloseForTheFlow();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    startup::flow::MainCommands* commands_ = nullptr;
    int closeEventsSeen_ = 0;
    bool closingForTheFlow_ = false;
    bool frameFitted_ = false;
};

// The single instance while it exists; owned by whoever created it.
extern QPointer<TForm_Main> Form_Main;
