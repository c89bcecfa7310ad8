// Errors raised by the HTTP client. Callers classify them by type and
// status code; the texts are what the user is shown.
#pragma once

#include <stdexcept>
#include <string>

class EIdException : public std::runtime_error {
public:
    explicit EIdException(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

// "Socket Error # %d" CR LF text; Code uses the Windows Sockets numbering.
class EIdSocketError : public EIdException {
public:
    EIdSocketError(int code, const std::string& message) : EIdException(message), Code(code) {}
    int Code;
};

// "Connection Closed Gracefully."
class EIdConnClosedGracefully : public EIdException {
public:
    using EIdException::EIdException;
};

// ResponseText of an error status, e.g. "404 Not Found".
class EIdProtocolReplyError : public EIdException {
public:
    EIdProtocolReplyError(int code, const std::string& message) : EIdException(message), ReplyErrorCode(code) {}
    int ReplyErrorCode;
};

// The proxy answered the request for a tunnel (CONNECT) with a status
// other than 2xx: no connection to the server was made. ResponseText is
// the proxy's status line without its version word.
class EIdProxyRefused : public EIdException {
public:
    EIdProxyRefused(int code, const std::string& responseText)
        : EIdException("Proxy: " + responseText), ProxyStatus(code), ResponseText(responseText) {}
    int ProxyStatus;
    std::string ResponseText;
};

// A secure connection could not be made or broke down. The text begins
// with kTlsErrorPrefix; a server certificate that fails the check gives
// kTlsCertificateErrorPrefix, the verification code and, after CR LF, the
// reason, the way socket errors read ("Socket Error # %d" CR LF text).
inline constexpr const char* kTlsErrorPrefix = "TLS Error: ";
inline constexpr const char* kTlsCertificateErrorPrefix = "TLS Certificate Error # ";

class EIdTlsError : public EIdException {
public:
    EIdTlsError(int certificateError, const std::string& message)
        : EIdException(message), CertificateError(certificateError) {}
    // The certificate check's code (OpenSSL's X509_V_ERR_* numbering),
    // 0 when the failure was not about the certificate.
    int CertificateError;

    // The failure a TLS back end reports, in the one wording every back end
    // shares: the certificate's code and reason when the check failed,
    // otherwise the session's own reason (or that the server ended it).
    static EIdTlsError From(int certificateError, const std::string& reason) {
        if (certificateError != 0)
            return EIdTlsError(certificateError,
                std::string(kTlsCertificateErrorPrefix) + std::to_string(certificateError) + "\r\n" + reason);
        return EIdTlsError(
            0, std::string(kTlsErrorPrefix) +
                   (reason.empty() ? std::string("the server ended the TLS session unexpectedly") : reason));
    }
};

// The body exceeded the request's size limit (THttpLimits::MaxBodySize).
class EIdBodyTooLarge : public EIdException {
public:
    using EIdException::EIdException;
};

// The server's answer breaks the protocol in a way that cannot be read
// past (a chunk size that is no number): the body cannot be trusted to be
// whole, so the request failed like a broken connection.
class EIdBrokenResponse : public EIdException {
public:
    using EIdException::EIdException;
};

// "'%s' is not a valid integer value" for a status code that is not a number.
class EConvertError : public EIdException {
public:
    using EIdException::EIdException;
};
