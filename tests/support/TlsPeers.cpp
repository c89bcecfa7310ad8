#include "tests/support/TlsPeers.h"

#include "tests/support/Ports.h"
#include "tests/support/TempDir.h"

#include <filesystem>

namespace tests::support {

namespace {

constexpr const char* kSlowRate = "256k";

std::string ServedFolder(const std::string& dir) {
    const std::string root = dir + "/www";
    std::filesystem::create_directory(root);
    WriteFile(root + "/" + tls_peers::kBigName, tls_peers::BigContent());
    WriteFile(root + "/" + tls_peers::kTextName, tls_peers::kTextContent);
    WriteFile(root + "/" + tls_peers::kEmptyName, "");
    return root;
}

} // namespace

TlsPeers::TlsPeers(const std::string& dir)
    : pki_(dir), silent_({ScriptStep::HoldOpen()}),
      plain_({ScriptStep::Pause(50), ScriptStep::Out("HTTP/1.0 400 Bad Request\r\n\r\n"), ScriptStep::HoldOpen()}),
      refusingProxy_({ScriptStep::Read(), ScriptStep::Out("HTTP/1.0 403 Forbidden\r\nContent-Length: 4\r\n\r\nnope"),
          ScriptStep::HoldOpen()}) {
    const std::string root = ServedFolder(dir);
    auto serve = [&](const CertificateFiles& f, const std::string& rate = "") {
        nginx_.push_back(std::make_unique<NginxServer>(
            root, NginxOptions{.copyRoot = true, .certFile = f.CertFile, .keyFile = f.KeyFile, .rate = rate}));
        return nginx_.back()->Port();
    };
    ports_.Good = serve(pki_.Loopback());
    ports_.OtherHost = serve(pki_.Issue({"other", {"update.example.test"}, {"192.0.2.7"}}));
    ports_.SelfSigned = serve(pki_.SelfSigned({"selfsigned", {"localhost"}, {"127.0.0.1"}}));
    ports_.Expired = serve(pki_.Issue({"expired", {"localhost"}, {"127.0.0.1"}, -30, -1}));
    ports_.Slow = serve(pki_.Loopback(), kSlowRate);
    ports_.Proxy = proxy_.Port();
    ports_.Silent = silent_.Port();
    ports_.Plain = plain_.Port();
    ports_.RefusingProxy = refusingProxy_.Port();
    ports_.Closed = FreeLoopbackPort();
}

TlsPeers::~TlsPeers() = default;

bool TlsPeers::Running() const {
    for (const auto& n : nginx_)
        if (!n->Running())
            return false;
    return proxy_.Running();
}

std::string TlsPeers::Error() const {
    std::string error;
    for (const auto& n : nginx_)
        error += n->Error();
    return error + proxy_.Error();
}

std::vector<std::pair<std::string, std::string>> TlsPeers::Environment() const {
    std::vector<std::pair<std::string, std::string>> env;
    tls_peers::Ports ports = ports_;
    for (std::size_t i = 0; i < tls_peers::kPortCount; ++i)
        env.emplace_back(tls_peers::kPortVariables[i], std::to_string(*tls_peers::PortFields(ports, i)));
    return env;
}

} // namespace tests::support
