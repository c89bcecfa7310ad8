// A file being received, on Windows. Windows has no file without a name, so
// it lies under a hidden temporary name beside its final one, and while it
// is uncommitted it is marked for deletion: the system removes it when its
// handle closes, also when the process ends without unwinding. Commit
// takes the mark off and renames the open file by its handle, so the file
// that gets the name is the one that was written, whatever happens to the
// names around it.
#include "platform/files/ReceivingFile.h"

#include "platform/files/PendingNames.h"

#include "platform/wintext/WindowsText.h"
#include "platform/files/FileOps.h"
#include "platform/files/WinDetail.h"

#include <algorithm>
#include <vector>

#include <windows.h>

namespace platform::files {
namespace {

using detail::SystemMessage;
using wintext::Wide;

// ReadFile and WriteFile count in DWORD.
constexpr std::size_t kMaxSingleTransfer = std::size_t(1) << 30;

HANDLE H(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// The file is removed when its last handle closes (or no longer is).
bool MarkForDeletion(HANDLE file, bool remove) {
    FILE_DISPOSITION_INFO info{};
    info.DeleteFile = remove ? TRUE : FALSE;
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &info, sizeof info) != 0;
}

// Gives the open file the name path, replacing a file of that name.
bool RenameOpenFile(HANDLE file, const std::string& path, std::string& error) {
    const std::wstring target = Wide(path);
    // The record ends in the name, which runs past the structure's own
    // one-character array.
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + (target.size() + 1) * sizeof(wchar_t), 0);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::copy(target.begin(), target.end(), info->FileName);
    if (!::SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(buffer.size()))) {
        error = SystemMessage(::GetLastError());
        return false;
    }
    return true;
}

// Gives the received file its final name and forgets its hidden one. On
// failure it stays uncommitted: marked again, so it goes with its handle.
bool NameReceivedFile(HANDLE file, const std::string& path, std::string& tempPath, std::string& error) {
    if (!RenameOpenFile(file, path, error)) {
        MarkForDeletion(file, true);
        return false;
    }
    detail::ForgetPending(tempPath);
    tempPath.clear();
    // The new name on the device with the file (the data was flushed).
    ::FlushFileBuffers(file);
    return true;
}

OVERLAPPED At(uint64_t offset) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    where.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return where;
}

} // namespace

ReceivingFile::~ReceivingFile() { Discard(); }

bool ReceivingFile::Create(const std::string& dir, std::string& error, Naming naming) {
    // Every file here has a name; both namings come to the same.
    (void)naming;
    Discard();
    dir_ = dir;
    writebackStarted_ = writebackSettled_ = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = detail::HiddenTempName(dir);
        // Others may read it, and delete it (as a program emptying the
        // directory would), but not write it.
        const HANDLE file = ::CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
            FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD code = ::GetLastError();
            if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS)
                continue;
            error = SystemMessage(code);
            return false;
        }
        if (!MarkForDeletion(file, true)) {
            error = SystemMessage(::GetLastError());
            ::CloseHandle(file);
            ::DeleteFileW(Wide(path).c_str());
            return false;
        }
        handle_ = reinterpret_cast<std::intptr_t>(file);
        tempPath_ = path;
        detail::RememberPending(tempPath_);
        return true;
    }
    error = "no free temporary file name";
    return false;
}

// Windows has its unbuffered writes (FILE_FLAG_NO_BUFFERING) only for a
// handle opened so, with sector-sized pieces; the received file is
// written through the cache as every other one.
bool ReceivingFile::WriteAtUnbuffered(uint64_t offset, const uint8_t* data, std::size_t n, std::string& error) {
    return WriteAt(offset, data, n, error);
}

bool ReceivingFile::WriteAt(uint64_t offset, const uint8_t* data, std::size_t n, std::string& error) {
    if (!IsOpen()) {
        error = SystemMessage(ERROR_INVALID_HANDLE);
        return false;
    }
    std::size_t done = 0;
    while (done < n) {
        const DWORD piece = static_cast<DWORD>(std::min(n - done, kMaxSingleTransfer));
        OVERLAPPED where = At(offset + done);
        DWORD written = 0;
        if (!::WriteFile(H(handle_), data + done, piece, &written, &where)) {
            error = SystemMessage(::GetLastError());
            return false;
        }
        if (written == 0) {
            error = SystemMessage(ERROR_DISK_FULL);
            return false;
        }
        done += written;
    }
    StartWriteback(offset + n);
    return true;
}

