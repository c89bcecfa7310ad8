// The publisher's side of signed updates, done with the real minisign tool
// as a publisher does it: key pairs without a password and signature files
// of either kind. For tests and benchmarks.
#pragma once

#include <string>
#include <vector>

namespace tests::support::minisign {

struct KeyPair {
    std::string PublicKeyFile;
    std::string SecretKeyFile;
    std::string PublicKeyLine; // the base64 line, as the program carries it
};

// Runs argv[0] (looked up in PATH) with its output discarded; its exit code,
// or -1 when it could not run.
int RunTool(const std::vector<std::string>& argv);

// Makes dir/<name>.pub and dir/<name>.key; throws when minisign fails.
KeyPair MakeKeyPair(const std::string& dir, const std::string& name);

struct SignOptions {
    bool Legacy = false;        // -l: sign the file itself, not its hash
    std::string TrustedComment; // -t; empty: minisign's default (names the file)
    std::string Output;         // -x; empty: <file>.minisig
};

// Signs file with the key pair; throws when minisign fails. Returns the
// signature file's path.
std::string Sign(const KeyPair& key, const std::string& file, const SignOptions& options = {});

// The line b2sum writes for dir/name (hash, two blanks, name, LF), as a
// publisher appends it to the version file.
std::string HashLine(const std::string& dir, const std::string& name);

} // namespace tests::support::minisign
