// Renders Halvorne's windows and dialogs in their typical states to PNG
// files, off screen, so that anyone can look at them without a desktop.
// Usage: halvorne_screenshots OUTPUT_DIR
#include "startup/core/StoredTextValues.h"
#include "startup/gui/Form_Main.h"
#include "startup/gui/Form_Master.h"
#include "startup/gui/Form_Set.h"
#include "startup/gui/HalvorneWindows.h"
#include "transfer/core/ErrorClass.h"
#include "transfer/gui/FormDownloadSet.h"
#include "transfer/gui/Form_Run.h"

#include <QApplication>
#include <QDir>
#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);
const QColor kBlack(0, 0, 0);

bool Save(QWidget* w, const QDir& out, const QString& name) {
    QCoreApplication::processEvents();
    const QString path = out.filePath(name + QStringLiteral(".png"));
    if (!w->grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

struct Windows {
    explicit Windows(const std::string& dir, bool autoMode) {
        const std::string marker{startup::stored::LaunchMarkerFirst(), startup::stored::LaunchMarkerSecond(),
                                 startup::stored::LaunchMarkerThird()};
        std::vector<std::string> args{dir + "/Halvorne", marker, "chkver", "/v:5.10", "/p:" + dir + "/cil"};
        if (autoMode)
            args.push_back("auto");
        THalvorneWindowsOptions o;
        // Rendering only: the program never ends from here.
        o.TerminateProcess = [](int) {};
        windows = std::make_unique<THalvorneWindows>(args, dir + "/Halvorne", o);
    }
    std::unique_ptr<THalvorneWindows> windows;
};

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    QTemporaryDir programDir;
    if (!programDir.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    const std::string dir = programDir.path().toStdString();
    bool ok = true;
    {
        Windows w(dir, /*autoMode=*/true);
        Form_Run->show();
        Form_Run->ShowAnimation();
        Form_Run->ShowStatusLine(QStringLiteral("NAVAZOVÁNÍ SPOJENÍ"), kBlue);
        ok &= Save(Form_Run, out, QStringLiteral("transfer-connecting"));

        Form_Run->ConnectedInfo(nullptr);
        Form_Run->ShowStatusLine(QStringLiteral("Stahování souboru ") +
                                     QString::fromStdString(Form_Master->GetNewVersionFileName()), kBlue);
        Form_Run->Label_Msg->hide();
        Form_Run->Label_Download->show();
        Form_Run->Gauge1->show();
        Form_Run->HTTPWorkBegin(nullptr, wmRead, 2500000);
        Form_Run->HTTPWork(nullptr, wmRead, 1000000);
        ok &= Save(Form_Run, out, QStringLiteral("transfer-downloading-40"));

        Form_Run->HTTPWork(nullptr, wmRead, 2500000);
        Form_Run->HTTPWorkEnd(nullptr, wmRead);
        Form_Run->FinishedOk = true;
        Form_Run->DisconnectedInfo(nullptr);
        ok &= Save(Form_Run, out, QStringLiteral("transfer-finished"));

        Form_Run->ConnectionMade = false;
        Form_Run->FinishedOk = false;
        Form_Run->DisconnectedInfo(nullptr);
        Form_Run->ShowMessageLine(QString::fromUtf8(transfer::kConnectionHint), kBlack);
        ok &= Save(Form_Run, out, QStringLiteral("transfer-message"));

        Form_Run->ConnectionMade = true;
        Form_Run->FinishedOk = false;
        Form_Run->DisconnectedInfo(nullptr);
        Form_Run->ShowMessageLine(QStringLiteral("Soubor se nepodařilo uložit!\r\n") +
                                      QString::fromStdString(dir + "/cil/") +
                                      QString::fromStdString(Form_Master->GetNewVersionFileName()),
                                  kRed);
        ok &= Save(Form_Run, out, QStringLiteral("transfer-save-failed"));

        FormDownloadSet->SetNewVersionText(QStringLiteral("5.23"));
        FormDownloadSet->show();
        ok &= Save(FormDownloadSet, out, QStringLiteral("next-step"));
        FormDownloadSet->RadioButtonPdfClick();
        FormDownloadSet->BitBtnLoad->setFocus();
        ok &= Save(FormDownloadSet, out, QStringLiteral("next-step-pdf"));
        FormDownloadSet->hide();
        Form_Run->hide();

        // The change viewer's warning when there is no browser and the
        // address is not a local file, grabbed while the box is open.
        QTimer::singleShot(0, [&] {
            if (QWidget* box = QApplication::activeModalWidget()) {
                ok &= Save(box, out, QStringLiteral("viewer-warning"));
                if (auto* mb = qobject_cast<QMessageBox*>(box); mb && !mb->buttons().isEmpty())
                    mb->buttons().first()->click();
                else
                    box->close();
            }
        });
        // An empty desktop: no browser is registered here.
        for (const char* var : {"HOME", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME", "XDG_DATA_DIRS"})
            qputenv(var, QByteArray::fromStdString(dir + "/empty-desktop"));
        Form_Run->ShowChangesFile(nullptr, Form_Master->GetChangesHtmlAddress());
    }
    {
        Windows w(dir, /*autoMode=*/false);
        Form_Run->show();
        Form_Run->ShowStatusLine(QStringLiteral("NAVAZOVÁNÍ SPOJENÍ"), kBlue);
        ok &= Save(Form_Run, out, QStringLiteral("transfer-main-window-mode"));
        Form_Run->hide();

        Form_Main->show();
        ok &= Save(Form_Main, out, QStringLiteral("main-window"));
        Form_Set->ShowModeless();
        ok &= Save(Form_Set, out, QStringLiteral("settings"));
        Form_Set->hide();
        Form_Main->hide();
    }
    return ok ? 0 : 1;
}
