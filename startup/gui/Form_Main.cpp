// STUB: replaced by the main-window work.
#include "startup/gui/Form_Main.h"
#include <QCloseEvent>
#include <QKeyEvent>

TForm_Main* Form_Main = nullptr;

TForm_Main::TForm_Main(QWidget* parent) : QMainWindow(parent) {}
void TForm_Main::FormCreate() {}
void TForm_Main::Menu_AkceClick() {}
void TForm_Main::Menu_NastaveniClick() {}
void TForm_Main::Menu_KonecClick() {}
void TForm_Main::Menu_NapovedaClick() {}
bool TForm_Main::FormKeyPress(int) { return false; }
void TForm_Main::FormClose() {}
void TForm_Main::closeEvent(QCloseEvent* e) { QMainWindow::closeEvent(e); }
void TForm_Main::keyPressEvent(QKeyEvent* e) { QMainWindow::keyPressEvent(e); }