// The system's lazy writer moves the data on by itself; Flush waits for it.
void ReceivingFile::StartWriteback(uint64_t writtenEnd) { writebackStarted_ = writtenEnd; }

bool ReceivingFile::ReadAt(uint64_t offset, uint8_t* out, std::size_t n, std::size_t& got, std::string& error) {
    got = 0;
    if (!IsOpen()) {
        error = SystemMessage(ERROR_INVALID_HANDLE);
        return false;
    }
    OVERLAPPED where = At(offset);
    DWORD read = 0;
    if (!::ReadFile(H(handle_), out, static_cast<DWORD>(std::min(n, kMaxSingleTransfer)), &read, &where)) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_HANDLE_EOF)
            return true;
        error = SystemMessage(code);
        return false;
    }
    got = read;
    return true;
}

bool ReceivingFile::Resize(uint64_t size, std::string& error) {
    if (!IsOpen()) {
        error = SystemMessage(ERROR_INVALID_HANDLE);
        return false;
    }
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    if (!::SetFileInformationByHandle(H(handle_), FileEndOfFileInfo, &end, sizeof end)) {
        error = SystemMessage(::GetLastError());
        return false;
    }
    writebackStarted_ = std::min(writebackStarted_, size);
    return true;
}

bool ReceivingFile::Flush(std::string& error) {
    if (!IsOpen()) {
        error = SystemMessage(ERROR_INVALID_HANDLE);
        return false;
    }
    if (!::FlushFileBuffers(H(handle_))) {
        error = SystemMessage(::GetLastError());
        return false;
    }
    writebackSettled_ = writebackStarted_;
    return true;
}

bool ReceivingFile::Commit(const std::string& path, std::string& error) {
    if (!IsOpen()) {
        error = SystemMessage(ERROR_INVALID_HANDLE);
        return false;
    }
    if (!MarkForDeletion(H(handle_), false)) {
        error = SystemMessage(::GetLastError());
        return false;
    }
    if (!NameReceivedFile(H(handle_), path, tempPath_, error))
        return false;
    Close();
    return true;
}

bool ReceivingFile::CommitReplacing(const std::string& prefix, const std::string& path, std::string& error) {
    if (!IsOpen()) {
        error = SystemMessage(ERROR_INVALID_HANDLE);
        return false;
    }
    const DWORD existing = ::GetFileAttributesW(Wide(path).c_str());
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
        error = SystemMessage(ERROR_ACCESS_DENIED);
        return false;
    }
    // Durable under its hidden name before any old file goes: a crash from
    // here on leaves it there rather than nothing.
    if (!MarkForDeletion(H(handle_), false) || !::FlushFileBuffers(H(handle_))) {
        error = SystemMessage(::GetLastError());
        MarkForDeletion(H(handle_), true);
        return false;
    }
    // Read-only files and directories cannot be deleted this way: they stay.
    DeleteFilesMatching(prefix, tempPath_);
    if (!NameReceivedFile(H(handle_), path, tempPath_, error))
        return false;
    Close();
    return true;
}

void ReceivingFile::Close() {
    if (!IsOpen())
        return;
    ::CloseHandle(H(handle_));
    handle_ = kNoHandle;
}

void ReceivingFile::Discard() {
    Close();
    if (!tempPath_.empty()) {
        // Gone with its handle already, unless the mark could not be set.
        ::DeleteFileW(Wide(tempPath_).c_str());
        detail::ForgetPending(tempPath_);
        tempPath_.clear();
    }
}

void DiscardAllReceivingFiles() {
    // The marked files go when the process ends and takes their handles;
    // the names are removed here as well, for the program that asks.
    for (const std::string& path : detail::TakeAllPending())
        ::DeleteFileW(Wide(path).c_str());
}

} // namespace platform::files
