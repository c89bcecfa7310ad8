// The signature check against files signed by minisign, as a publisher
// signs them: the default kind accepted untouched, the legacy kind and
// every kind of damage refused. The same cases run in the Linux build and
// under wine, over one set of files made by minisign on the Linux side
// (SignedSet.h).
#include "SignedSet.h"

#include "signature/SignatureCheck.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>

#ifndef _WIN32
#include "tests/support/TempDir.h"
#endif

using namespace signature;
namespace signed_set = tests::signature;

namespace {

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// The second line of a minisign key file: the key as the program carries it.
std::string KeyLine(const std::string& keyFile) {
    const std::size_t start = keyFile.find('\n') + 1;
    return keyFile.substr(start, keyFile.find('\n', start) - start);
}

// One key pair of the publisher, one of someone else, and a file of each
// kind signed by both.
class Signed : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
#ifdef _WIN32
        const char* handed = std::getenv(signed_set::kSetVariable);
        ASSERT_NE(handed, nullptr) << "run under signed_set_for_wine";
        dir_ = handed;
#else
        tmp_ = new tests::support::TempDir();
        dir_ = tmp_->path().string();
        signed_set::MakeSignedSet(dir_);
#endif
        publisherKey_ = KeyLine(Read(std::string(signed_set::kPublisherKey) + ".pub"));
        publisherSecretKey_ = KeyLine(Read(std::string(signed_set::kPublisherKey) + ".key"));
        strangerKey_ = KeyLine(Read(std::string(signed_set::kStrangerKey) + ".pub"));
        content_ = Read(signed_set::kContentName);
        prehashed_ = Read(std::string(signed_set::kContentName) + ".minisig");
        legacy_ = Read(signed_set::kLegacySignature);
        byStranger_ = Read(signed_set::kStrangerSignature);
        ofDocumentation_ = Read(std::string(signed_set::kDocumentationName) + ".minisig");
    }
    static void TearDownTestSuite() {
#ifndef _WIN32
        delete tmp_;
        tmp_ = nullptr;
#endif
    }
    // A file of the set, whole.
    static std::string Read(const std::string& name) {
        std::ifstream in(dir_ + "/" + name, std::ios::binary);
        if (!in)
            throw std::runtime_error("missing from the signed set: " + name);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    static Problem Check(
        const std::string& sig, const std::string& content, const std::string& name = "EVMAJ_SETUP.ZIP") {
        return VerifyFile(publisherKey_, sig, name, Bytes(content), content.size());
    }

#ifndef _WIN32
    static tests::support::TempDir* tmp_;
#endif
    static std::string dir_, publisherKey_, publisherSecretKey_, strangerKey_;
    static std::string content_, prehashed_, legacy_, byStranger_, ofDocumentation_;
};

#ifndef _WIN32
tests::support::TempDir* Signed::tmp_ = nullptr;
#endif
std::string Signed::dir_, Signed::publisherKey_, Signed::publisherSecretKey_, Signed::strangerKey_;
std::string Signed::content_, Signed::prehashed_, Signed::legacy_, Signed::byStranger_, Signed::ofDocumentation_;

TEST_F(Signed, TheDefaultKindIsAcceptedWholeAndInAnySplit) {
    EXPECT_EQ(Check(prehashed_, content_), Problem::None);
    // The prehashed kind hashed piece by piece, as bytes arrive.
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        SignatureCheck check(publisherKey_, prehashed_, "EVMAJ_SETUP.ZIP");
        std::size_t at = 0;
        while (at < content_.size()) {
            std::size_t n = std::min<std::size_t>(content_.size() - at, rng() % 70000);
            check.Update(Bytes(content_) + at, n);
            at += n;
        }
        EXPECT_EQ(check.Finish(), Problem::None) << "round " << round;
    }
}

