// When no thread can be had, getting ready for secure connections must not
// stop the program or leave its first connection waiting for a build that
// never started: that connection builds the TLS context itself. A thread
// refused is simulated by standing in for pthread_create in this program.
#include "http/IdHTTP.h"
#include "tests/support/TempDir.h"
#include "tests/support/TlsPeers.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <pthread.h>
#include <string>

namespace {

std::atomic<bool> g_refuseThreads{false};
std::atomic<int> g_refused{0};

} // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*), void* arg) {
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const auto real = reinterpret_cast<Create>(::dlsym(RTLD_NEXT, "pthread_create"));
    if (g_refuseThreads) {
        ++g_refused;
        return EAGAIN;
    }
    return real(thread, attr, start, arg);
}

namespace {

namespace peers = tests::support::tls_peers;

TEST(TlsWithoutAThread, TheFirstConnectionBuildsTheContextItself) {
    tests::support::TempDir tmp;
    const std::string dir = tmp.path().string();
    tests::support::TlsPeers tls(dir);
    ASSERT_TRUE(tls.Running()) << tls.Error();
    std::filesystem::create_directory(dir + "/no-certs");
    ::setenv("SSL_CERT_FILE", tls.CaFile().c_str(), 1);
    ::setenv("SSL_CERT_DIR", (dir + "/no-certs").c_str(), 1);
    const std::string url = "https://127.0.0.1:" + std::to_string(tls.Ports().Good) + "/" + peers::kTextName;

    g_refuseThreads = true;
    EXPECT_NO_THROW(TIdHTTP::PrepareFor(url));
    g_refuseThreads = false;
    ASSERT_GT(g_refused, 0) << "no thread was asked for: nothing was tried";

    TIdHTTP http;
    http.ProtocolVersion = "1.0";
    TMemoryStream body;
    EXPECT_NO_THROW(http.Get(url, body));
    EXPECT_EQ(http.ResponseCode, 200);
    EXPECT_GT(body.Size(), 0u);
    ::unsetenv("SSL_CERT_FILE");
    ::unsetenv("SSL_CERT_DIR");
}

} // namespace
