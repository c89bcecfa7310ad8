#include "tests/support/WebServers.h"

#include "tests/support/Ports.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#ifndef HALVORNE_SOURCE_DIR
#error "HALVORNE_SOURCE_DIR must name the source tree"
#endif

namespace tests::support {

namespace fs = std::filesystem;

namespace {

void ReplaceAll(std::string& s, const std::string& from, const std::string& to) {
    for (std::size_t pos = 0; (pos = s.find(from, pos)) != std::string::npos; pos += to.size())
        s.replace(pos, from.size(), to);
}

void MakeWorldReadable(const fs::path& root) {
    ::chmod(root.c_str(), 0755);
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(root, ec))
        ::chmod(entry.path().c_str(), entry.is_directory() ? 0755 : 0644);
}

// The workers must also pass through the folders above a root served in
// place (a private temporary folder is 0700): search permission only.
void MakeReachable(fs::path dir) {
    for (; !dir.empty() && dir != dir.root_path(); dir = dir.parent_path()) {
        struct stat st {};
        if (::stat(dir.c_str(), &st) == 0 && st.st_uid == ::geteuid() && !(st.st_mode & S_IXOTH))
            ::chmod(dir.c_str(), (st.st_mode & 07777) | S_IXOTH);
    }
}

// Starts a server on a port and waits until it listens, trying a few ports
// (a free one may be taken before the server binds it) or waiting for a
// fixed one. start(port) writes the configuration and starts the process.
std::unique_ptr<Subprocess> StartListening(
    const std::function<std::unique_ptr<Subprocess>(int)>& start, int fixedPort, int& portOut) {
    const int attempts = fixedPort ? 40 : 5;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (fixedPort && attempt > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        portOut = fixedPort ? fixedPort : FreeLoopbackPort();
        auto process = start(portOut);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!process->Finished() && std::chrono::steady_clock::now() < deadline) {
            if (WaitForPort(portOut, 50))
                return process;
        }
        process->Kill();
    }
    return nullptr;
}

} // namespace

NginxServer::NginxServer(const std::string& rootDir, const NginxOptions& options)
    : https_(!options.certFile.empty() && !options.keyFile.empty()) {
    ::chmod(tmp_.path().c_str(), 0755);
    root_ = rootDir;
    if (options.copyRoot) {
        root_ = tmp_.file("www");
        fs::copy(rootDir, root_, fs::copy_options::recursive);
    }
    MakeWorldReadable(root_);
    if (!options.copyRoot)
        MakeReachable(fs::path(root_).parent_path());
    const fs::path prefix = tmp_.path() / "nginx";
    fs::create_directory(prefix);
    const std::string tmpl = ReadFile(fs::path(HALVORNE_SOURCE_DIR) / "demo" / "nginx.conf.in");
    process_ = StartListening(
        [&](int port) {
            std::string conf = tmpl;
            ReplaceAll(conf, "@PREFIX@", prefix.string());
            ReplaceAll(conf, "@PORT@", std::to_string(port));
            ReplaceAll(conf, "@ROOT@", root_);
            ReplaceAll(conf, "@RATE@", options.rate.empty() ? "0" : options.rate);
            ReplaceAll(conf, "@SSL@", https_ ? " ssl" : "");
            std::string serverLines;
            if (https_)
                serverLines += "ssl_certificate " + options.certFile + "; ssl_certificate_key " + options.keyFile + ";";
            if (!options.rate.empty())
                serverLines += " limit_rate " + options.rate + ";";
            ReplaceAll(conf, "@CERTIFICATE@", serverLines);
            WriteFile(prefix / "nginx.conf", conf);
            SubprocessOptions o;
            o.logFile = (prefix / "stdout.log").string();
            return std::make_unique<Subprocess>(
                std::vector<std::string>{"nginx", "-p", prefix.string(), "-c", (prefix / "nginx.conf").string(), "-e",
                    (prefix / "error.log").string(), "-g", "daemon off;"},
                o);
        },
        options.fixedPort, port_);
    if (!process_)
        error_ = "nginx did not start on 127.0.0.1:" + std::to_string(port_) + ": " + ReadFile(prefix / "error.log") +
                 ReadFile(prefix / "stdout.log");
}

NginxServer::~NginxServer() {
    if (process_)
        process_->Stop();
}

TinyProxyServer::TinyProxyServer() {
    // tinyproxy may drop to an unprivileged user that must write its log.
    ::chmod(tmp_.path().c_str(), 0777);
    process_ = StartListening(
        [&](int port) {
            std::ofstream conf(tmp_.file("tinyproxy.conf"));
            conf << "Port " << port << "\n"
                 << "Listen 127.0.0.1\n"
                 << "Timeout 30\n"
                 << "MaxClients 20\n"
                 << "Allow 127.0.0.1\n"
                 << "PidFile \"" << tmp_.file("tinyproxy.pid") << "\"\n"
                 << "LogFile \"" << tmp_.file("tinyproxy.log") << "\"\n"
                 << "LogLevel Warning\n";
            conf.close();
            SubprocessOptions o;
            o.logFile = tmp_.file("stdout.log");
            return std::make_unique<Subprocess>(
                std::vector<std::string>{"tinyproxy", "-d", "-c", tmp_.file("tinyproxy.conf")}, o);
        },
        0, port_);
    if (!process_)
        error_ = "tinyproxy did not start: " + ReadFile(tmp_.file("tinyproxy.log")) + ReadFile(tmp_.file("stdout.log"));
}

TinyProxyServer::~TinyProxyServer() {
    if (process_)
        process_->Stop();
}

} // namespace tests::support
