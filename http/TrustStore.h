// Which certificates the OpenSSL client trusts, and how much of them it
// reads before its first connection. OpenSSL's own default reads its
// bundle file whole: on Debian some 140 certificates, about 30 ms, paid by
// every short run before its first handshake. The system's hashed folder
// (/etc/ssl/certs, kept by update-ca-certificates next to that bundle and
// with the same certificates) is looked up one issuer at a time instead,
// when a chain is checked. Widget-free and OpenSSL-free, so that the
// choice can be tested on its own.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace http {

struct TrustStorePlan {
    // Hashed folders (':'-separated) to look certificates up in, as the
    // only trust store. Empty: OpenSSL's defaults as they are (a bundle
    // file read whole, and its folders).
    std::string HashedFolders;
};

// fileVariable and folderVariable are SSL_CERT_FILE and SSL_CERT_DIR (null
// or empty: not set); defaultFolder is OpenSSL's built-in folder, which
// stands in for its built-in bundle file only when it holds hashed
// certificates (hasHashedCertificates). A file named in SSL_CERT_FILE is
// the user's own choice and is read as OpenSSL reads it.
TrustStorePlan PlanTrustStore(const char* fileVariable, const char* folderVariable, const std::string& defaultFolder,
    const std::function<bool(const std::string& folder)>& hasHashedCertificates);

// A certificate's name in a hashed folder, as OpenSSL looks it up: eight
// lowercase hexadecimal digits, a dot and a number ("6e14d7c9.0").
// Revocation lists (".r0") do not count.
bool IsHashedCertificateName(std::string_view name);

// Whether the folder holds a file named so; one that cannot be read holds
// none.
bool FolderHasHashedCertificates(const std::string& folder);

} // namespace http
