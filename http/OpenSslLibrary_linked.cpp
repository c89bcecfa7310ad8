// OpenSSL linked in from its archives: the functions are the program's
// own, with nothing to load, relocate or look up when TLS is first used.
#include "http/OpenSslLibrary.h"

namespace http::openssl {

namespace {

Functions Linked() {
    Functions linked;
#define HALVORNE_OPENSSL_LINK(name) linked.name = &::name;
    HALVORNE_OPENSSL_FUNCTIONS(HALVORNE_OPENSSL_LINK)
#undef HALVORNE_OPENSSL_LINK
    return linked;
}

} // namespace

bool Load(std::string&) {
    Fn();
    return true;
}

const Functions& Fn() {
    static const Functions linked = Linked();
    return linked;
}

} // namespace http::openssl
