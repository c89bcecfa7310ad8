// Checks a downloaded file against its minisign signature and the
// publisher's public key built into the program. Everything that needs no
// file bytes (format, kind, key, the global signature over the trusted
// comment, the file name and the signing time in it) is checked first, so
// a download can be refused before it starts; the file is then hashed as
// its bytes arrive.
//
// Only the prehashed kind ("ED", minisign's default) is accepted. The two
// letters of the kind are not covered by the global signature, so a
// legacy "Ed" line may be a prehashed signature with its kind changed: it
// would then verify over the 64 bytes of the genuine file's hash, served
// as the file.
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
    LegacyKind,      // signed the legacy way ("Ed"), which is not accepted
    NoTimestamp,     // the trusted comment carries no signing time
    // Checks of the transfer around the signature, with the same outcome:
    NotListed,    // the signed version file lists no hash for the file
    HashMismatch, // the file's hash differs from the version file's
    Replayed,     // signed earlier than a file of that name already seen
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
    // Once Status is None: the signing key's id and the signing time from
    // the (verified) trusted comment.
    const KeyId& Id() const { return file_.Id; }
    uint64_t Timestamp() const { return timestamp_; }

    // Feeds the next bytes of the file, in order (ignored after a problem).
    void Update(const uint8_t* data, std::size_t size);
    // The verdict once every byte went through Update.
    Problem Finish();
    // The verdict with the whole file at hand (Update is not needed then).
    Problem FinishWhole(const uint8_t* data, std::size_t size);
    // The file's BLAKE2b-512 hash, once Finish or FinishWhole found it good.
    const std::array<uint8_t, kSignatureSize>& Digest() const { return digest_; }

private:
    void Begin(const PublicKey& key, std::string_view signatureFile, std::string_view fileName);

    struct HashState;
    Problem problem_ = Problem::None;
    PublicKey key_{};
    SignatureFile file_{};
    std::unique_ptr<HashState> hash_;
    bool finished_ = false;
    uint64_t timestamp_ = 0;
    std::array<uint8_t, kSignatureSize> digest_{};
};

// The whole check at once, for a file in memory.
Problem VerifyFile(std::string_view keyLine, std::string_view signatureFile, std::string_view fileName,
    const uint8_t* data, std::size_t size);

} // namespace signature
