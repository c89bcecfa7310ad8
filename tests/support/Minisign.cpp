#include "Minisign.h"

#include <fcntl.h>
#include <fstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport::minisign {

int RunTool(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_RDWR);
        if (devnull >= 0) {
            ::dup2(devnull, 0);
            ::dup2(devnull, 1);
            ::dup2(devnull, 2);
        }
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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

} // namespace testsupport::minisign
