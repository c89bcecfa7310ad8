// How the download operations turn a failed request into an exit code and
// a message for the transfer window's message line: by the error's text.
#pragma once

#include <string>

namespace transfer {

// Exit codes the download operations leave in the run parameters.
enum ExitCodes : int {
    kExitNone = 0,
    kExitSaved = 21,
    kExitNotSaved = 25,
    kExitNothingToDownload = 29,
    kExitNoConnection = 55,
    kExitOtherFailure = 99,
};

// The hint shown for every socket failure.
extern const char* const kConnectionHint; // UTF-8

struct ErrorClass {
    int ExitCode = kExitOtherFailure;
    // Text for the message line; ShowMessage false leaves the line untouched.
    std::string Message;
    bool ShowMessage = true;
};

// "Socket Error" anywhere (case-sensitive) -> 55 and the hint; else a TLS
// failure of the HTTP client (a certificate that fails the check, a secure
// connection that cannot be made or breaks) -> 55, a failed connection,
// with a Czech text naming the problem; else "404" anywhere -> 29 and no
// message; else 99 and the text itself.
ErrorClass ClassifyError(const std::string& errorText);

// The Czech message for a TLS failure text of the HTTP client (see
// http/IdExceptions.h); empty when the text is not one.
std::string TlsFailureMessage(const std::string& errorText);

// The text of the exception being handled; call only inside a catch block.
// Any std::exception gives its own text; running out of memory and
// exceptions that carry no text give a clear text of their own.
std::string DescribeCurrentException();

// Message shown when a failure carries no text of its own.
extern const char* const kUnknownFailureText; // UTF-8
// Message for running out of memory during a request.
extern const char* const kOutOfMemoryText; // UTF-8

} // namespace transfer