TEST_F(Signed, TheLegacyKindIsRefusedAndSoIsTheKindSwap) {
    // A genuine legacy signature: the publisher is told to sign the default way.
    EXPECT_EQ(Check(legacy_, content_), Problem::LegacyKind);
    // The swap: "ED" made "Ed", and the 64 bytes of the genuine file's
    // hash served as the file. The untouched signature holds over them.
    SignatureCheck genuine(publisherKey_, prehashed_, "EVMAJ_SETUP.ZIP");
    ASSERT_EQ(genuine.FinishWhole(Bytes(content_), content_.size()), Problem::None);
    const std::string hash(reinterpret_cast<const char*>(genuine.Digest().data()), genuine.Digest().size());
    auto swapped = ParseSignatureFile(prehashed_);
    ASSERT_TRUE(swapped);
    swapped->Kind = SignatureKind::Legacy;
    EXPECT_EQ(Check(FormatSignatureFile(*swapped), hash), Problem::LegacyKind);
    EXPECT_EQ(Check(FormatSignatureFile(*swapped), content_), Problem::LegacyKind);
}

TEST_F(Signed, TheSigningTimeIsReadFromTheVerifiedComment) {
    SignatureCheck check(publisherKey_, prehashed_, "EVMAJ_SETUP.ZIP");
    ASSERT_EQ(check.Status(), Problem::None);
    const auto stamp = TrustedTimestamp(ParseSignatureFile(prehashed_)->TrustedComment);
    ASSERT_TRUE(stamp);
    EXPECT_EQ(check.Timestamp(), *stamp);
    EXPECT_GT(*stamp, 1700000000u); // signed by this test, now
    EXPECT_EQ(check.Id(), ParsePublicKey(publisherKey_)->Id);
    // A comment without a time cannot be ordered against an earlier one.
    EXPECT_EQ(Check(Read(signed_set::kNoTimestampSignature), content_), Problem::NoTimestamp);
}

TEST(TrustedTimestamp, OnlyOneDecimalFieldCounts) {
    struct Case {
        const char* comment;
        std::optional<uint64_t> expected;
    } cases[] = {{"timestamp:1700000000\tfile:a\thashed", 1700000000}, {"file:a\ttimestamp:0", 0},
        {"timestamp:", std::nullopt}, {"timestamp:12a", std::nullopt}, {"timestamp:-5", std::nullopt},
        {"timestamp: 5", std::nullopt}, {"timestamp:1\ttimestamp:2", std::nullopt},
        {"timestamp:9999999999999999999", 9999999999999999999u}, {"timestamp:10000000000000000000", std::nullopt},
        {"xtimestamp:5", std::nullopt}, {"", std::nullopt}};
    for (const auto& c : cases)
        EXPECT_EQ(TrustedTimestamp(c.comment), c.expected) << c.comment;
}

TEST_F(Signed, AnyChangedByteOfTheFileIsAMismatch) {
    std::mt19937 rng(99);
    for (int i = 0; i < 60; ++i) {
        std::string tampered = content_;
        const std::size_t at = rng() % tampered.size();
        tampered[at] = static_cast<char>(tampered[at] ^ (1 + rng() % 255));
        EXPECT_EQ(Check(prehashed_, tampered), Problem::Mismatch) << "byte " << at;
    }
    // A byte more or less, and nothing at all.
    EXPECT_EQ(Check(prehashed_, content_ + "x"), Problem::Mismatch);
    EXPECT_EQ(Check(prehashed_, content_.substr(0, content_.size() - 1)), Problem::Mismatch);
    EXPECT_EQ(Check(prehashed_, ""), Problem::Mismatch);
    // Streamed: a missing piece is caught as well.
    SignatureCheck check(publisherKey_, prehashed_, "EVMAJ_SETUP.ZIP");
    check.Update(Bytes(content_), 1000);
    check.Update(Bytes(content_) + 2000, content_.size() - 2000);
    EXPECT_EQ(check.Finish(), Problem::Mismatch);
}

