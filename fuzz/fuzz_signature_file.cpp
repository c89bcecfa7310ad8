// Signature files as they come from a server, any bytes at all. Checks:
// - a file that parses is within the size bound and reads back exactly
//   (same bytes up to CR LF line ends and the final line end);
// - more than the size bound never parses;
// - nothing but the publisher's own signatures of the file is accepted:
//   whatever the fuzzer makes, a "yes" carries the signed fields of one of
//   the two signatures minisign made, and never for another file name;
// - hashing the file in pieces gives the same verdict as hashing it whole.
#include "common/FuzzCheck.h"
#include "signature/SignatureCheck.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

// A key pair made with `minisign -G -W` for this target only; the secret
// key was thrown away.
constexpr std::string_view kKey = "RWR5V+3DUmfvnqFGyeYAOXLAHzF37F1hMUCwDNkJag70vvK9UaieuwQh";
constexpr std::string_view kContent = "5.30\r\nEvidence majetku\r\n";
constexpr std::string_view kName = "verze.txt";
// `minisign -S -m verze.txt` and `minisign -S -l -m verze.txt` of kContent.
constexpr std::string_view kGenuine[] = {
    "untrusted comment: signature from minisign secret key\n"
    "RUR5V+3DUmfvnkwRdGmhNXy3s9y0pCDK5uqnhFtecRCk1HbniGj1kSj/pkCsm6BhYK7h1gGnhmmVFpnADvfdOwpQU3MYmLBxDAA=\n"
    "trusted comment: timestamp:1796708226\tfile:verze.txt\thashed\n"
    "n0Dafueg5jA3dXASf47aN+8OMWWGycI8oTEzYoPPDZXy8Jt7aTQBZCfZvJoN1fs/8KtxyKiAIn/4faOthw3MAw==\n",
    "untrusted comment: signature from minisign secret key\n"
    "RWR5V+3DUmfvntjG4v8Wo2G2CpmDkTcfo7C6U2upyTy72cV5W37ovf3plu3obsZi+M8ZvlyVoScfFIhC0Kq8hKowXg07/DjG8gs=\n"
    "trusted comment: timestamp:1796708226\tfile:verze.txt\n"
    "EP/AScFFZJlSA0gKCGUfgGP50MIHcF32TFCoLJNSDQdza34cP5+60KBsJhQePihg8MmxAa5ibCswfYsD0/+9DA==\n",
};

bool SameSignedFields(const signature::SignatureFile& a, const signature::SignatureFile& b) {
    return a.Kind == b.Kind && a.Id == b.Id && a.Signature == b.Signature && a.TrustedComment == b.TrustedComment &&
           a.GlobalSignature == b.GlobalSignature;
}

// Line ends as the format writes them: CR LF becomes LF, a missing final
// LF is added.
std::string Normalized(std::string_view in) {
    std::string out;
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] == '\r' && i + 1 < in.size() && in[i + 1] == '\n')
            continue;
        out += in[i];
    }
    if (out.empty() || out.back() != '\n')
        out += '\n';
    return out;
}

const uint8_t* Bytes(std::string_view s) { return reinterpret_cast<const uint8_t*>(s.data()); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    signature::ParseError error = signature::ParseError::None;
    const auto parsed = signature::ParseSignatureFile(input, &error);
    FUZZ_CHECK((error == signature::ParseError::Oversized) == (size > signature::kMaxSignatureFileSize),
        "size %zu, error %d", size, static_cast<int>(error));
    if (parsed) {
        FUZZ_CHECK(error == signature::ParseError::None, "parsed with an error");
        const std::string text = signature::FormatSignatureFile(*parsed);
        FUZZ_CHECK(text == Normalized(input), "does not read back: %zu bytes in, %zu out", size, text.size());
        const auto again = signature::ParseSignatureFile(text);
        FUZZ_CHECK(again && SameSignedFields(*again, *parsed) && again->UntrustedComment == parsed->UntrustedComment,
            "the canonical text parses differently");
        (void)signature::TrustedFileName(parsed->TrustedComment);
    } else {
        FUZZ_CHECK(error != signature::ParseError::None, "refused without a reason");
    }

    signature::SignatureCheck whole(kKey, input, kName);
    const signature::Problem verdict = whole.FinishWhole(Bytes(kContent), kContent.size());
    if (verdict == signature::Problem::None) {
        bool genuine = false;
        for (std::string_view g : kGenuine)
            genuine |= parsed && SameSignedFields(*parsed, *signature::ParseSignatureFile(g));
        FUZZ_CHECK(genuine, "accepted a signature minisign did not make");
    }
    signature::SignatureCheck streamed(kKey, input, kName);
    if (streamed.Status() == signature::Problem::None) {
        const std::size_t cut = size % (kContent.size() + 1);
        streamed.Update(Bytes(kContent), cut);
        streamed.Update(Bytes(kContent) + cut, kContent.size() - cut);
        FUZZ_CHECK(streamed.Finish() == verdict, "streamed and whole verdicts differ");
    }
    signature::SignatureCheck otherName(kKey, input, "EVMAJ_SETUP.ZIP");
    FUZZ_CHECK(otherName.FinishWhole(Bytes(kContent), kContent.size()) != signature::Problem::None,
        "accepted for a file it does not name");
    return 0;
}
