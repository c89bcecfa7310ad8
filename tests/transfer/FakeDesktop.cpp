#include "FakeDesktop.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace tests::transfer {

FakeDesktop::FakeDesktop() {
    for (const auto& d :
        {ConfigHome(), ConfigDir(), DataHome() + "/applications", DataDir() + "/applications", BinDir()})
        fs::create_directories(d);
    Set("HOME", root_);
    Set("XDG_CONFIG_HOME", ConfigHome());
    Set("XDG_CONFIG_DIRS", ConfigDir());
    Set("XDG_DATA_HOME", DataHome());
    Set("XDG_DATA_DIRS", DataDir());
    Set("XDG_CURRENT_DESKTOP", "");
    // Our bin first, then only what the scripts need.
    Set("PATH", BinDir() + ":/usr/bin:/bin");
}

FakeDesktop::~FakeDesktop() {
    for (const auto& [name, value] : saved_) {
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
}

void FakeDesktop::Set(const char* name, const std::string& value) {
    if (!saved_.count(name)) {
        const char* old = std::getenv(name);
        saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    setenv(name, value.c_str(), 1);
}

std::string FakeDesktop::WriteFile(const std::string& rel, const std::string& content, bool executable) {
    const fs::path p = fs::path(root_) / rel;
    fs::create_directories(p.parent_path());
    {
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out << content;
    }
    fs::permissions(p, executable ? fs::perms(0755) : fs::perms(0644));
    return p.string();
}

std::string FakeDesktop::WriteScript(const std::string& name, const std::string& body, bool executable) {
    return WriteFile("bin/" + name, "#!/bin/sh\n" + body + "\n", executable);
}

std::string FakeDesktop::WriteDesktopEntry(const std::string& id, const std::string& exec, bool hidden) {
    std::string content = "[Desktop Entry]\nType=Application\nName=Fake\n";
    if (hidden)
        content += "Hidden=true\n";
    content += "Exec=" + exec + "\n";
    return WriteFile("data/applications/" + id, content);
}

void FakeDesktop::WriteMimeApps(
    const std::string& folder, const std::map<std::string, std::string>& defaults, const std::string& fileName) {
    std::string content = "[Added Associations]\nx-scheme-handler/http=decoy.desktop;\n\n[Default Applications]\n";
    for (const auto& [mime, ids] : defaults)
        content += mime + "=" + ids + "\n";
    const fs::path rel = fs::relative(fs::path(folder) / fileName, root_);
    WriteFile(rel.string(), content);
}

std::string FakeDesktop::RegisterBrowser(const std::string& scriptName, const std::string& body, bool executable) {
    const std::string script = WriteScript(scriptName, body, executable);
    WriteDesktopEntry("fake-browser.desktop", "\"" + script + "\" %u");
    WriteMimeApps(ConfigHome(), {{"x-scheme-handler/http", "fake-browser.desktop;"}});
    return script;
}

std::string FakeDesktop::ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

} // namespace tests::transfer
