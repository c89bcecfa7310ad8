// A throw-away desktop for browser tests: HOME, the XDG folders and PATH
// point into a temporary directory holding mimeapps.list files, desktop
// entries and small shell scripts that stand in for a browser or an opener.
// The previous environment comes back when the object goes.
#pragma once

#include "tests/support/TempDir.h"

#include <map>
#include <optional>
#include <string>

namespace tests::transfer {

class FakeDesktop {
public:
    FakeDesktop();
    ~FakeDesktop();
    FakeDesktop(const FakeDesktop&) = delete;
    FakeDesktop& operator=(const FakeDesktop&) = delete;

    const std::string& Root() const { return root_; }
    std::string ConfigHome() const { return root_ + "/config"; }
    std::string ConfigDir() const { return root_ + "/etc-xdg"; }
    std::string DataHome() const { return root_ + "/data"; }
    std::string DataDir() const { return root_ + "/share"; }
    std::string BinDir() const { return root_ + "/bin"; }

    // Writes `content` to root-relative `rel` (folders created); returns the
    // full path.
    std::string WriteFile(const std::string& rel, const std::string& content, bool executable = false);
    // A shell script in bin/ (executable unless told otherwise).
    std::string WriteScript(const std::string& name, const std::string& body, bool executable = true);
    // A desktop entry in data/applications/.
    std::string WriteDesktopEntry(const std::string& id, const std::string& exec, bool hidden = false);
    // A [Default Applications] list in config/ with one line per mime type.
    void WriteMimeApps(const std::string& folder, const std::map<std::string, std::string>& defaults,
        const std::string& fileName = "mimeapps.list");
    // Registers a browser script: desktop entry "fake-browser.desktop" for
    // x-scheme-handler/http whose Exec line starts the script by full path.
    std::string RegisterBrowser(const std::string& scriptName, const std::string& body, bool executable = true);

    static std::string ReadFile(const std::string& path);

private:
    tests::support::TempDir dir_{"halvorne-desktop-"};
    std::string root_ = dir_.path().string();
    std::map<std::string, std::optional<std::string>> saved_;
    void Set(const char* name, const std::string& value);
};

} // namespace tests::transfer
