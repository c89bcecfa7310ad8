#include "WindowsFixture.h"

#include "startup/core/StoredTextValues.h"
#include "startup/gui/Form_Main.h"
#include "startup/gui/Form_Set.h"
#include "transfer/gui/FormDownloadSet.h"
#include "transfer/gui/Form_Run.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QTest>

#include <filesystem>
#include <sstream>

namespace tests::mainwindow {

// ------------------------------------------------------------------ INI

namespace {
std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}
std::string Trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return {};
    const auto e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}
} // namespace

std::map<std::string, std::string> ReadIniSection(const std::string& file, const std::string& section) {
    std::map<std::string, std::string> out;
    std::istringstream in(ReadFile(file));
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string t = Trim(line);
        if (!t.empty() && t.front() == '[') {
            const auto close = t.find(']');
            inside = close != std::string::npos && Lower(Trim(t.substr(1, close - 1))) == Lower(section);
            continue;
        }
        const auto eq = line.find('=');
        if (inside && eq != std::string::npos)
            out[Lower(Trim(line.substr(0, eq)))] = line.substr(eq + 1);
    }
    return out;
}

// -------------------------------------------------------------- windows

namespace {
// EndProgram with code 0 asks the event loop to stop; with no loop running
// the request stays pending and makes every later modal loop return at
// once, as in a program that is ending. Each test starts as a fresh
// process would: one short run of the application loop clears the request.
void ForgetPendingQuit() {
    QTimer::singleShot(0, QCoreApplication::instance(), [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}
} // namespace

void WindowsFixture::Build(const WindowsOptions& options) {
    ForgetPendingQuit();
    tmp_ = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(tmp_->isValid());
    const std::string root = tmp_->path().toStdString() + "/";
    programDir_ = root + "prog/";
    std::filesystem::create_directories(programDir_);
    iniFile_ = programDir_ + "Halvorne.INI";
    targetDir_ = root + "target/";
    if (options.iniContent)
        WriteFile(iniFile_, *options.iniContent);

    boxes_ = std::make_unique<ModalBoxAnswerer>();

    std::vector<std::string> args{programDir_ + "Halvorne.exe"};
    args.push_back({startup::stored::LaunchMarkerFirst(), startup::stored::LaunchMarkerSecond(),
        startup::stored::LaunchMarkerThird()});
    for (const auto& a : options.extraArgs)
        args.push_back(a);
    args.push_back("/p:" + targetDir_);
    if (options.autoMode)
        args.push_back("auto");

    THalvorneWindowsOptions windowOptions;
    windowOptions.CreateAllAtStart = true;
    windowOptions.TerminateProcess = [this](int code) { exitCodes_.push_back(code); };
    windows_ = std::make_unique<THalvorneWindows>(args, programDir_ + "Halvorne.exe", windowOptions);
}

TRunParameters& WindowsFixture::Params() { return Form_Master->Run().RunParameters; }

void WindowsFixture::AimChecksAt(const std::string& base, const std::string& installed) {
    const std::string ver = Form_Master->Run().GetVersionFileName();
    const std::string newFile = Form_Master->Run().GetNewVersionFileName();
    Form_Run->Flow().SetCheckAndDownloadVersionParams(
        VersionParamSet{"", base, ver, "", ""}, VersionParamSet{installed, base, ver, newFile, targetDir_});
}

bool WindowsFixture::Activate(QWidget* w) {
    w->show();
    w->raise();
    // A window hidden just before may still have its deactivation queued,
    // which would take the activation away again: wait until it holds.
    for (int i = 0; i < 200; ++i) {
        w->activateWindow();
        QTest::qWait(5);
        if (QApplication::activeWindow() == w) {
            QTest::qWait(5);
            if (QApplication::activeWindow() == w)
                return true;
        }
    }
    return false;
}

void WindowsFixture::TearDown() {
    for (QWidget* w : std::initializer_list<QWidget*>{FormDownloadSet, Form_Main, Form_Set, Form_Run})
        if (w)
            w->hide();
    windows_.reset();
    boxes_.reset();
    QCoreApplication::processEvents();
}

} // namespace tests::mainwindow
