// OpenSSL's functions as the TLS session uses them, from one of two
// builds (HALVORNE_OPENSSL_ARCHIVES):
//   - linked in from the system's archives (OpenSslLibrary_linked.cpp),
//     where it has them. Loading the shared libraries costs a short run
//     more than anything else the TLS set-up does: some 4,800 symbols
//     bound at load and libcrypto's tables relocated, on a thread that then
//     holds the loader's lock and the process's memory map while Qt loads
//     its platform plugin;
//   - loaded when the first secure connection is prepared
//     (OpenSslLibrary_loaded.cpp), so that the system's updates of the
//     shared libraries apply without a new build.
//
// Each function keeps its OpenSSL name and signature; the header's macros
// that stand for control calls are spelled out in the session's code.
#pragma once

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <string>

namespace http::openssl {

#define HALVORNE_OPENSSL_FUNCTIONS(F)                                                                                  \
    F(ASN1_OCTET_STRING_free)                                                                                          \
    F(BIO_clear_flags)                                                                                                 \
    F(BIO_get_data)                                                                                                    \
    F(BIO_get_new_index)                                                                                               \
    F(BIO_meth_new)                                                                                                    \
    F(BIO_meth_set_ctrl)                                                                                               \
    F(BIO_meth_set_read_ex)                                                                                            \
    F(BIO_meth_set_write_ex)                                                                                           \
    F(BIO_new)                                                                                                         \
    F(BIO_set_data)                                                                                                    \
    F(BIO_set_flags)                                                                                                   \
    F(BIO_set_init)                                                                                                    \
    F(ERR_clear_error)                                                                                                 \
    F(ERR_get_error)                                                                                                   \
    F(ERR_peek_last_error)                                                                                             \
    F(ERR_reason_error_string)                                                                                         \
    F(OPENSSL_init_ssl)                                                                                                \
    F(SSL_CTX_ctrl)                                                                                                    \
    F(SSL_CTX_free)                                                                                                    \
    F(SSL_CTX_load_verify_dir)                                                                                         \
    F(SSL_CTX_new)                                                                                                     \
    F(SSL_CTX_set_default_read_buffer_len)                                                                             \
    F(SSL_CTX_set_default_verify_paths)                                                                                \
    F(SSL_CTX_set_verify)                                                                                              \
    F(SSL_SESSION_free)                                                                                                \
    F(SSL_SESSION_is_resumable)                                                                                        \
    F(SSL_SESSION_up_ref)                                                                                              \
    F(SSL_ctrl)                                                                                                        \
    F(SSL_do_handshake)                                                                                                \
    F(SSL_free)                                                                                                        \
    F(SSL_get0_param)                                                                                                  \
    F(SSL_get1_session)                                                                                                \
    F(SSL_get_error)                                                                                                   \
    F(SSL_get_verify_result)                                                                                           \
    F(SSL_new)                                                                                                         \
    F(SSL_read_ex)                                                                                                     \
    F(SSL_session_reused)                                                                                              \
    F(SSL_set1_host)                                                                                                   \
    F(SSL_set_bio)                                                                                                     \
    F(SSL_set_connect_state)                                                                                           \
    F(SSL_set_hostflags)                                                                                               \
    F(SSL_set_session)                                                                                                 \
    F(SSL_shutdown)                                                                                                    \
    F(SSL_write_ex)                                                                                                    \
    F(TLS_client_method)                                                                                               \
    F(X509_VERIFY_PARAM_set1_ip_asc)                                                                                   \
    F(X509_get_default_cert_dir)                                                                                       \
    F(X509_get_default_cert_dir_env)                                                                                   \
    F(X509_get_default_cert_file_env)                                                                                  \
    F(X509_verify_cert_error_string)                                                                                   \
    F(a2i_IPADDRESS)

struct Functions {
#define HALVORNE_OPENSSL_POINTER(name) decltype(&::name) name = nullptr;
    HALVORNE_OPENSSL_FUNCTIONS(HALVORNE_OPENSSL_POINTER)
#undef HALVORNE_OPENSSL_POINTER
};

// Makes every function available, once per process; safe from any thread.
// Loaded libraries can fail: false, with what failed, when they are
// missing or lack a function; a later call tries again.
bool Load(std::string& failure);

// The functions; only after Load returned true.
const Functions& Fn();

} // namespace http::openssl
