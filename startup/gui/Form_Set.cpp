// STUB: replaced by the settings-dialog work.
#include "startup/gui/Form_Set.h"
#include <QKeyEvent>
#include <QShowEvent>

TForm_Set* Form_Set = nullptr;

TForm_Set::TForm_Set(QWidget* parent) : QDialog(parent) {}
void TForm_Set::ShowModeless() {}
void TForm_Set::FormCreate() {}
void TForm_Set::FormShow() {}
bool TForm_Set::FormKeyPress(int) { return false; }
void TForm_Set::CheckBox_SetClick() {}
bool TForm_Set::SaveSettings() { return false; }
void TForm_Set::BitBtn_SaveClick() {}
void TForm_Set::Button_TestClick() {}
void TForm_Set::BitBtn_StornoClick() {}
void TForm_Set::showEvent(QShowEvent* e) { QDialog::showEvent(e); }
void TForm_Set::keyPressEvent(QKeyEvent* e) { QDialog::keyPressEvent(e); }
