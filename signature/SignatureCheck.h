// Checks a downloaded file against its minisign signature and the
// publisher's public key built into the program. Everything that needs no
// file bytes (format, key, the global signature over the trusted comment,
// the file name in it) is checked first, so a download can be refused
// before it starts; the prehashed kind then hashes the file as its bytes
// arrive, the legacy kind needs the whole file at the end.
#pragma once

#include "signature/MinisignFormat.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace signature {

// Why a file is not accepted; None when it is.
enum class Problem {
    None,
    Missing,         // no signature file on the server
    Oversized,       // larger than any signature file can be
    Malformed,       // not a signature file of a known kind
    BadKey,          // the program's own key is not a valid public key
    UnknownKey,      // signed with a key other than the program's
    CommentTampered, // the global signature does not match the trusted comment
    OtherFile,       // the trusted comment names another file
    Mismatch,        // the file is not the file that was signed
    LegacyTooLarge,  // signed the legacy way, which needs the whole file in
                     // memory, and larger than the program holds there
};

// A short English description, for logs and test messages.
const char* Describe(Problem problem);

class SignatureCheck {
public:
    // Parses signatureFile and checks everything but the file's bytes.
    // fileName is the name the file is fetched under; the trusted
    // comment's "file:" field must be exactly that.
    SignatureCheck(const PublicKey& key, std::string_view signatureFile, std::string_view fileName);
    // The same with the key given as its base64 line (a bad line is BadKey).
    SignatureCheck(std::string_view keyLine, std::string_view signatureFile, std::string_view fileName);
    ~SignatureCheck();
    SignatureCheck(const SignatureCheck&) = delete;
    SignatureCheck& operator=(const SignatureCheck&) = delete;

    // None while the file can still be accepted.
    Problem Status() const { return problem_; }
    // The legacy kind signs the file itself: Finish needs all of it.
    bool NeedsWholeFile() const;

    // Feeds the next bytes of the file, in order (prehashed kind; ignored
    // for the legacy kind and after a problem).
    void Update(const uint8_t* data, std::size_t size);
    // The verdict for the prehashed kind once every byte went through Update.
    Problem Finish();
    // The verdict with the whole file at hand (either kind; Update is not
    // needed then).
    Problem FinishWhole(const uint8_t* data, std::size_t size);

private:
    void Begin(const PublicKey& key, std::string_view signatureFile, std::string_view fileName);

    struct HashState;
    Problem problem_ = Problem::None;
    PublicKey key_{};
    SignatureFile file_{};
    std::unique_ptr<HashState> hash_;
    bool finished_ = false;
};

// The whole check at once, for a file in memory.
Problem VerifyFile(std::string_view keyLine, std::string_view signatureFile, std::string_view fileName,
    const uint8_t* data, std::size_t size);

} // namespace signature