TEST_F(Signed, AnotherKeyIsRefusedEvenWithOurKeyIdPutIn) {
    EXPECT_EQ(Check(byStranger_, content_), Problem::UnknownKey);
    // The key id is not signed: swapping ours in only fails further on.
    auto forged = ParseSignatureFile(byStranger_);
    ASSERT_TRUE(forged);
    forged->Id = ParsePublicKey(publisherKey_)->Id;
    EXPECT_EQ(Check(FormatSignatureFile(*forged), content_), Problem::CommentTampered);
    // Checked with the stranger's key the stranger's signature is fine:
    // the refusal above is about the key, not the file.
    EXPECT_EQ(
        VerifyFile(strangerKey_, byStranger_, "EVMAJ_SETUP.ZIP", Bytes(content_), content_.size()), Problem::None);
}

TEST_F(Signed, ASignatureOfAnotherFileDoesNotPass) {
    // Signed under another name: the trusted comment gives it away, even
    // when the bytes are the other file's own.
    EXPECT_EQ(Check(ofDocumentation_, "%PDF-1.4 documentation"), Problem::OtherFile);
    EXPECT_EQ(Check(ofDocumentation_, "%PDF-1.4 documentation", "DOKUMENTACE.PDF"), Problem::None);
    EXPECT_EQ(Check(prehashed_, content_, "DOKUMENTACE.PDF"), Problem::OtherFile);
    EXPECT_EQ(Check(prehashed_, content_, "evmaj_setup.zip"), Problem::OtherFile);
    // A trusted comment without a file name, or with two, names no file.
    EXPECT_EQ(Check(Read(signed_set::kNoFileNameSignature), content_), Problem::OtherFile);
    EXPECT_EQ(Check(Read(signed_set::kTwoFileNamesSignature), content_), Problem::OtherFile);
    EXPECT_EQ(Check(Read(signed_set::kOwnCommentSignature), content_), Problem::None);
}

TEST_F(Signed, ATrustedCommentChangedAfterSigningIsRefused) {
    auto sig = ParseSignatureFile(prehashed_);
    ASSERT_TRUE(sig);
    sig->TrustedComment += "\tmore";
    EXPECT_EQ(Check(FormatSignatureFile(*sig), content_), Problem::CommentTampered);
    // The untrusted comment is not signed, so changing it changes nothing.
    sig = ParseSignatureFile(prehashed_);
    sig->UntrustedComment = "anything at all";
    EXPECT_EQ(Check(FormatSignatureFile(*sig), content_), Problem::None);
}

TEST_F(Signed, TruncatedGarbageAndOversizedSignatureFilesAreRefused) {
    for (const std::string* sig : {&prehashed_, &legacy_}) {
        // Cut anywhere: only the final line end may go.
        for (std::size_t n = 0; n < sig->size(); ++n) {
            const Problem p = Check(sig->substr(0, n), content_);
            if (n == sig->size() - 1) {
                EXPECT_EQ(p, sig == &legacy_ ? Problem::LegacyKind : Problem::None);
            } else {
                EXPECT_EQ(p, Problem::Malformed) << "cut to " << n << " bytes";
            }
        }
    }
    std::mt19937 rng(5);
    for (int i = 0; i < 200; ++i) {
        std::string garbage(rng() % 400, '\0');
        for (auto& c : garbage)
            c = static_cast<char>(rng());
        EXPECT_EQ(Check(garbage, content_), Problem::Malformed);
    }
    // An HTML error page served in place of the signature.
    EXPECT_EQ(Check("<html><body>404 Not Found</body></html>\n", content_), Problem::Malformed);
    // Far larger than any signature: refused before it is even looked at.
    EXPECT_EQ(Check(prehashed_ + std::string(kMaxSignatureFileSize, '\n'), content_), Problem::Oversized);
    EXPECT_EQ(Check(std::string(50 * 1024 * 1024, 'A'), content_), Problem::Oversized);
    // A fifth line, an empty line or a blank in the base64 make no signature.
    EXPECT_EQ(Check(prehashed_ + "\n", content_), Problem::Malformed);
    EXPECT_EQ(Check(prehashed_ + "extra\n", content_), Problem::Malformed);
    std::string blank = prehashed_;
    blank.insert(prehashed_.find('\n') + 5, " ");
    EXPECT_EQ(Check(blank, content_), Problem::Malformed);
}

