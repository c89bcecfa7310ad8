#include "platform/process/Browser.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform::process {

namespace {

// Desktop and list files are small; anything larger is not one of them and
// is not read past this size.
constexpr std::size_t kMaxConfigFileSize = 1 << 20;
constexpr std::size_t kMaxDesktopIdLength = 255;

std::string GetEnv(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? std::string(v) : std::string();
}

std::vector<std::string> SplitList(const std::string& value, char sep) {
    std::vector<std::string> out;
    std::string item;
    for (char c : value) {
        if (c == sep) {
            if (!item.empty())
                out.push_back(item);
            item.clear();
        } else {
            item.push_back(c);
        }
    }
    if (!item.empty())
        out.push_back(item);
    return out;
}

std::string Trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return {};
    const auto e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

std::optional<std::string> ReadSmallFile(const std::string& path) {
    if (!IsExistingFile(path))
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string content(kMaxConfigFileSize, '\0');
    in.read(content.data(), static_cast<std::streamsize>(content.size()));
    content.resize(static_cast<std::size_t>(in.gcount()));
    return content;
}

// The value of `key` in group `group` of an INI-style desktop file; the
// first occurrence wins. Localised keys ("Exec[cs]") are different keys.
std::optional<std::string> IniValue(const std::string& content, const std::string& group, const std::string& key) {
    std::string current;
    std::size_t pos = 0;
    while (pos < content.size()) {
        auto eol = content.find('\n', pos);
        if (eol == std::string::npos)
            eol = content.size();
        const std::string line = Trim(content.substr(pos, eol - pos));
        pos = eol + 1;
        if (line.empty() || line[0] == '#')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            current = line.substr(1, line.size() - 2);
            continue;
        }
        if (current != group)
            continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        if (Trim(line.substr(0, eq)) == key)
            return Trim(line.substr(eq + 1));
    }
    return std::nullopt;
}

std::string HomeDir() { return GetEnv("HOME"); }

std::string ConfigHome() {
    std::string v = GetEnv("XDG_CONFIG_HOME");
    if (v.empty() && !HomeDir().empty())
        v = HomeDir() + "/.config";
    return v;
}

std::string DataHome() {
    std::string v = GetEnv("XDG_DATA_HOME");
    if (v.empty() && !HomeDir().empty())
        v = HomeDir() + "/.local/share";
    return v;
}

std::vector<std::string> ConfigDirs() {
    const std::string v = GetEnv("XDG_CONFIG_DIRS");
    return SplitList(v.empty() ? std::string("/etc/xdg") : v, ':');
}

std::vector<std::string> DataDirs() {
    const std::string v = GetEnv("XDG_DATA_DIRS");
    return SplitList(v.empty() ? std::string("/usr/local/share:/usr/share") : v, ':');
}

// mimeapps.list files in the order they are consulted; a desktop-specific
// list comes before the general one in each folder.
std::vector<std::string> MimeAppsLists() {
    std::vector<std::string> folders;
    if (!ConfigHome().empty())
        folders.push_back(ConfigHome());
    for (const auto& d : ConfigDirs())
        folders.push_back(d);
    if (!DataHome().empty())
        folders.push_back(DataHome() + "/applications");
    for (const auto& d : DataDirs())
        folders.push_back(d + "/applications");

    std::vector<std::string> desktops;
    for (std::string d : SplitList(GetEnv("XDG_CURRENT_DESKTOP"), ':')) {
        for (char& c : d)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        desktops.push_back(d);
    }
    std::vector<std::string> files;
    for (const auto& f : folders) {
        for (const auto& d : desktops)
            files.push_back(f + "/" + d + "-mimeapps.list");
        files.push_back(f + "/mimeapps.list");
    }
    return files;
}

// A desktop-file ID names a file, never a path: reject anything that could
// climb out of the applications folders.
bool IsPlainDesktopId(const std::string& id) {
    // Longer than a file name may be: not an installed entry, and not worth
    // trying in its many vendor-folder spellings.
    if (id.size() > kMaxDesktopIdLength)
        return false;
    if (id.size() <= 8 || id.compare(id.size() - 8, 8, ".desktop") != 0)
        return false;
    return id.find('/') == std::string::npos && id.find("..") == std::string::npos;
}

// Relative file names an ID may stand for: "vendor-app.desktop" may live in
// "vendor/app.desktop".
std::vector<std::string> DesktopIdPaths(const std::string& id) {
    std::vector<std::string> out{id};
    std::string s = id;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '-') {
            s[i] = '/';
            out.push_back(s);
        }
    }
    return out;
}

std::optional<std::string> DesktopEntryExec(const std::string& id) {
    if (!IsPlainDesktopId(id))
        return std::nullopt;
    std::vector<std::string> roots;
    if (!DataHome().empty())
        roots.push_back(DataHome() + "/applications/");
    for (const auto& d : DataDirs())
        roots.push_back(d + "/applications/");
    for (const auto& root : roots) {
        for (const auto& rel : DesktopIdPaths(id)) {
            const auto content = ReadSmallFile(root + rel);
            if (!content)
                continue;
            // The first file found for an ID is the entry, usable or not.
            if (IniValue(*content, "Desktop Entry", "Hidden").value_or("") == "true")
                return std::nullopt;
            return IniValue(*content, "Desktop Entry", "Exec");
        }
    }
    return std::nullopt;
}

