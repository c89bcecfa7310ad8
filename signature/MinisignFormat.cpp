#include "signature/MinisignFormat.h"

#include <sodium.h>

#include <algorithm>
#include <vector>

namespace signature {

namespace {

constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";
constexpr std::string_view kFileField = "file:";
constexpr std::string_view kTimestampField = "timestamp:";
// 20 digits can pass UINT64_MAX; a time far beyond any clock is refused anyway.
constexpr std::size_t kMaxTimestampDigits = 19;

// Algorithm tags: the public key and a legacy signature carry "Ed", a
// signature over the file's BLAKE2b hash "ED".
constexpr uint8_t kTagE = 'E';
constexpr uint8_t kTagLowerD = 'd';
constexpr uint8_t kTagUpperD = 'D';

constexpr std::size_t kTagSize = 2;
constexpr std::size_t kKeyLineBytes = kTagSize + kKeyIdSize + kPublicKeySize;       // 42
constexpr std::size_t kSignatureLineBytes = kTagSize + kKeyIdSize + kSignatureSize; // 74

bool IsBase64Letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// Exactly `size` bytes of padded, canonical base64, nothing around them.
bool DecodeBase64(std::string_view text, uint8_t* out, std::size_t size) {
    if (text.size() != sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL) - 1)
        return false;
    // libsodium's decoder takes some bytes outside the alphabet for
    // letters (those above 127): only the alphabet and the final padding
    // may pass.
    std::size_t letters = text.size();
    while (letters > 0 && text[letters - 1] == '=')
        --letters;
    for (std::size_t i = 0; i < letters; ++i)
        if (!IsBase64Letter(text[i]))
            return false;
    std::size_t written = 0;
    const char* end = nullptr;
    if (sodium_base642bin(
            out, size, text.data(), text.size(), nullptr, &written, &end, sodium_base64_VARIANT_ORIGINAL) != 0)
        return false;
    return written == size && end == text.data() + text.size();
}

std::string EncodeBase64(const uint8_t* data, std::size_t size) {
    std::vector<char> text(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL));
    sodium_bin2base64(text.data(), text.size(), data, size, sodium_base64_VARIANT_ORIGINAL);
    return std::string(text.data());
}

// A comment must be one line of text: a NUL or a stray CR would make the
// bytes that were signed differ from the bytes a reader sees.
bool IsCleanLine(std::string_view line) {
    for (char c : line)
        if (c == '\0' || c == '\r')
            return false;
    return true;
}

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// Splits into exactly four lines; each ends with LF or CR LF, the last one
// may end without. False for any other shape.
bool SplitFourLines(std::string_view bytes, std::string_view (&lines)[4]) {
    std::size_t pos = 0;
    for (int i = 0; i < 4; ++i) {
        if (pos >= bytes.size())
            return false;
        std::size_t lf = bytes.find('\n', pos);
        std::size_t end = lf == std::string_view::npos ? bytes.size() : lf;
        std::string_view line = bytes.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r' && lf != std::string_view::npos)
            line.remove_suffix(1);
        lines[i] = line;
        pos = lf == std::string_view::npos ? bytes.size() : lf + 1;
        if (lf == std::string_view::npos && i < 3)
            return false;
    }
    return pos == bytes.size();
}

} // namespace

std::optional<PublicKey> ParsePublicKey(std::string_view line) {
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
        line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    std::array<uint8_t, kKeyLineBytes> raw{};
    if (!DecodeBase64(line, raw.data(), raw.size()))
        return std::nullopt;
    if (raw[0] != kTagE || raw[1] != kTagLowerD)
        return std::nullopt;
    PublicKey key;
    std::copy(raw.begin() + kTagSize, raw.begin() + kTagSize + kKeyIdSize, key.Id.begin());
    std::copy(raw.begin() + kTagSize + kKeyIdSize, raw.end(), key.Key.begin());
    return key;
}

