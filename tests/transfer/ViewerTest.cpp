// The change-information viewer with fake browsers on a fake desktop.
#include "FakeDesktop.h"
#include "TransferTestSupport.h"
#include "tests/support/ModalBoxes.h"

#include "startup/gui/Form_Master.h"
#include "transfer/gui/Form_Run.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;
using tests::support::ModalBoxAnswerer;
using tests::transfer::FakeDesktop;
using tests::transfer::HalvorneWindows;

namespace {

// The message box shows each CR LF as one line break.
const QString kBrowserFailed = QStringLiteral("Informace o změnách se nepodařilo zobrazit!\n\nProhlížeč: ");
const QString kNoFile = QStringLiteral("Informace o změnách se nepodařilo zobrazit!\n\nSoubor informací nebyl nalezen");
const std::string kWebAddress = "http://127.0.0.1:9/halvorne/zmeny.html";

class ViewerTest : public ::testing::Test {
protected:
    FakeDesktop desktop; // before the windows: the environment is set first
    HalvorneWindows windows;
    ModalBoxAnswerer answers;

    void Show(const std::string& address) {
        Form_Run->Flow().ReshowConnected = false;
        Form_Run->Flow().ShowChangesFile(address);
        EXPECT_TRUE(Form_Run->Flow().ReshowConnected);
    }
};

TEST_F(ViewerTest, FindBrowserPathGivesTheRegisteredProgram) {
    EXPECT_EQ(transfer::flow::TransferFlow::FindBrowserPath(), "");
    const std::string script = desktop.RegisterBrowser("web", "exit 0");
    EXPECT_EQ(transfer::flow::TransferFlow::FindBrowserPath(), script);
}

TEST_F(ViewerTest, BrowserEndingWithZeroOrOneIsSuccess) {
    const std::string out = desktop.Root() + "/args";
    for (int code : {0, 1}) {
        fs::remove(out);
        desktop.RegisterBrowser(
            "web" + std::to_string(code), "printf '%s|%s' \"$#\" \"$1\" > '" + out + "'; exit " + std::to_string(code));
        Show(kWebAddress);
        EXPECT_TRUE(answers.Boxes().empty()) << code;
        EXPECT_EQ(FakeDesktop::ReadFile(out), "1|" + kWebAddress) << code;
    }
}

TEST_F(ViewerTest, BrowserEndingWithAnotherCodeIsReported) {
    const std::string script = desktop.RegisterBrowser("web", "exit 2");
    Show(kWebAddress);
    ASSERT_EQ(answers.Boxes().size(), 1u);
    EXPECT_EQ(answers.Boxes()[0].text, kBrowserFailed + QString::fromStdString(script));
    EXPECT_EQ(answers.Boxes()[0].title, QStringLiteral("Upozornění"));
}

TEST_F(ViewerTest, BrowserThatCannotStartIsReported) {
    const std::string notExecutable = desktop.RegisterBrowser("plain", "exit 0", /*executable=*/false);
    Show(kWebAddress);
    ASSERT_EQ(answers.Boxes().size(), 1u);
    EXPECT_EQ(answers.Boxes()[0].text, kBrowserFailed + QString::fromStdString(notExecutable));

    const std::string missing = desktop.Root() + "/gone/web";
    desktop.WriteDesktopEntry("fake-browser.desktop", missing + " %u");
    Show(kWebAddress);
    ASSERT_EQ(answers.Boxes().size(), 2u);
    EXPECT_EQ(answers.Boxes()[1].text, kBrowserFailed + QString::fromStdString(missing));
}

TEST_F(ViewerTest, BrowserKilledBySignalIsReported) {
    const std::string script = desktop.RegisterBrowser("web", "kill -9 $$");
    Show(kWebAddress);
    ASSERT_EQ(answers.Boxes().size(), 1u);
    EXPECT_EQ(answers.Boxes()[0].text, kBrowserFailed + QString::fromStdString(script));
}

TEST_F(ViewerTest, BrowserPathWithBlanksStarts) {
    const std::string out = desktop.Root() + "/ran";
    const std::string script =
        desktop.WriteFile("Program Files/Web Browser/web", "#!/bin/sh\nprintf '%s' \"$1\" > '" + out + "'\n", true);
    desktop.WriteDesktopEntry("spaced.desktop", "\"" + script + "\" %u");
    desktop.WriteMimeApps(desktop.ConfigHome(), {{"text/html", "spaced.desktop"}});
    EXPECT_EQ(transfer::flow::TransferFlow::FindBrowserPath(), script);
    Show(kWebAddress);
    EXPECT_TRUE(answers.Boxes().empty());
    EXPECT_EQ(FakeDesktop::ReadFile(out), kWebAddress);
}

TEST_F(ViewerTest, ReturnsOnlyAfterTheBrowserEnded) {
    const std::string done = desktop.Root() + "/closed";
    desktop.RegisterBrowser("web", "sleep 0.3; echo closed > '" + done + "'");
    Show(kWebAddress);
    EXPECT_TRUE(fs::exists(done));
    EXPECT_TRUE(answers.Boxes().empty());
}

TEST_F(ViewerTest, NoBrowserAndAWebAddressTellsTheFileWasNotFound) {
    Show(kWebAddress);
    ASSERT_EQ(answers.Boxes().size(), 1u);
    EXPECT_EQ(answers.Boxes()[0].text, kNoFile);
    EXPECT_EQ(answers.Boxes()[0].title, QStringLiteral("Upozornění"));
}

TEST_F(ViewerTest, NoBrowserAndALocalFileOpensItWithTheDesktop) {
    const std::string seen = desktop.Root() + "/opened";
    desktop.WriteScript("xdg-open", "printf '%s' \"$1\" > '" + seen + "'");
    const std::string file = desktop.WriteFile("docs/zmeny v1.html", "<html></html>");
    Show(file);
    EXPECT_TRUE(answers.Boxes().empty());
    for (int i = 0; i < 400 && FakeDesktop::ReadFile(seen) != file; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    EXPECT_EQ(FakeDesktop::ReadFile(seen), file);
}

TEST_F(ViewerTest, NoBrowserAndAFailingOpenerSaysNothing) {
    desktop.WriteScript("xdg-open", "exit 4");
    Show(desktop.WriteFile("zmeny.pdf", "%PDF-1.4"));
    EXPECT_TRUE(answers.Boxes().empty());
}

TEST_F(ViewerTest, NoBrowserAndAMissingLocalFileTellsTheFileWasNotFound) {
    Show(desktop.Root() + "/docs/none.html");
    ASSERT_EQ(answers.Boxes().size(), 1u);
    EXPECT_EQ(answers.Boxes()[0].text, kNoFile);
}

} // namespace
