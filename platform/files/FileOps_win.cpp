// File operations on Windows: the system's own pattern search for emptying
// a directory, and a save through a fresh file that is flushed to the
// device before it replaces the target.
#include "platform/files/FileOps.h"
#include "platform/files/WinDetail.h"
#include "platform/wintext/WindowsText.h"

#include <windows.h>

#include <filesystem>
#include <random>

// <windows.h> maps ReplaceFile to ReplaceFileA or ReplaceFileW by macro,
// which would rename this file's definition of the platform function.
#undef ReplaceFile

namespace platform::files {
namespace {

using detail::SystemMessage;
using wintext::Utf8;
using wintext::Wide;

// Keeps a handle closed on every path.
struct FileHandle {
    HANDLE h = INVALID_HANDLE_VALUE;
    ~FileHandle() {
        if (h != INVALID_HANDLE_VALUE)
            ::CloseHandle(h);
    }
    HANDLE release() {
        HANDLE out = h;
        h = INVALID_HANDLE_VALUE;
        return out;
    }
};

struct FindHandle {
    HANDLE h = INVALID_HANDLE_VALUE;
    ~FindHandle() {
        if (h != INVALID_HANDLE_VALUE)
            ::FindClose(h);
    }
};

// Where the name part of a path begins: after the last separator or a drive
// letter's colon.
std::size_t NameStart(const std::string& path) {
    const std::size_t cut = path.find_last_of("/\\:");
    return cut == std::string::npos ? 0 : cut + 1;
}

} // namespace

namespace detail {

std::string SystemMessage(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
            nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out = n > 0 && text != nullptr ? Utf8(text, n) : "error " + std::to_string(code);
    if (text != nullptr)
        ::LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    return out;
}

std::string HiddenTempName(const std::string& dir) {
    thread_local std::mt19937_64 gen = [] {
        std::random_device rd;
        return std::mt19937_64((static_cast<uint64_t>(rd()) << 32) ^ rd() ^ ::GetCurrentProcessId());
    }();
    static const char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix;
    for (int i = 0; i < 10; ++i)
        suffix += kDigits[gen() % (sizeof(kDigits) - 1)];
    return dir + ".halvorne-" + suffix + ".part";
}

} // namespace detail

std::string DirectoryOf(const std::string& path) {
    const std::size_t start = NameStart(path);
    if (start == 0)
        return "./";
    return path.substr(0, start);
}

std::size_t DeleteFilesMatching(const std::string& prefix, const std::string& skipPath) {
    // Found names are relative to the pattern's own directory, written as
    // the caller wrote it.
    const std::string dir = prefix.substr(0, NameStart(prefix));
    WIN32_FIND_DATAW found{};
    FindHandle search;
    search.h = ::FindFirstFileW(Wide(prefix + "*.*").c_str(), &found);
    if (search.h == INVALID_HANDLE_VALUE)
        return 0;
    std::size_t deleted = 0;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            continue; // ".", ".." and sub-directories stay
        const std::string full = dir + Utf8(found.cFileName, wcslen(found.cFileName));
        if (!skipPath.empty() && full == skipPath)
            continue;
        if (::DeleteFileW(Wide(full).c_str()))
            ++deleted;
    } while (::FindNextFileW(search.h, &found));
    return deleted;
}

bool WriteNewTempFile(
    const std::string& dir, const uint8_t* data, std::size_t n, std::string& tempPath, std::string& error) {
    FileHandle file;
    std::string path;
    for (int attempt = 0; attempt < 100 && file.h == INVALID_HANDLE_VALUE; ++attempt) {
        path = detail::HiddenTempName(dir);
        file.h =
            ::CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file.h == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS &&
            ::GetLastError() != ERROR_ALREADY_EXISTS) {
            error = SystemMessage(::GetLastError());
            return false;
        }
    }
    if (file.h == INVALID_HANDLE_VALUE) {
        error = "no free temporary file name";
        return false;
    }
    auto fail = [&](DWORD code) {
        error = SystemMessage(code);
        ::CloseHandle(file.release());
        ::DeleteFileW(Wide(path).c_str());
        return false;
    };
    std::size_t done = 0;
    while (done < n) {
        // WriteFile counts in DWORD; big buffers go in bounded pieces.
        const DWORD piece = static_cast<DWORD>(n - done > (std::size_t(1) << 30) ? (std::size_t(1) << 30) : n - done);
        DWORD written = 0;
        if (!::WriteFile(file.h, data + done, piece, &written, nullptr))
            return fail(::GetLastError());
        if (written == 0)
            return fail(ERROR_DISK_FULL);
        done += written;
    }
    if (!::FlushFileBuffers(file.h))
        return fail(::GetLastError());
    if (!::CloseHandle(file.release())) {
        error = SystemMessage(::GetLastError());
        ::DeleteFileW(Wide(path).c_str());
        return false;
    }
    tempPath = path;
    return true;
}

bool ReplaceFile(const std::string& from, const std::string& to, std::string& error) {
    // Write-through: the call returns once the rename is on the device.
    if (!::MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = SystemMessage(::GetLastError());
        return false;
    }
    return true;
}

bool RemoveFile(const std::string& path) {
    if (::DeleteFileW(Wide(path).c_str()))
        return true;
    const DWORD code = ::GetLastError();
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

bool FileExists(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string FindFileIgnoringCase(const std::string& dir, const std::string& name) {
    // The file system itself ignores the case of names.
    if (name.empty() || name.find_first_of("\\/") != std::string::npos)
        return {};
    std::string path = name;
    if (!dir.empty())
        path = (dir.back() == '\\' || dir.back() == '/') ? dir + name : dir + '\\' + name;
    return FileExists(path) ? path : std::string();
}

std::string UserStateDirectory() {
    const DWORD n = ::GetEnvironmentVariableW(L"APPDATA", nullptr, 0);
    if (n == 0)
        return std::string();
    std::wstring value(n, L'\0');
    const DWORD got = ::GetEnvironmentVariableW(L"APPDATA", value.data(), n);
    if (got == 0 || got >= n)
        return std::string();
    value.resize(got);
    return Utf8(value) + "\\Halvorne\\";
}

bool ReadSmallFile(const std::string& path, std::size_t maxSize, std::string& out, std::string& error) {
    FileHandle file;
    file.h = ::CreateFileW(
        Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file.h == INVALID_HANDLE_VALUE) {
        error = SystemMessage(::GetLastError());
        return false;
    }
    out.clear();
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.h, buffer, sizeof buffer, &got, nullptr)) {
            error = SystemMessage(::GetLastError());
            return false;
        }
        if (got == 0)
            return true;
        if (out.size() + got > maxSize) {
            error = "larger than " + std::to_string(maxSize) + " bytes";
            return false;
        }
        out.append(buffer, got);
    }
}

bool CreateDirectories(const std::string& dir, std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(Wide(dir)), ec);
    if (DirectoryExists(dir))
        return true;
    error = ec ? ec.message() : std::string("not a directory");
    return false;
}

} // namespace platform::files
