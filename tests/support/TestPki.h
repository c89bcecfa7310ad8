// Certificates for TLS tests, made with OpenSSL in a temporary folder: a
// certification authority of the test's own (trusted by pointing
// SSL_CERT_FILE at CaFile()), server certificates it issues, and
// self-signed ones no trust store knows.
#pragma once

#include <string>
#include <vector>

namespace tests::support {

struct CertificateFiles {
    std::string CertFile; // PEM
    std::string KeyFile;  // PEM, no password
};

struct CertificateOrder {
    std::string Name; // file names and the subject's common name
    std::vector<std::string> DnsNames;
    std::vector<std::string> Addresses; // IPv4 addresses
    long ValidFromDays = -1;            // relative to now
    long ValidToDays = 30;
};

class TestPki {
public:
    // Makes the authority's key and certificate in dir (which must exist).
    explicit TestPki(const std::string& dir);
    const std::string& CaFile() const { return caFile_; }

    // Writes the authority's certificate into folder (which must exist)
    // under its subject hash, as a system's hashed folder (SSL_CERT_DIR)
    // holds it; returns the file's name.
    std::string AddCaToHashedFolder(const std::string& folder) const;

    CertificateFiles Issue(const CertificateOrder& order) const;
    CertificateFiles SelfSigned(const CertificateOrder& order) const;

    // The usual server certificate for loopback tests: 127.0.0.1 and localhost.
    CertificateFiles Loopback() const { return Issue({"loopback", {"localhost"}, {"127.0.0.1"}}); }

private:
    std::string dir_;
    std::string caFile_;
    std::string caKeyFile_;
};

} // namespace tests::support
