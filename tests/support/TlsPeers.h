// The peers of the TLS tests on loopback: a test CA (tests/support/TestPki.h),
// one nginx per kind of certificate serving the files of TlsPeerFiles.h,
// tinyproxy, and scripted servers that never answer, answer in plain HTTP
// or refuse a tunnel. The Linux tests start them in-process; the Windows
// tests get them from tls_peers_for_wine on the Linux side.
#pragma once

#include "tests/support/LoopbackServer.h"
#include "tests/support/TestPki.h"
#include "tests/support/TlsPeerFiles.h"
#include "tests/support/WebServers.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tests::support {

class TlsPeers {
public:
    // Makes the CA, the certificates and the served folder in dir (which
    // must exist) and starts every peer.
    explicit TlsPeers(const std::string& dir);
    ~TlsPeers();
    TlsPeers(const TlsPeers&) = delete;
    TlsPeers& operator=(const TlsPeers&) = delete;

    bool Running() const;
    std::string Error() const;
    // The CA's certificate (PEM): the only authority the tests trust.
    const std::string& CaFile() const { return pki_.CaFile(); }
    const TestPki& Pki() const { return pki_; }
    const tls_peers::Ports& Ports() const { return ports_; }
    // What the refusing proxy received first.
    std::string RefusingProxyRequest() const { return refusingProxy_.FirstRequest(); }
    // The ports as environment variables (TlsPeerFiles.h).
    std::vector<std::pair<std::string, std::string>> Environment() const;

private:
    TestPki pki_;
    std::vector<std::unique_ptr<NginxServer>> nginx_;
    TinyProxyServer proxy_;
    ScriptedServer silent_;
    ScriptedServer plain_;
    ScriptedServer refusingProxy_;
    tls_peers::Ports ports_;
};

} // namespace tests::support
