// The two texts a publisher makes with minisign: the public key line (the
// base64 line of the .pub file) and the signature file (.minisig). Parsing
// is strict and bounded, since a signature file comes from the network:
// exact lengths, canonical base64, the four lines and nothing else.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace signature {

inline constexpr std::size_t kKeyIdSize = 8;
inline constexpr std::size_t kPublicKeySize = 32;
inline constexpr std::size_t kSignatureSize = 64;

// The bounds minisign itself writes within: a comment longer than these
// did not come from it.
inline constexpr std::size_t kMaxUntrustedCommentSize = 1024;
inline constexpr std::size_t kMaxTrustedCommentSize = 8192;
// No signature file is longer than its four lines at their longest; the
// download of a signature file stops here.
inline constexpr std::size_t kMaxSignatureFileSize = 16 * 1024;

using KeyId = std::array<uint8_t, kKeyIdSize>;

struct PublicKey {
    KeyId Id{};
    std::array<uint8_t, kPublicKeySize> Key{};
};

// What the signature line says was signed: the file itself (the legacy
// kind, "Ed") or its BLAKE2b-512 hash (minisign's default, "ED").
enum class SignatureKind { Legacy, Prehashed };

struct SignatureFile {
    std::string UntrustedComment; // after "untrusted comment: "
    SignatureKind Kind = SignatureKind::Prehashed;
    KeyId Id{};
    std::array<uint8_t, kSignatureSize> Signature{};
    std::string TrustedComment; // after "trusted comment: "
    std::array<uint8_t, kSignatureSize> GlobalSignature{};
};

enum class ParseError { None, Oversized, Malformed };

// The base64 line of a minisign .pub file ("RW..."); blanks and a line end
// around it are tolerated, nothing else.
std::optional<PublicKey> ParsePublicKey(std::string_view line);

// A .minisig file: four lines ending in LF (CR LF accepted; the last line
// end may be missing). Anything else is Malformed; more than
// kMaxSignatureFileSize bytes is Oversized.
std::optional<SignatureFile> ParseSignatureFile(std::string_view bytes, ParseError* error = nullptr);

// The canonical text of a signature file, as minisign writes it (LF line
// ends): parsing it gives the same fields back.
std::string FormatSignatureFile(const SignatureFile& file);

// The value of the "file:" field of a trusted comment (fields are
// separated by tabs); nullopt when there is none or more than one.
std::optional<std::string> TrustedFileName(std::string_view trustedComment);

// The "timestamp:" field of a trusted comment: the signing time in seconds
// since 1970, decimal digits only; nullopt when there is none, more than
// one, or it is not such a number.
std::optional<uint64_t> TrustedTimestamp(std::string_view trustedComment);

} // namespace signature
