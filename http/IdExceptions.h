// Errors raised by the HTTP client. Callers classify them by Message text
// ("Socket Error", the status code), so the texts are part of the contract.
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

// "'%s' is not a valid integer value" for a status code that is not a number.
class EConvertError : public EIdException {
public:
    using EIdException::EIdException;
};
