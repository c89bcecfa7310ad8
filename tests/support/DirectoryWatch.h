// Watches one directory with inotify and reports every change made in it
// (a file created, written, renamed in or out, deleted), so a test can
// show that a refused download never showed in the target directory, not
// even for a moment. A download is received into a file of the directory
// that has no name there (O_TMPFILE); the kernel reports writes to it under
// "#<inode>", a name nothing can open: those count apart, as anonymous
// writes. Linux only.
#pragma once

#include <sys/inotify.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace tests::support {

class DirectoryWatch {
public:
    explicit DirectoryWatch(const std::string& dir) {
        fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ < 0 ||
            ::inotify_add_watch(fd_, dir.c_str(),
                IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ATTRIB) < 0)
            throw std::runtime_error("inotify cannot watch " + dir);
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(dir, ec))
            named_.insert(e.path().filename().string());
    }
    ~DirectoryWatch() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    DirectoryWatch(const DirectoryWatch&) = delete;
    DirectoryWatch& operator=(const DirectoryWatch&) = delete;

    // Every change since the last call, as "<what> <name>".
    std::vector<std::string> Changes() {
        Read();
        std::vector<std::string> out;
        out.swap(changes_);
        anonymous_.clear();
        return out;
    }

    // The changes since the last call that anything could see under a
    // name in the directory; writes to files without a name are left out
    // (AnonymousWrites counts them).
    std::vector<std::string> VisibleChanges() {
        Read();
        std::vector<std::string> out;
        for (const auto& c : changes_)
            if (!anonymous_.count(c))
                out.push_back(c);
        anonymousCount_ += changes_.size() - out.size();
        changes_.clear();
        anonymous_.clear();
        return out;
    }
    std::size_t AnonymousWrites() const { return anonymousCount_; }

private:
    void Read() {
        alignas(inotify_event) char buffer[64 * (sizeof(inotify_event) + NAME_MAX + 1)];
        for (;;) {
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0)
                break;
            for (char* p = buffer; p < buffer + n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(p);
                const std::string name = e->len ? std::string(e->name) : std::string();
                const std::string change = Describe(e->mask) + " " + name;
                if (e->mask & (IN_CREATE | IN_MOVED_TO))
                    named_.insert(name);
                else if ((e->mask & (IN_MODIFY | IN_CLOSE_WRITE)) && !named_.count(name) && IsInodeName(name))
                    anonymous_.insert(change);
                changes_.push_back(change);
                p += sizeof(inotify_event) + e->len;
            }
        }
    }

    // "#" and digits: how the kernel names a file that has no name.
    static bool IsInodeName(const std::string& name) {
        if (name.size() < 2 || name[0] != '#')
            return false;
        for (std::size_t i = 1; i < name.size(); ++i)
            if (name[i] < '0' || name[i] > '9')
                return false;
        return true;
    }

    static std::string Describe(uint32_t mask) {
        if (mask & IN_CREATE)
            return "created";
        if (mask & IN_MODIFY)
            return "written";
        if (mask & IN_CLOSE_WRITE)
            return "closed";
        if (mask & IN_MOVED_TO)
            return "renamed-in";
        if (mask & IN_MOVED_FROM)
            return "renamed-out";
        if (mask & IN_DELETE)
            return "deleted";
        if (mask & IN_ATTRIB)
            return "attributes";
        return "other";
    }
    int fd_ = -1;
    std::vector<std::string> changes_;
    std::set<std::string> named_;     // names the directory has or had
    std::set<std::string> anonymous_; // changes_ entries that are anonymous writes
    std::size_t anonymousCount_ = 0;
};

} // namespace tests::support
