#include "platform/files/ReceivingFile.h"

#include "platform/files/PendingNames.h"

#include "platform/files/FileOps.h"
#include "platform/files/PosixDetail.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::files {
namespace {

using detail::ErrnoText;

// Every this many bytes the newly written range is handed to the device,
// and the range handed over one step earlier is waited for. So writing
// overlaps the transfer, the file never has more than about two steps of
// unwritten pages (Flush at the end waits for those only), and a disk
// slower than the network paces the transfer step by step instead of
// filling memory with dirty pages.
constexpr uint64_t kWritebackStep = 8u * 1024 * 1024;

// Single writes stay below what some systems accept in one call.
constexpr std::size_t kMaxSingleWrite = std::size_t(1) << 30;

// An anonymous file gets its name through its /proc entry; without /proc
// (a chroot, a container without it) it could never be named.
bool ProcFdUsable() { return ::access("/proc/self/fd", X_OK) == 0; }

std::string ProcFdPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

#ifdef O_TMPFILE
// -1 with errno set when the file system (or the kernel) has no anonymous
// files, so the caller falls back to a named one.
int OpenAnonymous(const std::string& dir) {
    // Without O_EXCL, so that linkat may give it a name later.
    return ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
}

bool AnonymousUnsupported(int err) {
    // EISDIR: a kernel that predates O_TMPFILE sees only O_DIRECTORY.
    return err == EOPNOTSUPP || err == EISDIR || err == EINVAL;
}
#endif

// Gives the anonymous file fd the name path, replacing what is there.
bool LinkAnonymous(int fd, const std::string& dir, const std::string& path, std::string& error) {
    const std::string source = ProcFdPath(fd);
    if (::linkat(AT_FDCWD, source.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return true;
    if (errno != EEXIST) {
        error = ErrnoText(errno);
        return false;
    }
    // A file of that name survived the deletion (or came back): link under
    // a fresh hidden name first, then rename over it, which replaces it in
    // one step.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temp = detail::HiddenTempName(dir);
        if (::linkat(AT_FDCWD, source.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            if (errno == EEXIST)
                continue;
            error = ErrnoText(errno);
            return false;
        }
        if (::rename(temp.c_str(), path.c_str()) != 0) {
            error = ErrnoText(errno);
            ::unlink(temp.c_str());
            return false;
        }
        return true;
    }
    error = "no free temporary file name";
    return false;
}

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

} // namespace

ReceivingFile::~ReceivingFile() { Discard(); }

bool ReceivingFile::Create(const std::string& dir, std::string& error, Naming naming) {
    Discard();
    dir_ = dir;
    writebackStarted_ = writebackSettled_ = 0;
    int fd = -1;
#ifdef O_TMPFILE
    if (naming == Naming::AnonymousWherePossible && ProcFdUsable()) {
        fd = OpenAnonymous(dir);
        if (fd < 0 && !AnonymousUnsupported(errno)) {
            error = ErrnoText(errno);
            return false;
        }
    }
#else
    (void)naming;
#endif
    if (fd < 0) {
        std::string path;
        fd = detail::CreateHiddenTempFile(dir, path, error);
        if (fd < 0)
            return false;
        tempPath_ = path;
        detail::RememberPending(tempPath_);
    }
    handle_ = fd;
    detail::HoldFileSizeSignalIgnored();
    return true;
}

bool ReceivingFile::WriteAt(uint64_t offset, const uint8_t* data, std::size_t n, std::string& error) {
    if (!IsOpen()) {
        error = ErrnoText(EBADF);
        return false;
    }
    std::size_t done = 0;
    while (done < n) {
        const std::size_t piece = std::min(n - done, kMaxSingleWrite);
        const ssize_t w = ::pwrite(Fd(handle_), data + done, piece, static_cast<off_t>(offset + done));
        if (w < 0) {
            if (errno == EINTR)
                continue;
            error = ErrnoText(errno);
            return false;
        }
        if (w == 0) {
            error = ErrnoText(ENOSPC);
            return false;
        }
        done += static_cast<std::size_t>(w);
    }
    StartWriteback(offset + n);
    return true;
}

void ReceivingFile::StartWriteback(uint64_t writtenEnd) {
#ifdef __linux__
    const uint64_t end = writtenEnd - writtenEnd % kWritebackStep;
    if (end <= writebackStarted_)
        return;
    // Errors here only lose a hint: a failed write shows in Flush.
    const int fd = Fd(handle_);
    if (writebackStarted_ >= writebackSettled_ + kWritebackStep) {
        const uint64_t settle = writebackStarted_ - kWritebackStep;
        ::sync_file_range(fd, static_cast<off_t>(writebackSettled_), static_cast<off_t>(settle - writebackSettled_),
            SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
        writebackSettled_ = settle;
    }
    ::sync_file_range(
        fd, static_cast<off_t>(writebackStarted_), static_cast<off_t>(end - writebackStarted_), SYNC_FILE_RANGE_WRITE);
    writebackStarted_ = end;
#else
    (void)writtenEnd;
#endif
}

bool ReceivingFile::ReadAt(uint64_t offset, uint8_t* out, std::size_t n, std::size_t& got, std::string& error) {
    got = 0;
    if (!IsOpen()) {
        error = ErrnoText(EBADF);
        return false;
    }
    for (;;) {
        const ssize_t r = ::pread(Fd(handle_), out, std::min(n, kMaxSingleWrite), static_cast<off_t>(offset));
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0) {
            error = ErrnoText(errno);
            return false;
        }
        got = static_cast<std::size_t>(r);
        return true;
    }
}

bool ReceivingFile::Resize(uint64_t size, std::string& error) {
    if (!IsOpen()) {
        error = ErrnoText(EBADF);
        return false;
    }
    if (::ftruncate(Fd(handle_), static_cast<off_t>(size)) != 0) {
        error = ErrnoText(errno);
        return false;
    }
    const uint64_t whole = size - size % kWritebackStep;
    writebackStarted_ = std::min(writebackStarted_, whole);
    writebackSettled_ = std::min(writebackSettled_, whole);
    return true;
}

bool ReceivingFile::Flush(std::string& error) {
    if (!IsOpen()) {
        error = ErrnoText(EBADF);
        return false;
    }
    // Data and size, not the times: all that a reader of the file needs.
    if (::fdatasync(Fd(handle_)) != 0 && errno != EINVAL && errno != EROFS) {
        error = ErrnoText(errno);
        return false;
    }
    return true;
}

bool ReceivingFile::Commit(const std::string& path, std::string& error) {
    if (!IsOpen()) {
        error = ErrnoText(EBADF);
        return false;
    }
    if (tempPath_.empty()) {
        if (!LinkAnonymous(Fd(handle_), dir_, path, error))
            return false;
    } else {
        if (::rename(tempPath_.c_str(), path.c_str()) != 0) {
            error = ErrnoText(errno);
            return false;
        }
        detail::ForgetPending(tempPath_);
        tempPath_.clear();
    }
    detail::SyncDirectory(DirectoryOf(path));
    // The data was flushed before and the name is given: a late error of
    // close could not take either back.
    Close();
    return true;
}

void ReceivingFile::Close() {
    if (!IsOpen())
        return;
    ::close(Fd(handle_));
    handle_ = kNoHandle;
    detail::ReleaseFileSizeSignal();
}

void ReceivingFile::Discard() {
    Close();
    if (!tempPath_.empty()) {
        ::unlink(tempPath_.c_str());
        detail::ForgetPending(tempPath_);
        tempPath_.clear();
    }
}

void DiscardAllReceivingFiles() {
    for (const std::string& path : detail::TakeAllPending())
        ::unlink(path.c_str());
}

} // namespace platform::files
