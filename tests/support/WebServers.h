// nginx and tinyproxy on free loopback ports, each running from a private
// temporary folder and stopped by its destructor. nginx runs with the demo
// update server's own configuration (demo/nginx.conf.in), so the tests
// check that configuration too.
#pragma once

#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"

#include <memory>
#include <string>

namespace tests::support {

struct NginxOptions {
    // Listen here instead of on a free port (a program whose stored server
    // address names the port). Held for a while by the same test of another
    // build tree: then it waits.
    int fixedPort = 0;
    // Serve a copy of the folder, which the test may change.
    bool copyRoot = false;
    // Both set: HTTPS with this certificate and key (PEM files).
    std::string certFile{};
    std::string keyFile{};
    // nginx's limit_rate for every response ("64k"); empty: no limit.
    std::string rate{};
};

class NginxServer {
public:
    // Serves rootDir (made world-readable: the workers run as nobody).
    explicit NginxServer(const std::string& rootDir, const NginxOptions& options = {});
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    bool Running() const { return process_ != nullptr; }
    const std::string& Error() const { return error_; }
    int Port() const { return port_; }
    // "http://127.0.0.1:<port>/<dir>/" ("https://" with a certificate)
    std::string Address(const std::string& dir) const {
        return std::string(https_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + "/" + dir + "/";
    }
    // The folder served (the copy with copyRoot).
    const std::string& Root() const { return root_; }
    // nginx's access log: a line per request, written once it is answered.
    std::string AccessLog() const { return (tmp_.path() / "nginx" / "access.log").string(); }

private:
    TempDir tmp_{"nginx-test-"};
    std::string root_;
    int port_ = 0;
    bool https_ = false;
    std::string error_;
    std::unique_ptr<Subprocess> process_;
};

// tinyproxy on 127.0.0.1:Port(), allowing 127.0.0.1 only.
class TinyProxyServer {
public:
    TinyProxyServer();
    ~TinyProxyServer();
    TinyProxyServer(const TinyProxyServer&) = delete;
    TinyProxyServer& operator=(const TinyProxyServer&) = delete;

    bool Running() const { return process_ != nullptr; }
    const std::string& Error() const { return error_; }
    int Port() const { return port_; }

private:
    TempDir tmp_{"tinyproxy-test-"};
    int port_ = 0;
    std::string error_;
    std::unique_ptr<Subprocess> process_;
};

} // namespace tests::support
