#include "startup/gui/Form_Master.h"

#include "platform/files/ReceivingFile.h"

#include "startup/core/CommandLine.h"
#include "startup/core/ProxySettings.h"
#include "startup/core/StartupTexts.h"
#include "startup/core/StoredTextValues.h"
#include "startup/core/StoredTexts.h"
#include "startup/gui/Form_Main.h"
#include "startup/gui/Form_Set.h"
#include "startup/gui/WindowStacking.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

#include <cstdio>
#include <cstdlib>

QPointer<TForm_Master> Form_Master;

namespace {

void EndProcessNow(int code) {
    // Nothing of ours is left to finish: the configuration file is written
    // completely before a write returns, and a download cut short must not
    // leave its file behind (one that has a name of its own until it is
    // saved would survive the skipped destructors). Skipping the static
    // destructors keeps Qt from tearing down under a live application object.
    platform::files::DiscardAllReceivingFiles();
    std::fflush(nullptr);
    std::_Exit(code);
}

QString Utf8(const char* text) { return QString::fromUtf8(text); }

} // namespace

TForm_Master::TForm_Master(const std::vector<std::string>& args, const std::string& programFile, QWidget* parent)
    : QWidget(parent), TerminateProcess(EndProcessNow) {
    setObjectName(QStringLiteral("Form_Master"));
    // The master is never shown; it only holds the run.
    setEnabled(false);
    setWindowState(Qt::WindowMinimized);

    const startup::TLaunchMarker marker{startup::stored::LaunchMarkerFirst(), startup::stored::LaunchMarkerSecond(),
        startup::stored::LaunchMarkerThird()};
    RunParameters =
        startup::ParseRunParameters(args, marker, UnscrambleText(startup::stored::CaptionNotice()), programFile);
    if (RunParameters.NotFromHost) {
        ShowMessageDlg(
            TMsgDlgType::mtWarning, QString::fromStdString(startup::NotFromHostWarning(RunParameters.VersionText)));
        return;
    }
    ReadProxySettings();
}

std::string TForm_Master::UnscrambleText(std::string_view stored) const { return startup::UnscrambleText(stored); }

std::string TForm_Master::GetVersionDirAddress() const { return UnscrambleText(startup::stored::VersionDirAddress()); }
std::string TForm_Master::GetVersionFileName() const { return UnscrambleText(startup::stored::VersionFileName()); }
std::string TForm_Master::GetNewVersionFileName() const {
    return UnscrambleText(startup::stored::NewVersionFileName());
}
// The documentation lies in the directory of the version file.
std::string TForm_Master::GetDokumDirAddress() const { return UnscrambleText(startup::stored::VersionDirAddress()); }
std::string TForm_Master::GetDokumFileName() const { return UnscrambleText(startup::stored::DokumFileName()); }
std::string TForm_Master::GetChangesHtmlAddress() const {
    return UnscrambleText(startup::stored::ChangesHtmlAddress());
}
std::string TForm_Master::GetChangesPdfAddress() const { return UnscrambleText(startup::stored::ChangesPdfAddress()); }
std::string TForm_Master::GetUpdatePublicKey() const { return UnscrambleText(startup::stored::UpdatePublicKey()); }

bool TForm_Master::ExtractParamValue(const std::string& word, const std::string& prefix, std::string& value) const {
    return startup::ExtractParamValue(word, prefix, value);
}

void TForm_Master::ShowMessageDlg(TMsgDlgType kind, const QString& text) {
    QMessageBox::Icon icon = QMessageBox::Warning;
    QString caption = Utf8(startup::texts::kCaptionWarning);
    switch (kind) {
    case TMsgDlgType::mtWarning: break;
    case TMsgDlgType::mtError:
        icon = QMessageBox::Critical;
        caption = Utf8(startup::texts::kCaptionError);
        break;
    case TMsgDlgType::mtInformation:
        icon = QMessageBox::Information;
        caption = Utf8(startup::texts::kCaptionInformation);
        break;
    }
    QString body = text;
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

void TForm_Master::EndProgram() {
    const int code = RunParameters.ExitCode;
    // QCoreApplication::exit() outside any event loop is not a no-op: it
    // makes every later modal loop return at once until exec() starts. So
    // it is only called while a loop runs; start-up checks the flags below
    // before it would enter the loop.
    const bool loopRunning = QThread::currentThread()->loopLevel() > 0;
    if (code != 0) {
        ProcessEnded = true;
        EndedExitCode = code;
        TerminateProcess(code);
        // Reached only when TerminateProcess was replaced (tests): leave a
        // running event loop as the ended process would have.
        if (loopRunning)
            QCoreApplication::exit(code);
        return;
    }
    QuitRequested = true;
    if (loopRunning)
        QCoreApplication::exit(0);
}

void TForm_Master::ReadProxySettings() {
    std::string error;
    if (!startup::LoadProxySettings(RunParameters, error))
        ShowMessageDlg(TMsgDlgType::mtError, QString::fromStdString(error));
}

transfer::gui::TProxySettings TForm_Master::Proxy() const {
    return {RunParameters.UseProxy, RunParameters.ProxyName, RunParameters.ProxyPort};
}

std::string TForm_Master::ChangesAddress(bool pdf) const {
    return pdf ? GetChangesPdfAddress() : GetChangesHtmlAddress();
}

void TForm_Master::ShowMainWindow() {
    if (Form_Main)
        Form_Main->show();
}

void TForm_Master::CloseMainWindow() {
    if (Form_Main)
        Form_Main->close();
}

void TForm_Master::OpenSettingsDialog() {
    if (Form_Set)
        Form_Set->ShowModeless();
}