struct ExecParts {
    std::string program;
    std::string options;
};

// Undoes the string-level escapes of a desktop-file value.
std::string UnescapeValue(const std::string& v) {
    std::string out;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '\\' && i + 1 < v.size()) {
            const char n = v[++i];
            switch (n) {
            case 's': out.push_back(' '); break;
            case 'n': out.push_back('\n'); break;
            case 't': out.push_back('\t'); break;
            case 'r': out.push_back('\r'); break;
            case '\\': out.push_back('\\'); break;
            default: out.push_back('\\'); out.push_back(n);
            }
        } else {
            out.push_back(v[i]);
        }
    }
    return out;
}

std::optional<ExecParts> SplitExec(const std::string& execValue) {
    const std::string s = UnescapeValue(execValue);
    std::size_t i = s.find_first_not_of(" \t");
    if (i == std::string::npos)
        return std::nullopt;
    ExecParts parts;
    if (s[i] == '"') {
        ++i;
        bool closed = false;
        while (i < s.size()) {
            const char c = s[i];
            if (c == '\\' && i + 1 < s.size() &&
                (s[i + 1] == '"' || s[i + 1] == '`' || s[i + 1] == '$' || s[i + 1] == '\\')) {
                parts.program.push_back(s[i + 1]);
                i += 2;
                continue;
            }
            if (c == '"') {
                closed = true;
                ++i;
                break;
            }
            parts.program.push_back(c);
            ++i;
        }
        if (!closed)
            return std::nullopt;
    } else {
        while (i < s.size() && s[i] != ' ' && s[i] != '\t')
            parts.program.push_back(s[i++]);
    }
    if (parts.program.empty())
        return std::nullopt;
    const std::size_t rest = s.find_first_not_of(" \t", i);
    if (rest != std::string::npos)
        parts.options = Trim(s.substr(rest));
    return parts;
}

std::string FindInPath(const std::string& program) {
    if (program.find('/') != std::string::npos)
        return program;
    for (const auto& dir : SplitList(GetEnv("PATH"), ':')) {
        const std::string candidate = dir + "/" + program;
        if (IsExistingFile(candidate) && access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return program;
}

std::string Quoted(const ExecParts& p) {
    // The quoted form cannot carry a double quote inside the path.
    if (p.program.find('"') != std::string::npos)
        return {};
    std::string out = "\"" + p.program + "\"";
    if (!p.options.empty())
        out += " " + p.options;
    return out;
}

struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attr);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
        // Only standard input, output and error are passed on.
        posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
        // The child starts with default signal handling and nothing blocked,
        // whatever the GUI toolkit did to this process.
        sigset_t all, none;
        sigfillset(&all);
        sigemptyset(&none);
        posix_spawnattr_setsigdefault(&attr, &all);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    }
    ~SpawnSetup() {
        posix_spawnattr_destroy(&attr);
        posix_spawn_file_actions_destroy(&actions);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

int WaitFor(pid_t pid, int& status) {
    for (;;) {
        const pid_t r = waitpid(pid, &status, 0);
        if (r == pid)
            return 0;
        if (r < 0 && errno != EINTR)
            return errno;
    }
}

} // namespace

std::string QuotedCommandFromExec(const std::string& exec) {
    const auto parts = SplitExec(exec);
    return parts ? Quoted(*parts) : std::string();
}

std::string RegisteredBrowserCommand() {
    const auto lists = MimeAppsLists();
    for (const char* mime : {"x-scheme-handler/http", "text/html"}) {
        for (const auto& list : lists) {
            const auto content = ReadSmallFile(list);
            if (!content)
                continue;
            const auto value = IniValue(*content, "Default Applications", mime);
            if (!value)
                continue;
            for (const auto& id : SplitList(*value, ';')) {
                const auto exec = DesktopEntryExec(Trim(id));
                if (!exec)
                    continue;
                auto parts = SplitExec(*exec);
                if (!parts)
                    continue;
                parts->program = FindInPath(parts->program);
                return Quoted(*parts);
            }
        }
    }
    return {};
}

RunResult RunAndWait(const std::string& program, const std::vector<std::string>& args) {
    RunResult result;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    SpawnSetup setup;
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attr, argv.data(), environ);
    if (rc != 0) {
        result.error = rc;
        return result;
    }
    result.started = true;
    int status = 0;
    if (const int err = WaitFor(pid, status); err != 0) {
        result.error = err;
        return result;
    }
    if (WIFEXITED(status)) {
        result.exited = true;
        result.exitCode = WEXITSTATUS(status);
    }
    return result;
}

bool IsExistingFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void ShellOpen(const std::string& path) {
    const std::string opener = FindInPath("xdg-open");
    if (opener.find('/') == std::string::npos)
        return; // no opener installed: nothing happens, as when it fails
    // A short-lived shell starts the opener in the background and ends at
    // once, so the opener is not left behind as our child and the caller
    // does not wait for the program it opens. The path travels as an
    // argument, never through the shell's parsing.
    const std::vector<std::string> args{"-c", "\"$0\" \"$1\" </dev/null >/dev/null 2>&1 &", opener, path};
    RunAndWait("/bin/sh", args);
}

} // namespace platform::process
