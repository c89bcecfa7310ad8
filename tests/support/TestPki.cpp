#include "tests/support/TestPki.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace tests::support {

namespace {

template <class T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509, X509_free>>;

void Check(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(std::string("test certificate: ") + what);
}

KeyPtr NewKey() {
    KeyPtr key(EVP_EC_gen("P-256"));
    Check(key != nullptr, "no key");
    return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    Check(ext != nullptr, "bad extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

// A certificate for key, signed by signerKey as issuer (itself when null).
CertPtr MakeCertificate(const std::string& commonName, EVP_PKEY* key, X509* issuer, EVP_PKEY* signerKey, long fromDays,
    long toDays, bool authority, const std::string& altNames) {
    CertPtr cert(X509_new());
    Check(cert != nullptr, "no certificate");
    X509_set_version(cert.get(), 2);
    unsigned char serial[16];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7F;
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
    BN_free(bn);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), fromDays * 86400);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), toDays * 86400);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(
        name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Halvorne tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(
        name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
    X509* signer = issuer ? issuer : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
    if (authority) {
        AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
        AddExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
    }
    AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
    if (!altNames.empty())
        AddExtension(cert.get(), signer, NID_subject_alt_name, altNames);
    Check(X509_sign(cert.get(), signerKey ? signerKey : key, EVP_sha256()) > 0, "signing failed");
    return cert;
}

void WritePem(const std::string& path, X509* cert, EVP_PKEY* key) {
    FILE* f = std::fopen(path.c_str(), "w");
    Check(f != nullptr, "cannot write a PEM file");
    bool ok =
        cert ? PEM_write_X509(f, cert) == 1 : PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    std::fclose(f);
    Check(ok, "PEM output failed");
}

CertPtr ReadCert(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "r");
    Check(f != nullptr, "cannot read the CA certificate");
    CertPtr cert(PEM_read_X509(f, nullptr, nullptr, nullptr));
    std::fclose(f);
    Check(cert != nullptr, "bad CA certificate");
    return cert;
}

KeyPtr ReadKey(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "r");
    Check(f != nullptr, "cannot read the CA key");
    KeyPtr key(PEM_read_PrivateKey(f, nullptr, nullptr, nullptr));
    std::fclose(f);
    Check(key != nullptr, "bad CA key");
    return key;
}

std::string AltNames(const CertificateOrder& order) {
    std::string names;
    for (const auto& d : order.DnsNames)
        names += (names.empty() ? "" : ",") + std::string("DNS:") + d;
    for (const auto& a : order.Addresses)
        names += (names.empty() ? "" : ",") + std::string("IP:") + a;
    return names;
}

} // namespace

TestPki::TestPki(const std::string& dir) : dir_(dir) {
    caFile_ = dir + "/ca.pem";
    caKeyFile_ = dir + "/ca.key";
    KeyPtr key = NewKey();
    CertPtr ca = MakeCertificate("Halvorne Test CA", key.get(), nullptr, nullptr, -1, 365, true, "");
    WritePem(caFile_, ca.get(), nullptr);
    WritePem(caKeyFile_, nullptr, key.get());
}

std::string TestPki::AddCaToHashedFolder(const std::string& folder) const {
    CertPtr ca = ReadCert(caFile_);
    char name[32];
    std::snprintf(name, sizeof name, "%08lx.0", X509_subject_name_hash(ca.get()));
    WritePem(folder + "/" + name, ca.get(), nullptr);
    return name;
}

CertificateFiles TestPki::Issue(const CertificateOrder& order) const {
    CertPtr ca = ReadCert(caFile_);
    KeyPtr caKey = ReadKey(caKeyFile_);
    KeyPtr key = NewKey();
    CertPtr cert = MakeCertificate(
        order.Name, key.get(), ca.get(), caKey.get(), order.ValidFromDays, order.ValidToDays, false, AltNames(order));
    CertificateFiles files{dir_ + "/" + order.Name + ".pem", dir_ + "/" + order.Name + ".key"};
    WritePem(files.CertFile, cert.get(), nullptr);
    WritePem(files.KeyFile, nullptr, key.get());
    return files;
}

CertificateFiles TestPki::SelfSigned(const CertificateOrder& order) const {
    KeyPtr key = NewKey();
    CertPtr cert = MakeCertificate(
        order.Name, key.get(), nullptr, nullptr, order.ValidFromDays, order.ValidToDays, false, AltNames(order));
    CertificateFiles files{dir_ + "/" + order.Name + ".pem", dir_ + "/" + order.Name + ".key"};
    WritePem(files.CertFile, cert.get(), nullptr);
    WritePem(files.KeyFile, nullptr, key.get());
    return files;
}

} // namespace tests::support