std::optional<SignatureFile> ParseSignatureFile(std::string_view bytes, ParseError* error) {
    auto fail = [&](ParseError e) -> std::optional<SignatureFile> {
        if (error)
            *error = e;
        return std::nullopt;
    };
    if (error)
        *error = ParseError::None;
    if (bytes.size() > kMaxSignatureFileSize)
        return fail(ParseError::Oversized);
    std::string_view lines[4];
    if (!SplitFourLines(bytes, lines))
        return fail(ParseError::Malformed);

    SignatureFile file;
    if (!StartsWith(lines[0], kUntrustedPrefix) || !StartsWith(lines[2], kTrustedPrefix))
        return fail(ParseError::Malformed);
    const std::string_view untrusted = lines[0].substr(kUntrustedPrefix.size());
    const std::string_view trusted = lines[2].substr(kTrustedPrefix.size());
    if (untrusted.size() > kMaxUntrustedCommentSize || trusted.size() > kMaxTrustedCommentSize ||
        !IsCleanLine(untrusted) || !IsCleanLine(trusted))
        return fail(ParseError::Malformed);
    file.UntrustedComment.assign(untrusted);
    file.TrustedComment.assign(trusted);

    std::array<uint8_t, kSignatureLineBytes> raw{};
    if (!DecodeBase64(lines[1], raw.data(), raw.size()))
        return fail(ParseError::Malformed);
    if (raw[0] != kTagE)
        return fail(ParseError::Malformed);
    if (raw[1] == kTagLowerD)
        file.Kind = SignatureKind::Legacy;
    else if (raw[1] == kTagUpperD)
        file.Kind = SignatureKind::Prehashed;
    else
        return fail(ParseError::Malformed);
    std::copy(raw.begin() + kTagSize, raw.begin() + kTagSize + kKeyIdSize, file.Id.begin());
    std::copy(raw.begin() + kTagSize + kKeyIdSize, raw.end(), file.Signature.begin());

    if (!DecodeBase64(lines[3], file.GlobalSignature.data(), file.GlobalSignature.size()))
        return fail(ParseError::Malformed);
    return file;
}

std::string FormatSignatureFile(const SignatureFile& file) {
    std::array<uint8_t, kSignatureLineBytes> raw{};
    raw[0] = kTagE;
    raw[1] = file.Kind == SignatureKind::Legacy ? kTagLowerD : kTagUpperD;
    std::copy(file.Id.begin(), file.Id.end(), raw.begin() + kTagSize);
    std::copy(file.Signature.begin(), file.Signature.end(), raw.begin() + kTagSize + kKeyIdSize);
    std::string text;
    text.append(kUntrustedPrefix).append(file.UntrustedComment).append("\n");
    text.append(EncodeBase64(raw.data(), raw.size())).append("\n");
    text.append(kTrustedPrefix).append(file.TrustedComment).append("\n");
    text.append(EncodeBase64(file.GlobalSignature.data(), file.GlobalSignature.size())).append("\n");
    return text;
}

namespace {

// The value of the one field that begins with prefix; nullopt when there is
// none or more than one.
std::optional<std::string_view> UniqueField(std::string_view trustedComment, std::string_view prefix) {
    std::optional<std::string_view> found;
    std::size_t pos = 0;
    for (;;) {
        std::size_t tab = trustedComment.find('\t', pos);
        std::string_view field =
            trustedComment.substr(pos, tab == std::string_view::npos ? std::string_view::npos : tab - pos);
        if (StartsWith(field, prefix)) {
            if (found)
                return std::nullopt; // two values: neither can be trusted to be the one meant
            found = field.substr(prefix.size());
        }
        if (tab == std::string_view::npos)
            break;
        pos = tab + 1;
    }
    return found;
}

} // namespace

std::optional<uint64_t> TrustedTimestamp(std::string_view trustedComment) {
    const auto digits = UniqueField(trustedComment, kTimestampField);
    if (!digits || digits->empty() || digits->size() > kMaxTimestampDigits)
        return std::nullopt;
    uint64_t value = 0;
    for (char c : *digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value;
}

std::optional<std::string> TrustedFileName(std::string_view trustedComment) {
    const auto name = UniqueField(trustedComment, kFileField);
    if (!name)
        return std::nullopt;
    return std::string(*name);
}

} // namespace signature
