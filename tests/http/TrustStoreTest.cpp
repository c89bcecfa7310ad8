// Which certificates the OpenSSL client reads before its first connection:
// the system's hashed folder instead of its bundle file, and never less
// than OpenSSL itself would trust.
#include "http/TrustStore.h"
#include "tests/support/TempDir.h"

#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

TEST(TrustStore, HashedCertificateNames) {
    for (const char* name : {"6e14d7c9.0", "00000000.1", "ffffffff.12"})
        EXPECT_TRUE(http::IsHashedCertificateName(name)) << name;
    for (const char* name : {"6E14D7C9.0", "6e14d7c9.r0", "6e14d7c9.", "6e14d7c.0", "6e14d7c9a.0", "6e14d7c9.0.pem",
             "6e14d7c9_0", "ca.pem", "ca-certificates.crt", ""})
        EXPECT_FALSE(http::IsHashedCertificateName(name)) << name;
}

TEST(TrustStore, AFolderCountsOnlyWithAHashedCertificateInIt) {
    tests::support::TempDir tmp;
    const std::string folder = tmp.path().string();
    auto add = [&](const std::string& name) { std::ofstream(folder + "/" + name) << "x"; };
    EXPECT_FALSE(http::FolderHasHashedCertificates(folder)) << "empty";
    add("ca-certificates.crt");
    add("Some_Root.pem");
    add("6e14d7c9.r0");
    EXPECT_FALSE(http::FolderHasHashedCertificates(folder)) << "a bundle, a named file and a revocation list";
    add("6e14d7c9.0");
    EXPECT_TRUE(http::FolderHasHashedCertificates(folder));
    EXPECT_FALSE(http::FolderHasHashedCertificates(folder + "/missing"));
}

// The folder is read a batch of names at a time: a hashed name far down a
// big folder (the system's has hundreds of names) is still found, and a
// big folder without one is read to its end.
TEST(TrustStore, AHashedCertificateIsFoundAmongManyOtherNames) {
    auto fill = [](const std::string& folder) {
        for (int i = 0; i < 600; ++i)
            std::ofstream(folder + "/Some_Root_Certification_Authority_With_A_Long_Name_" + std::to_string(i) + ".pem")
                << "x";
    };
    tests::support::TempDir without;
    fill(without.path().string());
    EXPECT_FALSE(http::FolderHasHashedCertificates(without.path().string()));
    // Made first: a folder that lists its newest names first (tmpfs) lists
    // it last; ext4 lists names in an order of their own.
    tests::support::TempDir with;
    std::ofstream(with.path().string() + "/6e14d7c9.0") << "x";
    fill(with.path().string());
    EXPECT_TRUE(http::FolderHasHashedCertificates(with.path().string()));
}

TEST(TrustStore, TheDefaultFolderStandsInForTheBundleOnlyWhenItIsHashed) {
    const std::string kDefault = "/usr/lib/ssl/certs";
    struct Case {
        const char* what;
        const char* file;   // SSL_CERT_FILE
        const char* folder; // SSL_CERT_DIR
        bool defaultHashed;
        std::string want; // empty: OpenSSL's defaults
    } cases[] = {
        {"a system with a hashed folder", nullptr, nullptr, true, kDefault},
        {"empty variables are unset ones", "", "", true, kDefault},
        {"SSL_CERT_DIR adds to the folder standing in for the bundle", nullptr, "/opt/ca:/srv/ca", true,
            "/opt/ca:/srv/ca:" + kDefault},
        {"a bundle without hash links (the default folder unhashed)", nullptr, nullptr, false, ""},
        {"SSL_CERT_DIR does not replace an unhashed default", nullptr, "/opt/ca", false, ""},
        {"SSL_CERT_FILE is read as OpenSSL reads it", "/opt/ca.pem", nullptr, true, ""},
        {"SSL_CERT_FILE with SSL_CERT_DIR", "/opt/ca.pem", "/opt/ca", true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> asked;
        const http::TrustStorePlan plan =
            http::PlanTrustStore(c.file, c.folder, kDefault, [&](const std::string& folder) {
                asked.push_back(folder);
                return c.defaultHashed && folder == kDefault;
            });
        EXPECT_EQ(plan.HashedFolders, c.want);
        // Only the default folder is ever listed, and at most once.
        EXPECT_LE(asked.size(), 1u);
        for (const std::string& folder : asked)
            EXPECT_EQ(folder, kDefault);
    }
    EXPECT_EQ(http::PlanTrustStore(nullptr, nullptr, "", [](const std::string&) { return true; }).HashedFolders, "")
        << "no default folder built in";
}

} // namespace
