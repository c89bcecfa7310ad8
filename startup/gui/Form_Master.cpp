#include "startup/gui/Form_Master.h"

#include "startup/core/StartupTexts.h"
#include "startup/gui/Form_Main.h"
#include "startup/gui/WindowStacking.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

QPointer<TForm_Master> Form_Master;

namespace {

QString Utf8(const char* text) { return QString::fromUtf8(text); }

} // namespace

TForm_Master::TForm_Master(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Form_Master"));
    // The master is never shown; it only holds the run.
    setEnabled(false);
    setWindowState(Qt::WindowMinimized);
}

void TForm_Master::ShowMessage(startup::flow::MessageKind kind, const std::string& text) {
    using startup::flow::MessageKind;
    QMessageBox::Icon icon = QMessageBox::Warning;
    QString caption = Utf8(startup::texts::kCaptionWarning);
    switch (kind) {
    case MessageKind::Warning: break;
    case MessageKind::Error:
        icon = QMessageBox::Critical;
        caption = Utf8(startup::texts::kCaptionError);
        break;
    case MessageKind::Information:
        icon = QMessageBox::Information;
        caption = Utf8(startup::texts::kCaptionInformation);
        break;
    }
    QString body = QString::fromStdString(text);
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    body.replace(QChar('\r'), QChar('\n'));
    // Never the master as parent: it is disabled, and a box owned by it
    // would be too. The box belongs to the window the user works in, or to
    // the always-on-top transfer window while that is up, so that it never
    // opens under it.
    QMessageBox box(icon, caption, body, QMessageBox::NoButton, startup::gui::MessageBoxOwner());
    // File names and server texts are shown as they are, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.setObjectName(QStringLiteral("MessageDlg"));
    QPushButton* ok = box.addButton(Utf8(startup::texts::kButtonOk), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
}

TForm_Main* TForm_Master::MainWindow(bool create) const { return mainWindow_ ? mainWindow_(create) : Form_Main.data(); }

void TForm_Master::SetMainCaption(const std::string& text) {
    mainCaption_ = QString::fromStdString(text);
    if (TForm_Main* main = MainWindow(false))
        main->setWindowTitle(mainCaption_);
}

void TForm_Master::ShowMainWindow() {
    if (TForm_Main* main = MainWindow(true))
        main->show();
}

void TForm_Master::HideMainWindow() {
    if (TForm_Main* main = MainWindow(false))
        main->hide();
}

bool TForm_Master::CloseMainWindow() {
    TForm_Main* main = MainWindow(false);
    if (!main)
        return false;
    main->CloseForTheFlow();
    return true;
}

int TForm_Master::RunEventLoop() { return QApplication::exec(); }

bool TForm_Master::EventLoopRunning() const { return QThread::currentThread()->loopLevel() > 0; }

void TForm_Master::QuitEventLoop(int code) { QCoreApplication::exit(code); }
