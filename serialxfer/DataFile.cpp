#include "serialxfer/DataFile.h"

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace serialxfer {

namespace {

#ifdef _WIN32
// Binary mode: the bytes of the file are the bytes on the line, never
// translated at line ends. Not handed on to programs this one starts.
constexpr int kOpenFlags = O_BINARY | O_NOINHERIT;
#else
constexpr int kOpenFlags = O_CLOEXEC;
#endif

} // namespace

FileError::FileError(std::string routine, std::string operation, int code)
    : std::runtime_error(routine + ": " + operation + ": " + FileErrorText(code)), routine_(std::move(routine)),
      operation_(std::move(operation)), code_(code) {}

std::string FileErrorText(int code) {
    switch (code) {
    case ENOENT:
    case ENOTDIR: return "File not found";
    case ENAMETOOLONG:
    case EINVAL:
    case EILSEQ: return "Invalid filename";
    case EMFILE:
    case ENFILE: return "Too many open files";
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY: return "File access denied";
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
    case EFBIG: return "Disk full";
    default: return "I/O error " + std::to_string(code);
    }
}

std::string FileErrorReport(const FileError& error) {
    return "File I/O error in " + error.Routine() + " while " + error.Operation() + "\r\n" +
           FileErrorText(error.Code()) + ".\r\n";
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

OutputFile::OutputFile(const std::string& path, std::string routine) : fd_(-1), routine_(std::move(routine)) {
    if (path.empty())
        throw FileError(routine_, "creating the file", ENOENT);
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | kOpenFlags, 0666);
    if (fd_ < 0)
        throw FileError(routine_, "creating the file", errno);
}

OutputFile::~OutputFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

void OutputFile::Write(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t put = ::write(fd_, data, size);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            throw FileError(routine_, "writing the file", errno);
        }
        if (put == 0)
            throw FileError(routine_, "writing the file", ENOSPC);
        data += put;
        size -= static_cast<std::size_t>(put);
    }
}

void OutputFile::Close() {
    if (fd_ < 0)
        return;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR)
        throw FileError(routine_, "closing the file", errno);
}

InputFile::InputFile(const std::string& path, std::string routine) : fd_(-1), routine_(std::move(routine)) {
    fd_ = ::open(path.c_str(), O_RDWR | kOpenFlags);
    if (fd_ < 0)
        throw FileError(routine_, "opening the file", errno);
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        const int code = errno;
        Close();
        throw FileError(routine_, "opening the file", code);
    }
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        Close();
        throw FileError(routine_, "opening the file", EACCES);
    }
}

InputFile::~InputFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

void InputFile::Fill() {
    if (pos_ < end_ || eof_)
        return;
    pos_ = end_ = 0;
    for (;;) {
        const ssize_t got = ::read(fd_, buffer_, sizeof buffer_);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw FileError(routine_, "reading the file", errno);
        }
        if (got == 0)
            eof_ = true;
        end_ = static_cast<std::size_t>(got);
        return;
    }
}

std::size_t InputFile::Read(std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        Fill();
        if (pos_ >= end_)
            break;
        const std::size_t n = std::min(size - done, end_ - pos_);
        std::memcpy(data + done, buffer_ + pos_, n);
        pos_ += n;
        done += n;
    }
    return done;
}

bool InputFile::AtEnd() {
    Fill();
    return pos_ >= end_;
}

void InputFile::Close() {
    if (fd_ < 0)
        return;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR)
        throw FileError(routine_, "closing the file", errno);
}

std::size_t MemorySource::Read(std::uint8_t* data, std::size_t size) {
    std::size_t n = std::min(size, bytes_.size() - pos_);
    std::memcpy(data, bytes_.data() + pos_, n);
    pos_ += n;
    return n;
}

} // namespace serialxfer
