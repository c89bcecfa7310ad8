// trust_test_ca: puts a certificate (a PEM file) into the machine's Root
// store, so a TLS test's own CA is trusted in the wine prefix the tests run
// in. Never run it outside a test prefix.
//   trust_test_ca CA.pem
#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Store {
    HCERTSTORE handle = nullptr;
    ~Store() {
        if (handle)
            ::CertCloseStore(handle, 0);
    }
};

int Fail(const char* what) {
    std::fprintf(stderr, "trust_test_ca: %s (error %lu)\n", what, static_cast<unsigned long>(::GetLastError()));
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: trust_test_ca CA.pem\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (pem.empty())
        return Fail("the certificate file cannot be read");
    DWORD size = 0;
    if (!::CryptStringToBinaryA(
            pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
        return Fail("the certificate file is not PEM");
    std::vector<BYTE> der(size);
    if (!::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(),
            &size, nullptr, nullptr))
        return Fail("the certificate file is not PEM");
    Store root;
    root.handle = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!root.handle)
        return Fail("the machine's Root store cannot be opened");
    if (!::CertAddEncodedCertificateToStore(
            root.handle, X509_ASN_ENCODING, der.data(), size, CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
        return Fail("the certificate cannot be added");
    return 0;
}
