#include "platform/files/ReceivingFile.h"

#include "platform/files/PendingNames.h"

#include "platform/files/FileOps.h"
#include "platform/files/PosixDetail.h"

#include <algorithm>
#include <cstdint>
#include <cerrno>
#include <memory>
#include <vector>

#include <dirent.h>
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

// Until it is accepted only the owner may read what arrives; Commit gives
// the file the mode any new file would have.
constexpr mode_t kReceivingMode = 0600;
constexpr mode_t kNewFileMode = 0666;

// Single writes stay below what some systems accept in one call.
constexpr std::size_t kMaxSingleWrite = std::size_t(1) << 30;

// An anonymous file gets its name through its /proc entry; without /proc
// (a chroot, a container without it) it could never be named.
bool ProcFdUsable() { return ::access("/proc/self/fd", X_OK) == 0; }

std::string ProcFdPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

#ifdef O_TMPFILE
// -1 with errno set when the file system (or the kernel) has no anonymous
// files, so the caller falls back to a named one.
int OpenAnonymous(int dirFd) {
    // Without O_EXCL, so that linkat may give it a name later.
    return ::openat(dirFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, kReceivingMode);
}

bool AnonymousUnsupported(int err) {
    // EISDIR: a kernel that predates O_TMPFILE sees only O_DIRECTORY.
    return err == EOPNOTSUPP || err == EISDIR || err == EINVAL;
}
#endif

// The last component of a path ("a/b/c" -> "c").
std::string NameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Opens dir (ending with a separator) as a directory, never through a
// symbolic link: the names later made and removed relative to it are the
// ones in the directory that was checked, whatever happens to the path.
int OpenDirectory(const std::string& dir, std::string& error) {
    std::string name = dir;
    while (name.size() > 1 && name.back() == '/')
        name.pop_back(); // a trailing slash would make open follow a link
    if (name.empty())
        name = ".";
    const int fd = ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        error = ErrnoText(errno);
    return fd;
}

// A new file under a fresh hidden name in the directory dirFd; -1 with
// error set.
int CreateHiddenAt(int dirFd, const std::string& dir, std::string& name, std::string& error) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = NameOf(detail::HiddenTempName(dir));
        const int fd =
            ::openat(dirFd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kReceivingMode);
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

// Gives the anonymous file fd a fresh hidden name in dirFd.
bool LinkAnonymousHidden(int fd, int dirFd, const std::string& dir, std::string& name, std::string& error) {
    const std::string source = ProcFdPath(fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = NameOf(detail::HiddenTempName(dir));
        if (::linkat(AT_FDCWD, source.c_str(), dirFd, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return true;
        if (errno != EEXIST) {
            error = ErrnoText(errno);
            return false;
        }
    }
    error = "no free temporary file name";
    return false;
}

mode_t CurrentUmask() {
    // The only way to read it; the program changes it nowhere else.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// A file a user marked read-only (no write permission for its owner) is
// kept, as Windows keeps a file with the read-only attribute.
bool IsReadOnlyFile(const struct stat& st) { return S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0; }

// Deletes the entries of dirFd whose names begin with prefix, except
// directories, read-only files and keep.
void DeleteMatchingAt(int dirFd, const std::string& prefix, const std::string& keep) {
    const int listFd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0)
        return;
    DIR* d = ::fdopendir(listFd);
    if (!d) {
        ::close(listFd);
        return;
    }
    std::vector<std::string> names;
    while (dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != ".." && name != keep && name.compare(0, prefix.size(), prefix) == 0)
            names.push_back(name);
    }
    ::closedir(d);
    for (const std::string& name : names) {
        struct stat st {};
        if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode) || IsReadOnlyFile(st))
            continue;
        ::unlinkat(dirFd, name.c_str(), 0);
    }
}

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

// A second descriptor of the received file that writes past the page
// cache; -1 where the file system has no such writes (or /proc is missing).
int OpenUnbufferedAt(int fd, int dirFd, const std::string& tempPath) {
#ifdef O_DIRECT
    if (ProcFdUsable())
        return ::open(ProcFdPath(fd).c_str(), O_WRONLY | O_DIRECT | O_CLOEXEC);
    if (!tempPath.empty())
        return ::openat(dirFd, NameOf(tempPath).c_str(), O_WRONLY | O_DIRECT | O_NOFOLLOW | O_CLOEXEC);
#else
    (void)fd;
    (void)dirFd;
    (void)tempPath;
#endif
    return -1;
}

bool Aligned(uint64_t value) { return value % ReceivingFile::kUnbufferedAlignment == 0; }

} // namespace

ReceivingFile::~ReceivingFile() { Discard(); }

