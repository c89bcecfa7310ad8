// Builds Halvorne's five windows in-process, in the start-up order, for
// driving the download operations directly and looking at what a host
// cannot see from outside: the status line, its colour, the message line.
#pragma once

#include "tests/support/TempDir.h"

#include "startup/gui/Form_Main.h"
#include "startup/gui/Form_Master.h"
#include "startup/gui/Form_Set.h"
#include "startup/gui/HalvorneWindows.h"
#include "transfer/gui/FormDownloadSet.h"
#include "transfer/gui/Form_Run.h"
#include "transfer/gui/TransferWidgets.h"

#include <QApplication>
#include <QLabel>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#ifndef TEST_LAUNCH_MARKER
#error "TEST_LAUNCH_MARKER must be the marker of the test's stored texts"
#endif

namespace tests::support {

using transfer::gui::kBlack;
using transfer::gui::kBlue;
using transfer::gui::kGreen;
using transfer::gui::kRed;

inline const QString kConnecting = QStringLiteral("NAVAZOVÁNÍ SPOJENÍ");
inline const QString kConnected = QStringLiteral("SPOJENÍ NAVÁZÁNO");
inline const QString kEnded = QStringLiteral("SPOJENÍ UKONČENO");
inline const QString kCancelled = QStringLiteral("SPOJENÍ ZRUŠENO");
inline const QString kNoConnection = QStringLiteral("SPOJENÍ SE NEPODAŘILO NAVÁZAT");
inline const QString kHint = QStringLiteral(
    "Zkontrolujte nastavení připojení, firewallu a funkčnost zařízení pro připojení k internetu a akci zopakujte!");

// The program ended (EndProgram ran) and every ending asked for this code:
// closing the transfer window in automatic mode also closes the main
// window, whose close ends the program once more.
class WindowHarness;
inline bool EndedWith(const WindowHarness& h, int code);

inline QColor TextColour(QLabel* l) { return l->palette().color(QPalette::WindowText); }

// What the user answers in the next-step dialog, one entry per showing.
enum class Answer { ChangesHtml, ChangesPdf, Download, Storno };

class WindowHarness {
public:
    // A fresh set of windows; the program file lies in a temporary folder so
    // its configuration file is the test's own.
    explicit WindowHarness(const std::string& mode = "chkver") {
        target_ = tmp_.prefix() + "target/";
        std::filesystem::create_directory(target_);
        IsolateBrowser();
        const std::string program = tmp_.prefix() + "Halvorne";
        std::vector<std::string> args = {program, TEST_LAUNCH_MARKER, mode, "/v:5.10", "/p:" + target_, "auto"};
        THalvorneWindowsOptions options;
        options.TerminateProcess = [this](int code) { terminations.push_back(code); };
        windows_ = std::make_unique<THalvorneWindows>(args, program, options);
        Form_Run->show();
    }
    ~WindowHarness() { *alive_ = false; }

    const std::string& Target() const { return target_; }
    const TempDir& Tmp() const { return tmp_; }
    int ExitCode() const { return Form_Master->Run().RunParameters.ExitCode; }
    // The browser's log: one line per address it was started with.
    std::string BrowserLog() const { return ReadFile(tmp_.path() / "browser.log"); }

    // Answers each showing of the next-step dialog in turn and records the
    // version text it showed. Storno when the answers run out.
    void AnswerDialog(std::vector<Answer> answers) {
        answers_ = std::move(answers);
        PollForDialog();
    }

    std::vector<QString> dialogVersionTexts;
    int dialogShowings = 0;
    // Exit codes EndProgram ended the "process" with, in order.
    std::vector<int> terminations;

    // Runs f from the event loop as soon as pred holds (polled every 5 ms).
    void WhenReady(std::function<bool()> pred, std::function<void()> f) {
        QTimer::singleShot(5, qApp, [this, alive = alive_, pred, f] {
            if (!*alive)
                return;
            if (pred())
                f();
            else
                WhenReady(pred, f);
        });
    }

private:
    void IsolateBrowser() {
        // A browser of our own: records its argument and ends with 0. The
        // lookups read these folders only, so no real browser can start.
        namespace fs = std::filesystem;
        const fs::path home = tmp_.path() / "home";
        fs::create_directories(home / ".config");
        fs::create_directories(home / "data" / "applications");
        fs::create_directories(home / "sysconfig");
        fs::create_directories(home / "sysdata");
        const fs::path browser = tmp_.path() / "fake-browser";
        WriteFile(browser, "#!/bin/sh\necho \"$1\" >> '" + (tmp_.path() / "browser.log").string() + "'\nexit 0\n");
        fs::permissions(browser, fs::perms::owner_all);
        WriteFile(home / ".config" / "mimeapps.list",
            "[Default Applications]\nx-scheme-handler/http=fake.desktop\ntext/html=fake.desktop\n");
        WriteFile(home / "data" / "applications" / "fake.desktop",
            "[Desktop Entry]\nType=Application\nName=Fake\nExec=" + browser.string() + " %u\n");
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
        ::setenv("XDG_CONFIG_DIRS", (home / "sysconfig").c_str(), 1);
        ::setenv("XDG_DATA_DIRS", (home / "sysdata").c_str(), 1);
    }

    void PollForDialog() {
        WhenReady([] { return FormDownloadSet && QApplication::activeModalWidget() == FormDownloadSet; },
            [this] {
                ++dialogShowings;
                dialogVersionTexts.push_back(
                    FormDownloadSet->LabelSetVers ? FormDownloadSet->LabelSetVers->text() : QString());
                const Answer a = answers_.empty() ? Answer::Storno : answers_.front();
                if (!answers_.empty())
                    answers_.erase(answers_.begin());
                switch (a) {
                case Answer::ChangesHtml:
                    FormDownloadSet->RadioButtonHtml->click();
                    FormDownloadSet->BitBtnChanges->click();
                    break;
                case Answer::ChangesPdf:
                    FormDownloadSet->RadioButtonPdf->click();
                    FormDownloadSet->BitBtnChanges->click();
                    break;
                case Answer::Download: FormDownloadSet->BitBtnLoad->click(); break;
                case Answer::Storno: FormDownloadSet->BitBtnCancel->click(); break;
                }
                if (a == Answer::ChangesHtml || a == Answer::ChangesPdf)
                    PollForDialog(); // it comes back after the changes
            });
    }

    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    TempDir tmp_;
    std::unique_ptr<THalvorneWindows> windows_;
    std::string target_;
    std::vector<Answer> answers_;
};

inline bool EndedWith(const WindowHarness& h, int code) {
    if (h.terminations.empty())
        return false;
    for (int c : h.terminations)
        if (c != code)
            return false;
    return true;
}

} // namespace tests::support