TEST_F(Signed, WindowsLineEndsAreAccepted) {
    std::string crlf;
    for (char c : prehashed_) {
        if (c == '\n')
            crlf += '\r';
        crlf += c;
    }
    EXPECT_EQ(Check(crlf, content_), Problem::None);
    EXPECT_EQ(FormatSignatureFile(*ParseSignatureFile(crlf)), prehashed_);
}

TEST_F(Signed, MinisignFilesReadBackExactly) {
    for (const std::string* sig : {&prehashed_, &legacy_, &byStranger_, &ofDocumentation_}) {
        const auto parsed = ParseSignatureFile(*sig);
        ASSERT_TRUE(parsed);
        EXPECT_EQ(FormatSignatureFile(*parsed), *sig);
    }
    // The legacy kind still reads, so that it can be refused by name.
    EXPECT_EQ(ParseSignatureFile(prehashed_)->Kind, SignatureKind::Prehashed);
    EXPECT_EQ(ParseSignatureFile(legacy_)->Kind, SignatureKind::Legacy);
    EXPECT_EQ(*TrustedFileName(ParseSignatureFile(prehashed_)->TrustedComment), "EVMAJ_SETUP.ZIP");
}

TEST_F(Signed, OnlyAWellFormedKeyLineIsAKey) {
    const std::string good = publisherKey_;
    EXPECT_TRUE(ParsePublicKey(good));
    EXPECT_TRUE(ParsePublicKey("  " + good + "\r\n"));
    // Every one of these makes the program refuse every file.
    const std::vector<std::string> bad = {
        "", good.substr(0, good.size() - 1), good + "A", good.substr(0, 10) + " " + good.substr(10),
        "RU" + good.substr(2), // the tag of a signature, not of a key
        publisherSecretKey_,   // the secret key's line, pasted by mistake
    };
    for (const auto& line : bad) {
        EXPECT_FALSE(ParsePublicKey(line)) << line;
        EXPECT_EQ(VerifyFile(line, prehashed_, "EVMAJ_SETUP.ZIP", Bytes(content_), content_.size()), Problem::BadKey)
            << line;
    }
}

TEST_F(Signed, Base64WithUnusedBitsSetIsNotASignature) {
    // The global signature's last character carries four unused bits:
    // setting one decodes to the same bytes, but minisign never writes it.
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string loose = prehashed_;
    const std::size_t at = loose.rfind("==") - 1;
    loose[at] = alphabet[alphabet.find(loose[at]) ^ 1];
    EXPECT_EQ(Check(loose, content_), Problem::Malformed);
    // Bytes outside the alphabet, which libsodium's decoder lets through
    // as letters (found by fuzzing): none may stand in a signature line.
    const std::size_t line2 = prehashed_.find('\n') + 1;
    for (int b = 0; b < 256; ++b) {
        if (alphabet.find(static_cast<char>(b)) != std::string::npos)
            continue;
        std::string odd = prehashed_;
        odd[line2 + 40] = static_cast<char>(b);
        EXPECT_EQ(Check(odd, content_), Problem::Malformed) << "byte " << b;
    }
}

TEST_F(Signed, AVerdictIsGivenOnce) {
    SignatureCheck check(publisherKey_, prehashed_, "EVMAJ_SETUP.ZIP");
    check.Update(Bytes(content_), content_.size());
    EXPECT_EQ(check.Finish(), Problem::None);
    // A second call may not reuse the spent hash and say yes again.
    EXPECT_NE(check.Finish(), Problem::None);
    SignatureCheck legacy(publisherKey_, legacy_, "EVMAJ_SETUP.ZIP");
    EXPECT_EQ(legacy.Finish(), Problem::LegacyKind);
}

} // namespace