bool ReceivingFile::Create(const std::string& dir, std::string& error, Naming naming) {
    Discard();
    dir_ = dir;
    writebackStarted_ = writebackSettled_ = 0;
    const int dirFd = OpenDirectory(dir, error);
    if (dirFd < 0)
        return false;
    dirHandle_ = dirFd;
    int fd = -1;
#ifdef O_TMPFILE
    if (naming == Naming::AnonymousWherePossible && ProcFdUsable()) {
        fd = OpenAnonymous(dirFd);
        if (fd < 0 && !AnonymousUnsupported(errno)) {
            error = ErrnoText(errno);
            Close();
            return false;
        }
    }
#else
    (void)naming;
#endif
    if (fd < 0) {
        std::string name;
        fd = CreateHiddenAt(dirFd, dir, name, error);
        if (fd < 0) {
            Close();
            return false;
        }
        tempPath_ = dir + name;
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

bool ReceivingFile::WriteAtUnbuffered(uint64_t offset, const uint8_t* data, std::size_t n, std::string& error) {
    if (!IsOpen() || n == 0 || !Aligned(offset) || !Aligned(n) || !Aligned(reinterpret_cast<std::uintptr_t>(data)))
        return WriteAt(offset, data, n, error);
    if (!unbufferedTried_) {
        unbufferedTried_ = true;
        const int fd = OpenUnbufferedAt(Fd(handle_), Fd(dirHandle_), tempPath_);
        if (fd >= 0)
            unbufferedHandle_ = fd;
    }
    std::size_t done = 0;
    while (unbufferedHandle_ != kNoHandle && done < n) {
        const std::size_t piece = std::min(n - done, kMaxSingleWrite);
        const ssize_t w = ::pwrite(Fd(unbufferedHandle_), data + done, piece, static_cast<off_t>(offset + done));
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0 && errno == EINVAL) {
            // The device wants larger blocks than these: from here on
            // everything goes through the cache.
            ::close(Fd(unbufferedHandle_));
            unbufferedHandle_ = kNoHandle;
        }
        if (w <= 0)
            break;
        done += static_cast<std::size_t>(w);
        if (!Aligned(done))
            break;
    }
    // What is left (a refusal, a short write at a limit) goes through the
    // cache, which also names any failure with its reason.
    return done == n || WriteAt(offset + done, data + done, n - done, error);
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

bool ReceivingFile::Commit(const std::string& path, std::string& error) { return CommitAt(nullptr, path, error); }

bool ReceivingFile::CommitReplacing(const std::string& prefix, const std::string& path, std::string& error) {
    return CommitAt(&prefix, path, error);
}

bool ReceivingFile::CommitAt(const std::string* prefix, const std::string& path, std::string& error) {
    if (!IsOpen()) {
        error = ErrnoText(EBADF);
        return false;
    }
    const int fd = Fd(handle_);
    const int dirFd = Fd(dirHandle_);
    if (DirectoryOf(path) != dir_ || (prefix && DirectoryOf(*prefix) != dir_)) {
        error = "not a name in the directory the file was received in: " + path;
        return false;
    }
    const std::string finalName = NameOf(path);
    struct stat existing {};
    if (::fstatat(dirFd, finalName.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
        (S_ISDIR(existing.st_mode) || IsReadOnlyFile(existing))) {
        error = ErrnoText(S_ISDIR(existing.st_mode) ? EISDIR : EACCES);
        return false;
    }
    if (::fchmod(fd, kNewFileMode & ~CurrentUmask()) != 0) {
        error = ErrnoText(errno);
        return false;
    }
    // Durable under a hidden name (data, then the name) before any old file
    // goes: from here a crash leaves the new file there, at worst hidden.
    std::string hidden = tempPath_.empty() ? std::string() : NameOf(tempPath_);
    if (hidden.empty()) {
        if (!LinkAnonymousHidden(fd, dirFd, dir_, hidden, error))
            return false;
        tempPath_ = dir_ + hidden;
        detail::RememberPending(tempPath_);
    }
    if (::fsync(dirFd) != 0 && errno != EINVAL && errno != EROFS) {
        error = ErrnoText(errno);
        return false;
    }
    if (prefix)
        DeleteMatchingAt(dirFd, NameOf(*prefix), hidden);
    if (::renameat(dirFd, hidden.c_str(), dirFd, finalName.c_str()) != 0) {
        error = ErrnoText(errno);
        return false;
    }
    detail::ForgetPending(tempPath_);
    tempPath_.clear();
    ::fsync(dirFd); // best effort: the rename is the last step either way
    // The data was flushed before and the name is given: a late error of
    // close could not take either back.
    Close();
    return true;
}

void ReceivingFile::Close() {
    if (unbufferedHandle_ != kNoHandle) {
        ::close(Fd(unbufferedHandle_));
        unbufferedHandle_ = kNoHandle;
    }
    unbufferedTried_ = false;
    if (dirHandle_ != kNoHandle) {
        ::close(Fd(dirHandle_));
        dirHandle_ = kNoHandle;
    }
    if (!IsOpen())
        return;
    ::close(Fd(handle_));
    handle_ = kNoHandle;
    detail::ReleaseFileSizeSignal();
}

void ReceivingFile::Discard() {
    if (!tempPath_.empty() && dirHandle_ != kNoHandle)
        ::unlinkat(Fd(dirHandle_), NameOf(tempPath_).c_str(), 0);
    else if (!tempPath_.empty())
        ::unlink(tempPath_.c_str());
    Close();
    if (!tempPath_.empty()) {
        detail::ForgetPending(tempPath_);
        tempPath_.clear();
    }
}

void DiscardAllReceivingFiles() {
    for (const std::string& path : detail::TakeAllPending())
        ::unlink(path.c_str());
}

} // namespace platform::files
