#include "platform/files/FileOps.h"
#include "platform/files/PosixDetail.h"
#include "platform/wintext/NameCase.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::files {
namespace {

using detail::ErrnoText;

// Keeps the owner's descriptor closed on every path.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
    int release() {
        int f = fd;
        fd = -1;
        return f;
    }
};

// Closes the listing on every path.
struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};
using Listing = std::unique_ptr<DIR, DirCloser>;

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string InDirectory(const std::string& dir, const std::string& name) {
    if (dir.empty())
        return name;
    return dir.back() == '/' ? dir + name : dir + '/' + name;
}

} // namespace

namespace detail {

namespace {
std::mutex g_signalMutex;
int g_signalHolders = 0;
struct sigaction g_oldSignalAction {};
} // namespace

void HoldFileSizeSignalIgnored() {
    std::lock_guard<std::mutex> lock(g_signalMutex);
    if (g_signalHolders++ > 0)
        return;
    struct sigaction ign {};
    ign.sa_handler = SIG_IGN;
    sigemptyset(&ign.sa_mask);
    ::sigaction(SIGXFSZ, &ign, &g_oldSignalAction);
}

void ReleaseFileSizeSignal() {
    std::lock_guard<std::mutex> lock(g_signalMutex);
    if (g_signalHolders > 0 && --g_signalHolders == 0)
        ::sigaction(SIGXFSZ, &g_oldSignalAction, nullptr);
}

std::string ErrnoText(int err) { return std::strerror(err); }

std::string HiddenTempName(const std::string& dir) {
    thread_local std::mt19937_64 gen = [] {
        std::random_device rd;
        return std::mt19937_64((static_cast<uint64_t>(rd()) << 32) ^ rd() ^ static_cast<uint64_t>(::getpid()));
    }();
    static const char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix;
    for (int i = 0; i < 10; ++i)
        suffix += kDigits[gen() % (sizeof(kDigits) - 1)];
    return dir + ".halvorne-" + suffix + ".part";
}

int CreateHiddenTempFile(const std::string& dir, std::string& path, std::string& error) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = HiddenTempName(dir);
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0)
            return fd;
        if (errno != EEXIST) {
            error = ErrnoText(errno);
            return -1;
        }
    }
    error = "no free temporary file name";
    return -1;
}

void SyncDirectory(const std::string& dir) {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd); // best effort: some file systems refuse fsync on a directory
    ::close(fd);
}

} // namespace detail

std::string DirectoryOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return "./";
    return path.substr(0, slash + 1);
}

std::size_t DeleteFilesMatching(const std::string& prefix, const std::string& skipPath) {
    const std::string dir = DirectoryOf(prefix);
    const std::size_t slash = prefix.find_last_of('/');
    const std::string namePrefix = slash == std::string::npos ? prefix : prefix.substr(slash + 1);
    // The caller names the directory as it does for every other file it
    // builds; a name without a slash is relative to the current directory.
    const std::string openName = slash == std::string::npos ? std::string(".") : dir;

    DIR* d = ::opendir(openName.c_str());
    if (!d)
        return 0;
    std::size_t deleted = 0;
    while (dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        if (name.compare(0, namePrefix.size(), namePrefix) != 0)
            continue;
        const std::string full = (slash == std::string::npos ? std::string() : dir) + name;
        if (!skipPath.empty() && full == skipPath)
            continue;
        // A file its owner may not write is read-only: kept, as Windows
        // keeps a file with that attribute.
        struct stat st {};
        if (::lstat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0)
            continue;
        // unlink refuses directories, which therefore stay with their contents.
        if (::unlink(full.c_str()) == 0)
            ++deleted;
    }
    ::closedir(d);
    return deleted;
}

bool WriteNewTempFile(
    const std::string& dir, const uint8_t* data, std::size_t n, std::string& tempPath, std::string& error) {
    Fd fd;
    std::string path;
    fd.fd = detail::CreateHiddenTempFile(dir, path, error);
    if (fd.fd < 0)
        return false;

    detail::IgnoreFileSizeSignal noSignal;
    auto fail = [&](int err) {
        error = ErrnoText(err);
        ::close(fd.release());
        ::unlink(path.c_str());
        return false;
    };
    std::size_t done = 0;
    while (done < n) {
        // Writes in bounded pieces so that a huge buffer never meets a
        // platform limit on a single write.
        std::size_t piece = n - done;
        if (piece > (std::size_t(1) << 30))
            piece = std::size_t(1) << 30;
        ssize_t w = ::write(fd.fd, data + done, piece);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return fail(errno);
        }
        if (w == 0)
            return fail(ENOSPC);
        done += static_cast<std::size_t>(w);
    }
    if (::fsync(fd.fd) != 0 && errno != EINVAL && errno != EROFS)
        return fail(errno);
    // close can report a delayed write error (network file systems).
    if (::close(fd.release()) != 0) {
        error = ErrnoText(errno);
        ::unlink(path.c_str());
        return false;
    }
    tempPath = path;
    return true;
}

bool ReplaceFile(const std::string& from, const std::string& to, std::string& error) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        error = ErrnoText(errno);
        return false;
    }
    detail::SyncDirectory(DirectoryOf(to));
    return true;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0 || errno == ENOENT; }

std::string UserStateDirectory() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        return std::string(xdg) + "/halvorne/";
    const char* home = std::getenv("HOME");
    if (home && home[0] != '\0')
        return std::string(home) + "/.config/halvorne/";
    return std::string();
}

bool ReadSmallFile(const std::string& path, std::size_t maxSize, std::string& out, std::string& error) {
    Fd fd;
    fd.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd.fd < 0) {
        error = ErrnoText(errno);
        return false;
    }
    out.clear();
    char buffer[4096];
    for (;;) {
        const ssize_t r = ::read(fd.fd, buffer, sizeof buffer);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0) {
            error = ErrnoText(errno);
            return false;
        }
        if (r == 0)
            return true;
        if (out.size() + static_cast<std::size_t>(r) > maxSize) {
            error = "larger than " + std::to_string(maxSize) + " bytes";
            return false;
        }
        out.append(buffer, static_cast<std::size_t>(r));
    }
}

bool CreateDirectories(const std::string& dir, std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (DirectoryExists(dir))
        return true;
    error = ec ? ec.message() : ErrnoText(ENOTDIR);
    return false;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string FindFileIgnoringCase(const std::string& dir, const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos)
        return {};
    const std::string exact = InDirectory(dir, name);
    if (IsRegularFile(exact))
        return exact;
    // Compared as bytes while listed, without a look-up per entry: the
    // directory a host starts us in may hold thousands of files.
    std::vector<std::string> matches;
    {
        const Listing listing(::opendir(dir.empty() ? "." : dir.c_str()));
        if (!listing)
            return {};
        while (const dirent* e = ::readdir(listing.get())) {
            if (platform::wintext::SameIgnoringAsciiCase(e->d_name, name))
                matches.emplace_back(e->d_name);
        }
    }
    std::sort(matches.begin(), matches.end());
    for (const std::string& match : matches) {
        std::string path = InDirectory(dir, match);
        if (IsRegularFile(path))
            return path;
    }
    return {};
}

} // namespace platform::files
