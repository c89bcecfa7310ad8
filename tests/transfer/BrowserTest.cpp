// Finding the browser, starting programs and the desktop's "open", against a
// fake desktop in a temporary folder.
#include "FakeDesktop.h"

#include "platform/process/Browser.h"
#include "transfer/core/BrowserCommand.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::process::QuotedCommandFromExec;
using platform::process::RegisteredBrowserCommand;
using platform::process::RunAndWait;
using tests::transfer::FakeDesktop;

namespace {

// ---- the program path between the first two double quotes ----

struct PathCase {
    const char* command;
    const char* path;
};

class BrowserPathTable : public ::testing::TestWithParam<PathCase> {};

TEST_P(BrowserPathTable, TakesTheTextBetweenTheFirstTwoQuotes) {
    EXPECT_EQ(transfer::BrowserPathFromCommand(GetParam().command), GetParam().path) << GetParam().command;
}

INSTANTIATE_TEST_SUITE_P(Commands, BrowserPathTable,
    ::testing::Values(PathCase{"\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" -nohome",
                          "C:\\Program Files\\Internet Explorer\\iexplore.exe"},
        PathCase{"\"/usr/bin/firefox\" %u", "/usr/bin/firefox"},
        PathCase{"\"/opt/My Browser/web\" --new-window \"%1\"", "/opt/My Browser/web"},
        PathCase{"\"/usr/bin/web\"", "/usr/bin/web"}, PathCase{"prefix \"/usr/bin/web\" rest", "/usr/bin/web"},
        PathCase{"/usr/bin/firefox %u", ""},   // no quote at all
        PathCase{"\"/usr/bin/firefox %u", ""}, // only one quote
        PathCase{"/usr/bin/firefox\" %u", ""}, // only one quote, later
        PathCase{"\"\" %u", ""},               // nothing between them
        PathCase{"", ""}),
    [](const ::testing::TestParamInfo<PathCase>& testInfo) { return "command" + std::to_string(testInfo.index); });

// ---- a desktop entry's Exec line in the quoted form ----

struct ExecCase {
    const char* exec;
    const char* quoted;
};

class ExecTable : public ::testing::TestWithParam<ExecCase> {};

TEST_P(ExecTable, ProgramQuotedOptionsKept) {
    EXPECT_EQ(QuotedCommandFromExec(GetParam().exec), GetParam().quoted) << GetParam().exec;
}

INSTANTIATE_TEST_SUITE_P(ExecLines, ExecTable,
    ::testing::Values(ExecCase{"/usr/lib/firefox-esr/firefox-esr %u", "\"/usr/lib/firefox-esr/firefox-esr\" %u"},
        ExecCase{"chromium --new-window %U", "\"chromium\" --new-window %U"},
        ExecCase{"\"/opt/My Browser/web\" %u", "\"/opt/My Browser/web\" %u"},
        ExecCase{"  /usr/bin/web  ", "\"/usr/bin/web\""},
        ExecCase{"/opt/My\\sBrowser/web %u", "\"/opt/My\" Browser/web %u"},     // an unquoted \s still separates
        ExecCase{"\"/opt/My\\sBrowser/web\" %u", "\"/opt/My Browser/web\" %u"}, // a quoted one does not
        ExecCase{"\"/opt/a\\\\b/web\" %u", "\"/opt/a\\b/web\" %u"},             // a doubled backslash is one
        ExecCase{"\"/opt/we\\\\\"ird/web\" %u", ""},                            // a quote in the path
        ExecCase{"\"/opt/unterminated %u", ""}, ExecCase{"\"\" %u", ""}, ExecCase{"", ""}, ExecCase{"   ", ""}),
    [](const ::testing::TestParamInfo<ExecCase>& testInfo) { return "line" + std::to_string(testInfo.index); });

// ---- the registered browser on a fake desktop ----

TEST(RegisteredBrowser, NoneWithoutAnyDefaults) {
    FakeDesktop d;
    EXPECT_EQ(RegisteredBrowserCommand(), "");
    d.WriteMimeApps(d.ConfigHome(), {{"image/png", "viewer.desktop;"}});
    d.WriteDesktopEntry("viewer.desktop", "/usr/bin/viewer %f");
    EXPECT_EQ(RegisteredBrowserCommand(), "");
}

TEST(RegisteredBrowser, HttpHandlerFromTheUsersList) {
    FakeDesktop d;
    const std::string script = d.RegisterBrowser("web", "exit 0");
    EXPECT_EQ(RegisteredBrowserCommand(), "\"" + script + "\" %u");
}

TEST(RegisteredBrowser, ProgramWithoutDirectoryIsFoundInPath) {
    FakeDesktop d;
    const std::string script = d.WriteScript("webby", "exit 0");
    d.WriteDesktopEntry("webby.desktop", "webby --private %u");
    d.WriteMimeApps(d.ConfigHome(), {{"x-scheme-handler/http", "webby.desktop"}});
    EXPECT_EQ(RegisteredBrowserCommand(), "\"" + script + "\" --private %u");
}

TEST(RegisteredBrowser, ProgramNotInPathStaysAsNamed) {
    FakeDesktop d;
    d.WriteDesktopEntry("gone.desktop", "no-such-browser-here %u");
    d.WriteMimeApps(d.ConfigHome(), {{"x-scheme-handler/http", "gone.desktop"}});
    EXPECT_EQ(RegisteredBrowserCommand(), "\"no-such-browser-here\" %u");
}

TEST(RegisteredBrowser, HtmlHandlerWhenNoHttpHandler) {
    FakeDesktop d;
    d.WriteDesktopEntry("reader.desktop", "/usr/bin/html-reader %f");
    d.WriteMimeApps(d.ConfigHome(), {{"text/html", "reader.desktop;"}});
    EXPECT_EQ(RegisteredBrowserCommand(), "\"/usr/bin/html-reader\" %f");
}

TEST(RegisteredBrowser, HttpHandlerWinsOverHtmlHandler) {
    FakeDesktop d;
    d.WriteDesktopEntry("reader.desktop", "/usr/bin/html-reader %f");
    d.WriteDesktopEntry("web.desktop", "/usr/bin/web %u");
    d.WriteMimeApps(d.ConfigHome(), {{"text/html", "reader.desktop"}, {"x-scheme-handler/http", "web.desktop"}});
    EXPECT_EQ(RegisteredBrowserCommand(), "\"/usr/bin/web\" %u");
}

TEST(RegisteredBrowser, SkipsMissingAndHiddenEntriesInTheList) {
    FakeDesktop d;
    d.WriteDesktopEntry("hidden.desktop", "/usr/bin/hidden %u", /*hidden=*/true);
    d.WriteDesktopEntry("second.desktop", "/usr/bin/second %u");
    d.WriteMimeApps(d.ConfigHome(), {{"x-scheme-handler/http", "missing.desktop;hidden.desktop; second.desktop;"}});
    EXPECT_EQ(RegisteredBrowserCommand(), "\"/usr/bin/second\" %u");
}

TEST(RegisteredBrowser, OtherGroupsDoNotCount) {
    FakeDesktop d;
    // "decoy.desktop" is listed only under [Added Associations].
    d.WriteDesktopEntry("decoy.desktop", "/usr/bin/decoy %u");
    d.WriteMimeApps(d.ConfigHome(), {{"text/plain", "decoy.desktop"}});
    EXPECT_EQ(RegisteredBrowserCommand(), "");
    // An Exec line in an action group is not the entry's command.
    d.WriteFile("data/applications/web.desktop",
        "[Desktop Action private]\nExec=/usr/bin/web --private %u\n\n[Desktop Entry]\nExec=/usr/bin/web %u\n");
    d.WriteMimeApps(d.ConfigHome(), {{"x-scheme-handler/http", "web.desktop"}});
    EXPECT_EQ(RegisteredBrowserCommand(), "\"/usr/bin/web\" %u");
}

TEST(RegisteredBrowser, SystemListsAndFoldersAreConsulted) {
    FakeDesktop d;
    d.WriteFile("share/applications/sysweb.desktop", "[Desktop Entry]\nExec=/usr/bin/sysweb %u\n");
    d.WriteMimeApps(d.ConfigDir(), {{"x-scheme-handler/http", "sysweb.desktop"}});
    EXPECT_EQ(RegisteredBrowserCommand(), "\"/usr/bin/sysweb\" %u");
    // The user's own list comes first.
    d.WriteDesktopEntry("mine.desktop", "/usr/bin/mine %u");
    d.WriteMimeApps(d.ConfigHome(), {{"x-scheme-handler/http", "mine.desktop"}});
    EXPECT_EQ(RegisteredBrowserCommand(), "\"/usr/bin/mine\" %u");
}

TEST(RegisteredBrowser, DesktopSpecificListComesFirst) {
    FakeDesktop d;
    d.WriteDesktopEntry("general.desktop", "/usr/bin/general %u");
    d.WriteDesktopEntry("special.desktop", "/usr/bin/special %u");
    d.WriteMimeApps(d.ConfigHome(), {{"x-scheme-handler/http", "general.desktop"}});
    d.WriteMimeApps(d.ConfigHome(), {{"x-scheme-handler/http", "special.desktop"}}, "testde-mimeapps.list");
    EXPECT_EQ(RegisteredBrowserCommand(), "\"/usr/bin/general\" %u");
    setenv("XDG_CURRENT_DESKTOP", "Other:TestDE", 1);
    EXPECT_EQ(RegisteredBrowserCommand(), "\"/usr/bin/special\" %u");
}

TEST(RegisteredBrowser, VendorPrefixedIdFoundInSubfolder) {
    FakeDesktop d;
    d.WriteFile("data/applications/vendor/web.desktop", "[Desktop Entry]\nExec=/opt/vendor/web %u\n");
    d.WriteMimeApps(d.ConfigHome(), {{"x-scheme-handler/http", "vendor-web.desktop"}});
    EXPECT_EQ(RegisteredBrowserCommand(), "\"/opt/vendor/web\" %u");
}

TEST(RegisteredBrowser, IdsThatAreNotPlainFileNamesAreIgnored) {
    FakeDesktop d;
    d.WriteFile("evil.desktop", "[Desktop Entry]\nExec=/usr/bin/evil %u\n");
    d.WriteFile("data/applications/sub/x.desktop", "[Desktop Entry]\nExec=/usr/bin/x %u\n");
    d.WriteMimeApps(
        d.ConfigHome(), {{"x-scheme-handler/http", "../../evil.desktop;sub/x.desktop;/etc/passwd;notadesktopfile"}});
    EXPECT_EQ(RegisteredBrowserCommand(), "");
}

TEST(RegisteredBrowser, OverlongIdsAreIgnored) {
    FakeDesktop d;
    // Far longer than any file name, and full of would-be vendor prefixes.
    std::string longId;
    for (int i = 0; i < 20000; ++i)
        longId += "a-";
    longId += "web.desktop";
    d.WriteDesktopEntry("web.desktop", "/usr/bin/web %u");
    d.WriteMimeApps(d.ConfigHome(), {{"x-scheme-handler/http", longId + ";web.desktop"}});
    EXPECT_EQ(RegisteredBrowserCommand(), "\"/usr/bin/web\" %u");
}

TEST(RegisteredBrowser, OversizedFilesAreNotReadPastTheLimit) {
    FakeDesktop d;
    // A list far larger than any real one whose entry sits past the limit.
    std::string content = "[Default Applications]\n";
    content += "# " + std::string(2 << 20, 'x') + "\n";
    content += "x-scheme-handler/http=web.desktop\n";
    d.WriteFile("config/mimeapps.list", content);
    d.WriteDesktopEntry("web.desktop", "/usr/bin/web %u");
    EXPECT_EQ(RegisteredBrowserCommand(), "");
}

// ---- starting a program and waiting for it ----

TEST(RunAndWait, ReportsTheExitCode) {
    FakeDesktop d;
    for (int code : {0, 1, 2, 42}) {
        const std::string s = d.WriteScript("code" + std::to_string(code), "exit " + std::to_string(code));
        const auto r = RunAndWait(s, {"http://127.0.0.1/x"});
        EXPECT_TRUE(r.started);
        EXPECT_TRUE(r.exited);
        EXPECT_EQ(r.exitCode, code);
    }
}

TEST(RunAndWait, AddressIsOneArgumentWhateverItHolds) {
    FakeDesktop d;
    const std::string out = d.Root() + "/args.txt";
    const std::string s = d.WriteScript("args", "printf '%s|%s' \"$#\" \"$1\" > '" + out + "'");
    const std::string address = "/tmp/dir with blanks/zmeny \"v\" $HOME `id`;.html";
    const auto r = RunAndWait(s, {address});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(FakeDesktop::ReadFile(out), "1|" + address);
}

TEST(RunAndWait, ProgramPathWithBlanks) {
    FakeDesktop d;
    const std::string s = d.WriteFile("My Browser/web", "#!/bin/sh\nexit 1\n", true);
    const auto r = RunAndWait(s, {"x"});
    EXPECT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, 1);
}

