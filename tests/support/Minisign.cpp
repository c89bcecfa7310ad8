#include "tests/support/Minisign.h"

#include "tests/support/Subprocess.h"

#include <chrono>
#include <fstream>
#include <stdexcept>

namespace tests::support::minisign {

namespace {
// minisign signs or makes a key in well under a second; one that takes
// this long has hung.
constexpr auto kToolLimit = std::chrono::seconds(60);
} // namespace

int RunTool(const std::vector<std::string>& argv) {
    try {
        Subprocess tool(argv);
        if (!tool.WaitFor(kToolLimit))
            return -1; // killed with the object
        return tool.Exited() ? tool.ExitCode() : -1;
    } catch (const std::exception&) {
        return -1;
    }
}

KeyPair MakeKeyPair(const std::string& dir, const std::string& name) {
    KeyPair k;
    k.PublicKeyFile = dir + "/" + name + ".pub";
    k.SecretKeyFile = dir + "/" + name + ".key";
    if (RunTool({"minisign", "-G", "-W", "-f", "-p", k.PublicKeyFile, "-s", k.SecretKeyFile}) != 0)
        throw std::runtime_error("minisign could not make a key pair in " + dir);
    std::ifstream in(k.PublicKeyFile);
    std::string comment;
    std::getline(in, comment);
    std::getline(in, k.PublicKeyLine);
    if (k.PublicKeyLine.empty())
        throw std::runtime_error("minisign wrote no public key line to " + k.PublicKeyFile);
    return k;
}

std::string Sign(const KeyPair& key, const std::string& file, const SignOptions& options) {
    std::vector<std::string> argv = {"minisign", "-S", "-s", key.SecretKeyFile, "-m", file};
    if (options.Legacy)
        argv.push_back("-l");
    if (!options.TrustedComment.empty()) {
        argv.push_back("-t");
        argv.push_back(options.TrustedComment);
    }
    const std::string output = options.Output.empty() ? file + ".minisig" : options.Output;
    argv.push_back("-x");
    argv.push_back(output);
    if (RunTool(argv) != 0)
        throw std::runtime_error("minisign could not sign " + file);
    return output;
}

std::string HashLine(const std::string& dir, const std::string& name) {
    SubprocessOptions o;
    o.workDir = dir;
    o.captureOutput = true;
    Subprocess tool({"b2sum", name}, o);
    if (!tool.WaitFor(kToolLimit) || !tool.Exited() || tool.ExitCode() != 0)
        throw std::runtime_error("b2sum could not hash " + dir + "/" + name);
    return tool.Output();
}

} // namespace tests::support::minisign
