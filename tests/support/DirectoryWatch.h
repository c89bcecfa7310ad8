// Watches one directory with inotify and reports every change made in it
// (a file created, written, renamed in or out, deleted), so a test can
// show that a refused download never touched the target directory, not
// even for a moment. Linux only.
#pragma once

#include <sys/inotify.h>
#include <unistd.h>

#include <climits>
#include <stdexcept>
#include <string>
#include <vector>

namespace testsupport {

class DirectoryWatch {
public:
    explicit DirectoryWatch(const std::string& dir) {
        fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ < 0 || ::inotify_add_watch(fd_, dir.c_str(),
                                           IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM |
                                               IN_DELETE | IN_ATTRIB) < 0)
            throw std::runtime_error("inotify cannot watch " + dir);
    }
    ~DirectoryWatch() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    DirectoryWatch(const DirectoryWatch&) = delete;
    DirectoryWatch& operator=(const DirectoryWatch&) = delete;

    // Every change since the last call, as "<what> <name>".
    std::vector<std::string> Changes() {
        alignas(inotify_event) char buffer[64 * (sizeof(inotify_event) + NAME_MAX + 1)];
        for (;;) {
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0)
                break;
            for (char* p = buffer; p < buffer + n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(p);
                changes_.push_back(Describe(e->mask) + " " + (e->len ? std::string(e->name) : std::string()));
                p += sizeof(inotify_event) + e->len;
            }
        }
        std::vector<std::string> out;
        out.swap(changes_);
        return out;
    }

private:
    static std::string Describe(uint32_t mask) {
        if (mask & IN_CREATE) return "created";
        if (mask & IN_MODIFY) return "written";
        if (mask & IN_CLOSE_WRITE) return "closed";
        if (mask & IN_MOVED_TO) return "renamed-in";
        if (mask & IN_MOVED_FROM) return "renamed-out";
        if (mask & IN_DELETE) return "deleted";
        if (mask & IN_ATTRIB) return "attributes";
        return "other";
    }
    int fd_ = -1;
    std::vector<std::string> changes_;
};

} // namespace testsupport
