// STUB: replaced by the next-step dialog work.
#include "transfer/gui/FormDownloadSet.h"

TFormDownloadSet* FormDownloadSet = nullptr;

TFormDownloadSet::TFormDownloadSet(QWidget* parent) : QDialog(parent) {}
void TFormDownloadSet::SetNewVersionText(const QString&) {}
void TFormDownloadSet::GetChoice(bool& s, bool& d, bool& p) const { s = d = p = false; }
void TFormDownloadSet::FormCreate() {}
void TFormDownloadSet::BitBtnChangesClick() {}
void TFormDownloadSet::BitBtnLoadClick() {}
void TFormDownloadSet::BitBtnCancelClick() {}
void TFormDownloadSet::RadioButtonHtmlClick() {}
void TFormDownloadSet::RadioButtonPdfClick() {}
