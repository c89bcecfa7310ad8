#include "http/OpenSslLibrary.h"

#include <dlfcn.h>
#include <mutex>

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
    // functions stay valid for the process's life.
    void* ssl = ::dlopen(HALVORNE_LIBSSL_NAME, RTLD_NOW | RTLD_LOCAL);
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