TEST(RunAndWait, ProgramsThatCannotStart) {
    FakeDesktop d;
    const std::string notExec = d.WriteScript("plain", "exit 0", /*executable=*/false);
    const std::string missing = d.Root() + "/bin/nothing-here";
    for (const std::string& p : {notExec, missing, d.BinDir(), std::string()}) {
        const auto r = RunAndWait(p, {"x"});
        EXPECT_FALSE(r.started) << p;
        EXPECT_NE(r.error, 0) << p;
    }
}

TEST(RunAndWait, KilledProgramHasNoExitCode) {
    FakeDesktop d;
    const std::string s = d.WriteScript("killed", "kill -9 $$");
    const auto r = RunAndWait(s, {});
    EXPECT_TRUE(r.started);
    EXPECT_FALSE(r.exited);
}

TEST(RunAndWait, ReturnsOnlyAfterTheProgramEnded) {
    FakeDesktop d;
    const std::string done = d.Root() + "/done";
    const std::string s = d.WriteScript("slow", "sleep 0.3; echo x > '" + done + "'");
    const auto r = RunAndWait(s, {});
    ASSERT_TRUE(r.exited);
    EXPECT_TRUE(fs::exists(done));
}

TEST(RunAndWait, OurOpenFilesAreNotPassedOn) {
    FakeDesktop d;
    const int fd = ::open(d.Root().c_str(), O_RDONLY); // deliberately without O_CLOEXEC
    ASSERT_GE(fd, 3);
    const std::string s = d.WriteScript("fds", "[ -e /dev/fd/" + std::to_string(fd) + " ] && exit 3; exit 0");
    const auto r = RunAndWait(s, {});
    ::close(fd);
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 0);
}

