#include "signature/SignatureCheck.h"

#include <sodium.h>

#include <stdexcept>
#include <vector>

namespace signature {

namespace {

constexpr std::size_t kHashSize = crypto_generichash_BYTES_MAX; // BLAKE2b-512
// The digest is kept in an array of the signature's size.
static_assert(kHashSize == kSignatureSize);

void InitSodiumOnce() {
    // Picks the fastest implementations for this CPU; safe to call again.
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium could not be initialised");
}

bool Verify(
    const std::array<uint8_t, kSignatureSize>& sig, const uint8_t* message, std::size_t size, const PublicKey& key) {
    return crypto_sign_verify_detached(sig.data(), message, size, key.Key.data()) == 0;
}

} // namespace

const char* Describe(Problem problem) {
    switch (problem) {
    case Problem::None: return "the signature is good";
    case Problem::Missing: return "the signature file is missing";
    case Problem::Oversized: return "the signature file is too large";
    case Problem::Malformed: return "the signature file is malformed";
    case Problem::BadKey: return "the program's public key is not valid";
    case Problem::UnknownKey: return "the file was signed with another key";
    case Problem::CommentTampered: return "the trusted comment does not match its signature";
    case Problem::OtherFile: return "the signature belongs to another file";
    case Problem::Mismatch: return "the file does not match its signature";
    case Problem::LegacyKind: return "the signature is of the legacy kind";
    case Problem::NoTimestamp: return "the trusted comment has no timestamp";
    case Problem::NotListed: return "the version file lists no hash for the file";
    case Problem::HashMismatch: return "the file differs from the hash in the version file";
    case Problem::Replayed: return "the file was signed before one already seen";
    }
    return "unknown problem";
}

struct SignatureCheck::HashState {
    crypto_generichash_state state;
};

SignatureCheck::SignatureCheck(const PublicKey& key, std::string_view signatureFile, std::string_view fileName) {
    Begin(key, signatureFile, fileName);
}

SignatureCheck::SignatureCheck(std::string_view keyLine, std::string_view signatureFile, std::string_view fileName) {
    const auto key = ParsePublicKey(keyLine);
    if (!key) {
        problem_ = Problem::BadKey;
        return;
    }
    Begin(*key, signatureFile, fileName);
}

SignatureCheck::~SignatureCheck() = default;

void SignatureCheck::Begin(const PublicKey& key, std::string_view signatureFile, std::string_view fileName) {
    InitSodiumOnce();
    key_ = key;
    ParseError error = ParseError::None;
    auto parsed = ParseSignatureFile(signatureFile, &error);
    if (!parsed) {
        problem_ = error == ParseError::Oversized ? Problem::Oversized : Problem::Malformed;
        return;
    }
    file_ = std::move(*parsed);
    if (file_.Kind != SignatureKind::Prehashed) {
        problem_ = Problem::LegacyKind;
        return;
    }
    if (file_.Id != key_.Id) {
        problem_ = Problem::UnknownKey;
        return;
    }
    // The trusted comment is believed only once its own signature holds.
    std::vector<uint8_t> global(file_.Signature.begin(), file_.Signature.end());
    global.insert(global.end(), file_.TrustedComment.begin(), file_.TrustedComment.end());
    if (!Verify(file_.GlobalSignature, global.data(), global.size(), key_)) {
        problem_ = Problem::CommentTampered;
        return;
    }
    const auto name = TrustedFileName(file_.TrustedComment);
    if (!name || *name != fileName) {
        problem_ = Problem::OtherFile;
        return;
    }
    const auto timestamp = TrustedTimestamp(file_.TrustedComment);
    if (!timestamp) {
        // Without a signing time an old file could be served again unnoticed.
        problem_ = Problem::NoTimestamp;
        return;
    }
    timestamp_ = *timestamp;
    hash_ = std::make_unique<HashState>();
    crypto_generichash_init(&hash_->state, nullptr, 0, kHashSize);
}

void SignatureCheck::Update(const uint8_t* data, std::size_t size) {
    if (problem_ != Problem::None || !hash_ || finished_ || size == 0)
        return;
    crypto_generichash_update(&hash_->state, data, size);
}

Problem SignatureCheck::Finish() {
    if (problem_ != Problem::None)
        return problem_;
    if (!hash_ || finished_) {
        // A second verdict would rest on a state that final() has used up.
        problem_ = Problem::Mismatch;
        return problem_;
    }
    finished_ = true;
    crypto_generichash_final(&hash_->state, digest_.data(), digest_.size());
    if (!Verify(file_.Signature, digest_.data(), digest_.size(), key_))
        problem_ = Problem::Mismatch;
    return problem_;
}

Problem SignatureCheck::FinishWhole(const uint8_t* data, std::size_t size) {
    if (problem_ != Problem::None)
        return problem_;
    if (finished_) {
        problem_ = Problem::Mismatch;
        return problem_;
    }
    finished_ = true;
    static const uint8_t kNothing = 0;
    if (size == 0)
        data = &kNothing;
    crypto_generichash(digest_.data(), digest_.size(), data, size, nullptr, 0);
    if (!Verify(file_.Signature, digest_.data(), digest_.size(), key_))
        problem_ = Problem::Mismatch;
    return problem_;
}

Problem VerifyFile(std::string_view keyLine, std::string_view signatureFile, std::string_view fileName,
    const uint8_t* data, std::size_t size) {
    SignatureCheck check(keyLine, signatureFile, fileName);
    if (check.Status() != Problem::None)
        return check.Status();
    return check.FinishWhole(data, size);
}

} // namespace signature
