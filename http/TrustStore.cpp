#include "http/TrustStore.h"

#include <filesystem>
#include <system_error>

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

bool FolderHasHashedCertificates(const std::string& folder) {
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error);
    // Stops at the first one: /etc/ssl/certs holds a few hundred entries.
    for (const std::filesystem::directory_iterator end; !error && it != end; it.increment(error))
        if (IsHashedCertificateName(it->path().filename().string()))
            return true;
    return false;
}

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
