// Socket error codes in the Windows Sockets numbering. The POSIX layer
// translates errno and name-lookup results into these so that every
// platform produces the same "Socket Error # n" messages; on Windows they
// come from WSAGetLastError as they are.
#pragma once

#include <string>

namespace platform::net {

enum : int {
    kWsaEINTR = 10004,
    kWsaEWOULDBLOCK = 10035,
    kWsaEINPROGRESS = 10036,
    kWsaEADDRINUSE = 10048,
    kWsaECONNABORTED = 10053,
    kWsaECONNRESET = 10054,
    kWsaESHUTDOWN = 10058,
    kWsaETIMEDOUT = 10060,
    kWsaECONNREFUSED = 10061,
    kWsaHOST_NOT_FOUND = 11001,
    kWsaTRY_AGAIN = 11002,
    kWsaNO_RECOVERY = 11003,
};

#ifndef _WIN32
// errno -> Windows Sockets code; an errno without an equivalent is
// returned unchanged. (On Windows the system's codes are these already.)
int WsaCodeFromErrno(int err);

// getaddrinfo() result (and the errno saved right after it, used for
// EAI_SYSTEM) -> Windows Sockets code.
int WsaCodeFromLookup(int eaiResult, int savedErrno);
#endif

// The fixed text for a code, or "" when the code has none.
std::string WsaErrorText(int code);

} // namespace platform::net
