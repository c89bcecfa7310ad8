// The main window of the interactive path: a menu bar and nothing else.
#pragma once

#include <QPointer>
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

    // Closes the window and ends the program through FormClose, also when
    // the window is hidden or was never shown (the transfer window ends the
    // automatic run this way). Hides QWidget::close so that a close request
    // the toolkit would answer without a close event still ends the program.
    bool close();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    int closeEventsSeen_ = 0;
    bool frameFitted_ = false;
};

// The single instance while it exists; owned by whoever created it.
extern QPointer<TForm_Main> Form_Main;
