// The files of the signed-download flow cases, signed with minisign as a
// publisher signs them. A signature names the file it was made for, so each
// file is signed under the name the server gives it (in a work folder) and
// then kept under its own name.
#include "SignedFlowServed.h"

#include "tests/support/Minisign.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <random>

namespace tests::flow::signedset {

namespace {

namespace ms = tests::support::minisign;
using tests::support::ReadFile;
using tests::support::WriteFile;

constexpr int kZipBytes = 90000;
constexpr std::size_t kOversizedPadding = 100000;
constexpr std::size_t kChangedByteAt = 5000;
constexpr const char* kOldTimeComment = "timestamp:1000000000\tfile:verze.txt\thashed";

std::string Cut(const std::string& s) { return s.substr(0, s.size() / 2); }

class Folder {
public:
    explicit Folder(const std::string& dir) : dir_(dir), work_(dir + "/served") {
        std::filesystem::create_directory(work_);
    }
    ~Folder() {
        std::error_code ec;
        std::filesystem::remove_all(work_, ec);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    void Keep(const char* name, const std::string& bytes) const { WriteFile(dir_ + "/" + name, bytes); }
    // Signs bytes as the served file servedName; the signature's bytes.
    std::string Sign(const ms::KeyPair& key, const char* servedName, const std::string& bytes, bool legacy = false,
        const std::string& comment = "") const {
        WriteFile(work_ + "/" + servedName, bytes);
        return ReadFile(ms::Sign(key, work_ + "/" + servedName, {legacy, comment, work_ + "/out.sig"}));
    }
    // The version file's line for bytes served as servedName.
    std::string HashLine(const char* servedName, const std::string& bytes) const {
        WriteFile(work_ + "/" + servedName, bytes);
        return ms::HashLine(work_, servedName);
    }
    const std::string& Dir() const { return dir_; }

private:
    std::string dir_;
    std::string work_;
};

} // namespace

void MakeSignedFlowFiles(const std::string& dir) {
    const Folder f(dir);
    const ms::KeyPair publisher = ms::MakeKeyPair(dir, "publisher");
    const ms::KeyPair stranger = ms::MakeKeyPair(dir, "stranger");
    f.Keep(kKeyLine, publisher.PublicKeyLine);

    std::mt19937 rng(11);
    std::string zip("PK\x03\x04", 4);
    for (int i = 0; i < kZipBytes; ++i)
        zip += static_cast<char>(rng());
    const std::string pdf = "%PDF-1.4\n" + std::string(20000, 'p') + "\n%%EOF\n";
    const std::string zipOther = zip + "an older build, validly signed";
    const std::string head = "5.30\r\nEvidence majetku\r\n";
    const std::string pdfLine = f.HashLine(kServedPdf, pdf);
    const std::string zipLine = f.HashLine(kServedZip, zip);
    const std::string verze = head + zipLine + pdfLine;
    const std::string unlisted = head + pdfLine;
    const std::string old = "5.10\r\n" + zipLine;

    f.Keep(kVerze, verze);
    f.Keep(kVerzeUnlisted, unlisted);
    f.Keep(kVerzeChanged, "5.90\r\nEvidence majetku\r\n");
    f.Keep(kVerzeOld, old);
    f.Keep(kZip, zip);
    f.Keep(kZipOther, zipOther);
    std::string changed = zip;
    changed[kChangedByteAt] = 'X';
    f.Keep(kZipChangedByte, changed);
    f.Keep(kPdf, pdf);
    f.Keep(kPdfChanged, pdf + " ");
    f.Keep(kGarbageSig, "untrusted comment: x\n!!!!\ntrusted comment: y\n????\n");

    const std::string verzeSig = f.Sign(publisher, kServedVerze, verze);
    f.Keep(kVerzeSig, verzeSig);
    f.Keep(kVerzeSigCut, Cut(verzeSig));
    f.Keep(kVerzeSigOversized, verzeSig + std::string(kOversizedPadding, '#'));
    f.Keep(kVerzeUnlistedSig, f.Sign(publisher, kServedVerze, unlisted));
    f.Keep(kVerzeOldSig, f.Sign(publisher, kServedVerze, old, false, kOldTimeComment));
    f.Keep(kVerzeByStranger, f.Sign(stranger, kServedVerze, verze));
    const std::string zipSig = f.Sign(publisher, kServedZip, zip);
    f.Keep(kZipSig, zipSig);
    f.Keep(kZipSigCut, Cut(zipSig));
    f.Keep(kZipSigOversized, zipSig + std::string(kOversizedPadding, '#'));
    f.Keep(kZipLegacySig, f.Sign(publisher, kServedZip, zip, true));
    f.Keep(kZipOtherSig, f.Sign(publisher, kServedZip, zipOther));
    f.Keep(kZipByStranger, f.Sign(stranger, kServedZip, zip));
    f.Keep(kPdfSig, f.Sign(publisher, kServedPdf, pdf));
}

} // namespace tests::flow::signedset
