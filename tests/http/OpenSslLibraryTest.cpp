// The OpenSSL a process runs is the one its build chose: linked in from
// the archives, with no shared copy beside it (one named earlier on the
// link line would quietly take the archives' place, and with them the
// start-up they save), or the system's shared libraries, opened only when
// TLS is first used.
#include "http/OpenSslLibrary.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace {

// The shared OpenSSL libraries mapped into this process, by file name.
std::vector<std::string> MappedSharedOpenSsl() {
    std::set<std::string> names;
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        const std::size_t slash = line.rfind('/');
        if (slash == std::string::npos)
            continue;
        const std::string file = line.substr(slash + 1);
        if (file.rfind("libssl.so", 0) == 0 || file.rfind("libcrypto.so", 0) == 0)
            names.insert(file);
    }
    return {names.begin(), names.end()};
}

#if !HALVORNE_OPENSSL_LINKED
bool HasPrefix(const std::vector<std::string>& names, const std::string& prefix) {
    return std::any_of(names.begin(), names.end(), [&](const std::string& n) { return n.rfind(prefix, 0) == 0; });
}
#endif

TEST(OpenSslLibrary, TheProcessRunsTheOpenSslItsBuildChose) {
    EXPECT_EQ(MappedSharedOpenSsl(), std::vector<std::string>{}) << "before TLS was first used";

    std::string failure;
    ASSERT_TRUE(http::openssl::Load(failure)) << failure;
    const http::openssl::Functions& ssl = http::openssl::Fn();
    SSL_CTX* context = ssl.SSL_CTX_new(ssl.TLS_client_method());
    ASSERT_NE(context, nullptr);
    ssl.SSL_CTX_free(context);

    const std::vector<std::string> mapped = MappedSharedOpenSsl();
#if HALVORNE_OPENSSL_LINKED
    EXPECT_EQ(mapped, std::vector<std::string>{}) << "linked in from the archives, yet a shared copy is mapped";
#else
    EXPECT_TRUE(HasPrefix(mapped, "libssl.so")) << "loaded at the first use";
    EXPECT_TRUE(HasPrefix(mapped, "libcrypto.so")) << "loaded at the first use";
#endif
}

} // namespace
