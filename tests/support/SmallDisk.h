// A small, nearly full disk for one test: a tmpfs of a given size mounted
// over a directory in a mount namespace of the calling process's own, so
// the mount is seen by this process and the programs it starts, and by
// nothing else on the machine; it goes with the process.
#pragma once

#include <cerrno>
#include <cstring>
#include <string>

#include <sched.h>
#include <sys/mount.h>

namespace testsupport {

// False with the system's reason where namespaces or mounts are not allowed
// (not root, a confined container); the caller skips its test then.
inline bool MountSmallDisk(const std::string& dir, std::size_t bytes, std::string& why) {
    if (::unshare(CLONE_NEWNS) != 0) {
        why = std::string("unshare: ") + std::strerror(errno);
        return false;
    }
    // Without this a mount could propagate back to the machine's namespace.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        why = std::string("private mounts: ") + std::strerror(errno);
        return false;
    }
    const std::string options = "size=" + std::to_string(bytes);
    if (::mount("tmpfs", dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
        why = std::string("mount: ") + std::strerror(errno);
        return false;
    }
    return true;
}

// Takes the disk away again (the directory's own contents reappear).
inline void UnmountSmallDisk(const std::string& dir) { ::umount2(dir.c_str(), MNT_DETACH); }

} // namespace testsupport
