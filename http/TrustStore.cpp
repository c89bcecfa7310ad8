#include "http/TrustStore.h"

#include <filesystem>
#include <system_error>

#ifdef __linux__
#include <cstddef>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace http {

namespace {

constexpr std::size_t kSubjectHashDigits = 8;

bool IsLowerHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsSet(const char* variable) { return variable != nullptr && *variable != '\0'; }

} // namespace

bool IsHashedCertificateName(std::string_view name) {
    if (name.size() < kSubjectHashDigits + 2 || name[kSubjectHashDigits] != '.')
        return false;
    for (std::size_t i = 0; i < kSubjectHashDigits; ++i)
        if (!IsLowerHexDigit(name[i]))
            return false;
    for (std::size_t i = kSubjectHashDigits + 1; i < name.size(); ++i)
        if (!IsDigit(name[i]))
            return false;
    return true;
}

#ifdef __linux__
namespace {

// The folder's descriptor, closed on every way out.
class FolderHandle {
public:
    explicit FolderHandle(const std::string& folder)
        : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
    ~FolderHandle() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;
    int Fd() const { return fd_; }

private:
    int fd_;
};

// A few dozen names per read. readdir() asks for 32 KiB at once, and the
// kernel then lists all of /etc/ssl/certs (some 290 names, a quarter of a
// millisecond) in the TLS set-up that the first connection waits for,
// although half of those names are hashed and the first batch nearly
// always holds one.
constexpr std::size_t kFolderBatchBytes = 2048;

} // namespace

bool FolderHasHashedCertificates(const std::string& folder) {
    const FolderHandle handle(folder);
    if (handle.Fd() < 0)
        return false;
    alignas(dirent64) char batch[kFolderBatchBytes];
    for (;;) {
        const ssize_t got = ::getdents64(handle.Fd(), batch, sizeof batch);
        if (got <= 0) // the end, or a folder that cannot be read further
            return false;
        constexpr std::size_t kNameAt = offsetof(dirent64, d_name);
        for (std::size_t at = 0; at + kNameAt <= static_cast<std::size_t>(got);) {
            unsigned short length = 0; // the record's, name and padding included
            std::memcpy(&length, batch + at + offsetof(dirent64, d_reclen), sizeof length);
            if (length <= kNameAt || at + length > static_cast<std::size_t>(got))
                return false; // not what the kernel writes: stop rather than misread
            const char* name = batch + at + kNameAt;
            if (IsHashedCertificateName(std::string_view(name, ::strnlen(name, length - kNameAt))))
                return true;
            at += length;
        }
    }
}
#else
bool FolderHasHashedCertificates(const std::string& folder) {
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error);
    // Stops at the first one: /etc/ssl/certs holds a few hundred entries.
    for (const std::filesystem::directory_iterator end; !error && it != end; it.increment(error))
        if (IsHashedCertificateName(it->path().filename().string()))
            return true;
    return false;
}
#endif

TrustStorePlan PlanTrustStore(const char* fileVariable, const char* folderVariable, const std::string& defaultFolder,
    const std::function<bool(const std::string& folder)>& hasHashedCertificates) {
    if (IsSet(fileVariable) || defaultFolder.empty() || !hasHashedCertificates(defaultFolder))
        return {};
    // OpenSSL would read SSL_CERT_DIR's folders instead of its own, and
    // its bundle file besides: the default folder stands in for the file.
    if (IsSet(folderVariable))
        return {std::string(folderVariable) + ':' + defaultFolder};
    return {defaultFolder};
}

} // namespace http
