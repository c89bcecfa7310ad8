// URL parsing with arbitrary text. Invariants: no backslash survives; the
// parts put back together give the URL again (with the fragment cut off the
// document); the path begins and ends with "/", the document holds no "/"
// and no "#"; the host holds no ":" or "/"; the port number is always one
// that can be connected to.
#include "common/FuzzCheck.h"

#include "http/HttpUrl.h"

#include <algorithm>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const THttpUrl url = ParseHttpUrl(input);
    std::string norm = input;
    std::replace(norm.begin(), norm.end(), '\\', '/');

    for (const std::string* part : {&url.Protocol, &url.Host, &url.Port, &url.Path, &url.Document})
        FUZZ_CHECK(part->find('\\') == std::string::npos, "a backslash survived in '%s'", part->c_str());
    FUZZ_CHECK(!url.Path.empty() && url.Path.front() == '/' && url.Path.back() == '/', "path '%s'", url.Path.c_str());
    FUZZ_CHECK(url.Document.find_first_of("/#") == std::string::npos, "document '%s'", url.Document.c_str());
    const int port = url.PortNumber();
    FUZZ_CHECK(port >= 1 && port <= 65535, "port %d", port);
    if (!url.Port.empty() && url.Port.size() <= 5 && url.Port.find_first_not_of("0123456789") == std::string::npos) {
        const int value = std::stoi(url.Port);
        if (value >= 1 && value <= 65535)
            FUZZ_CHECK(port == value, "port text '%s' read as %d", url.Port.c_str(), port);
    }

    std::string rest = norm;
    if (url.HasHost) {
        FUZZ_CHECK(url.Protocol.find("://") == std::string::npos, "scheme '%s'", url.Protocol.c_str());
        FUZZ_CHECK(url.Host.find_first_of(":/") == std::string::npos, "host '%s'", url.Host.c_str());
        FUZZ_CHECK(url.Port.find('/') == std::string::npos, "port text '%s'", url.Port.c_str());
        const std::string head = url.Protocol + "://" + url.Host;
        FUZZ_CHECK(norm.compare(0, head.size(), head) == 0, "'%s' does not begin the URL", head.c_str());
        rest = norm.substr(head.size());
        if (!rest.empty() && rest[0] == ':') {
            FUZZ_CHECK(
                rest.compare(1, url.Port.size(), url.Port) == 0, "port text '%s' not in the URL", url.Port.c_str());
            rest.erase(0, 1 + url.Port.size());
        } else {
            FUZZ_CHECK(url.Port.empty(), "a port '%s' without a colon", url.Port.c_str());
        }
        FUZZ_CHECK(rest.empty() || rest[0] == '/', "host part not ended by a slash: '%s'", rest.c_str());
        if (!rest.empty())
            rest.erase(0, 1);
    } else {
        FUZZ_CHECK(url.Protocol.empty() && url.Host.empty() && url.Port.empty(), "host parts without '://'");
    }
    if (rest.empty() || rest[0] != '/')
        rest.insert(rest.begin(), '/');
    const std::size_t lastSlash = rest.rfind('/');
    const std::size_t hash = rest.find('#', lastSlash);
    if (hash != std::string::npos)
        rest.erase(hash);
    FUZZ_CHECK(url.Path + url.Document == rest, "path '%s' + document '%s' != '%s'", url.Path.c_str(),
        url.Document.c_str(), rest.c_str());
    return 0;
}