// ---- existing files and the desktop's "open" ----

TEST(ShellOpen, ExistingFileMeansARegularFile) {
    FakeDesktop d;
    const std::string f = d.WriteFile("zmeny.html", "<html></html>");
    EXPECT_TRUE(platform::process::IsExistingFile(f));
    EXPECT_FALSE(platform::process::IsExistingFile(d.Root()));
    EXPECT_FALSE(platform::process::IsExistingFile(d.Root() + "/nope.html"));
    EXPECT_FALSE(platform::process::IsExistingFile("http://127.0.0.1/zmeny.html"));
    EXPECT_FALSE(platform::process::IsExistingFile(""));
}

TEST(ShellOpen, HandsTheFileToTheOpenerWithoutWaitingForIt) {
    FakeDesktop d;
    const std::string go = d.Root() + "/go";
    const std::string seen = d.Root() + "/seen";
    // The opener waits (boundedly) for the test's go-ahead: ShellOpen can
    // only return before it if it does not wait for the opener.
    d.WriteScript("xdg-open", "i=0; while [ ! -e '" + go +
                                  "' ] && [ $i -lt 400 ]; do sleep 0.05; i=$((i+1)); done\n"
                                  "printf '%s' \"$1\" > '" +
                                  seen + "'");
    const std::string file = d.WriteFile("dir with blanks/zmeny.html", "<html></html>");
    platform::process::ShellOpen(file);
    EXPECT_FALSE(fs::exists(seen));
    d.WriteFile("go", "");
    for (int i = 0; i < 400 && FakeDesktop::ReadFile(seen) != file; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    EXPECT_EQ(FakeDesktop::ReadFile(seen), file);
}

TEST(ShellOpen, NoOpenerInstalledDoesNothing) {
    FakeDesktop d;
    setenv("PATH", d.BinDir().c_str(), 1);
    platform::process::ShellOpen(d.WriteFile("a.html", "x")); // must simply return
    SUCCEED();
}

} // namespace
