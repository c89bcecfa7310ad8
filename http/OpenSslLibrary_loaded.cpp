// The shared libraries, loaded when the first secure connection is
// prepared (OpenSslLibrary.h).
#include "http/OpenSslLibrary.h"

#include <dlfcn.h>
#include <mutex>

// The sanitizers' runtimes refuse a library opened with RTLD_DEEPBIND.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define HALVORNE_OPENSSL_DEEPBIND 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define HALVORNE_OPENSSL_DEEPBIND 0
#endif
#endif
#ifndef HALVORNE_OPENSSL_DEEPBIND
#define HALVORNE_OPENSSL_DEEPBIND 1
#endif

#ifndef HALVORNE_LIBSSL_NAME
#error "HALVORNE_LIBSSL_NAME must name the libssl the program was built against"
#endif

namespace http::openssl {

namespace {

std::mutex g_mutex;
Functions g_functions;
bool g_loaded = false;

} // namespace

bool Load(std::string& failure) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_loaded)
        return true;
    // libssl brings its libcrypto; the handle is never closed, so the
    // functions stay valid for the process's life. Both libraries are
    // bound at load (Debian links them "now"), some 4,000 symbols, most of
    // them their own: looked up in the global scope first, each lookup
    // would walk every Qt library before it got there, about half of the
    // TLS set-up. Deep binding looks in OpenSSL's own group first.
    int flags = RTLD_NOW | RTLD_LOCAL;
#if HALVORNE_OPENSSL_DEEPBIND
    flags |= RTLD_DEEPBIND;
#endif
    void* ssl = ::dlopen(HALVORNE_LIBSSL_NAME, flags);
    if (!ssl) {
        const char* why = ::dlerror();
        failure = std::string("the TLS library could not be loaded: ") + (why ? why : HALVORNE_LIBSSL_NAME);
        return false;
    }
    Functions found;
    bool complete = true;
#define HALVORNE_OPENSSL_RESOLVE(name)                                                                                 \
    found.name = reinterpret_cast<decltype(found.name)>(::dlsym(ssl, #name));                                          \
    if (!found.name && complete) {                                                                                     \
        complete = false;                                                                                              \
        failure = "the TLS library " HALVORNE_LIBSSL_NAME " lacks " #name;                                             \
    }
    HALVORNE_OPENSSL_FUNCTIONS(HALVORNE_OPENSSL_RESOLVE)
#undef HALVORNE_OPENSSL_RESOLVE
    if (!complete)
        return false;
    g_functions = found;
    g_loaded = true;
    return true;
}

const Functions& Fn() { return g_functions; }

} // namespace http::openssl
