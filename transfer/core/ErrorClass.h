// How the download operations turn a failed request into an exit code and
// a message for the transfer window's message line: by the kind of error
// and its status code. A text from the network (a server's or a proxy's
// reason phrase) is only ever shown, never searched, so it cannot pose as
// another kind of failure.
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
    // A failed secure connection: the user must see it named even where
    // other failures pass silently.
    bool SecureConnection = false;
    // The body was larger than the request allows.
    bool BodyTooLarge = false;
};

// The exception being handled (call only inside a catch block):
//   socket error, broken response (a body that cannot be read as whole)
//     -> 55 and the hint;
//   a proxy that refused the tunnel, with any status -> 55, the proxy's
//     status shown as its answer;
//   a TLS failure (certificate, handshake, broken secure connection) -> 55
//     with a Czech text naming the problem;
//   the server's status 404 -> 29, no message;
//   anything else -> 99 and its own text.
ErrorClass ClassifyCurrentException();

// The text of the exception being handled; call only inside a catch block.
// Any std::exception gives its own text; running out of memory and
// exceptions that carry no text give a clear text of their own.
std::string DescribeCurrentException();

// Message shown when a failure carries no text of its own.
extern const char* const kUnknownFailureText; // UTF-8
// Message for running out of memory during a request.
extern const char* const kOutOfMemoryText; // UTF-8

} // namespace transfer
