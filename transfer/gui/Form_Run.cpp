// STUB: replaced by the transfer-window work.
#include "transfer/gui/Form_Run.h"
#include <QCloseEvent>
#include <QKeyEvent>
#include <QShowEvent>

TForm_Run* Form_Run = nullptr;

TForm_Run::TForm_Run(QWidget* parent) : QWidget(parent) {}
TForm_Run::~TForm_Run() = default;
void TForm_Run::ShowStatusLine(const QString&, const QColor&) {}
void TForm_Run::ShowMessageLine(const QString&, const QColor&) {}
void TForm_Run::ShowAnimation() {}
void TForm_Run::HideAnimation() {}
QString TForm_Run::FormatByteCount(int32_t) { return {}; }
std::string TForm_Run::ShowFileName(bool) { return {}; }
void TForm_Run::ConnectedInfo(QObject*) {}
void TForm_Run::DisconnectedInfo(QObject*) {}
void TForm_Run::BitBtn_StornoClick(QObject*) {}
void TForm_Run::HTTPWorkBegin(QObject*, int, int64_t) {}
void TForm_Run::HTTPWork(QObject*, int, int64_t) {}
void TForm_Run::HTTPWorkEnd(QObject*, int) {}
void TForm_Run::FormCreate() {}
void TForm_Run::FormShow() {}
void TForm_Run::FormClose() {}
bool TForm_Run::FormKeyPress(int) { return false; }
bool TForm_Run::BitBtn_StornoKeyPress(int) { return false; }
void TForm_Run::BitBtn_SetClick() {}
void TForm_Run::showEvent(QShowEvent* e) { QWidget::showEvent(e); }
void TForm_Run::closeEvent(QCloseEvent* e) { QWidget::closeEvent(e); }
void TForm_Run::keyPressEvent(QKeyEvent* e) { QWidget::keyPressEvent(e); }
bool TForm_Run::eventFilter(QObject* w, QEvent* e) { return QWidget::eventFilter(w, e); }
