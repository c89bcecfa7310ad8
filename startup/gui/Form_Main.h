// The main window of the interactive path: a menu bar and nothing else.
#pragma once

#include <QMainWindow>

class QAction;

class TForm_Main : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm_Main(QWidget* parent = nullptr); // runs FormCreate

    QAction* Menu_Akce = nullptr;      // "&Kontrola verze (F9)"
    QAction* Menu_Nastaveni = nullptr; // "&Nastavení (F4)"
    QAction* Menu_Konec = nullptr;     // "Konec"
    QAction* Menu_Napoveda = nullptr;  // "Nápověda (F1)"

    void FormCreate();
    void Menu_AkceClick();
    void Menu_NastaveniClick();
    void Menu_KonecClick();
    void Menu_NapovedaClick();
    bool FormKeyPress(int key);
    void FormClose();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

extern TForm_Main* Form_Main;
