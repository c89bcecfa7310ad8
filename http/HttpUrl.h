// Taking a request URL apart the way the client needs it.
#pragma once

#include <string>

struct THttpUrl {
    std::string Protocol; // text before "://", as written
    std::string Host;     // empty when the URL has no "://"
    std::string Port;     // text after the host's ":", may be empty
    std::string Path;     // up to and including the last "/", always begins with "/"
    std::string Document; // the rest, "#..." cut off, "?..." kept
    bool HasHost = false; // the URL had "://"

    // The port number: Port when it is a number from 1 to 65535, else 80.
    int PortNumber() const { return PortNumberOr(80); }
    // The same with another port for an empty or unusable Port.
    int PortNumberOr(int fallback) const;
    // The URL named a port other than 80.
    bool HasNonDefaultPort() const { return PortNumber() != 80; }
};

THttpUrl ParseHttpUrl(const std::string& url);
