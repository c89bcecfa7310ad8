#include "http/HttpUrl.h"

#include <algorithm>

int THttpUrl::PortNumberOr(int fallback) const {
    if (Port.empty() || Port.size() > 5)
        return fallback;
    int value = 0;
    for (char c : Port) {
        if (c < '0' || c > '9')
            return fallback;
        value = value * 10 + (c - '0');
    }
    // Port 0 cannot be connected to and larger values do not fit the field:
    // both count as "not a number" rather than wrapping around.
    if (value < 1 || value > 65535)
        return fallback;
    return value;
}

THttpUrl ParseHttpUrl(const std::string& input) {
    THttpUrl url;
    std::string rest = input;
    std::replace(rest.begin(), rest.end(), '\\', '/');

    std::size_t sep = rest.find("://");
    if (sep != std::string::npos) {
        url.HasHost = true;
        url.Protocol = rest.substr(0, sep);
        rest.erase(0, sep + 3);
        std::size_t slash = rest.find('/');
        std::string hostPort = rest.substr(0, slash);
        rest = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
        std::size_t colon = hostPort.find(':');
        url.Host = hostPort.substr(0, colon);
        if (colon != std::string::npos)
            url.Port = hostPort.substr(colon + 1);
    }

    std::size_t lastSlash = rest.rfind('/');
    if (lastSlash == std::string::npos) {
        url.Path.assign(1, '/');
        url.Document = rest;
    } else {
        url.Path = rest.substr(0, lastSlash + 1);
        url.Document = rest.substr(lastSlash + 1);
        if (url.Path.empty() || url.Path[0] != '/')
            url.Path.insert(url.Path.begin(), '/');
    }
    std::size_t hash = url.Document.find('#');
    if (hash != std::string::npos)
        url.Document.erase(hash);
    return url;
}
