// What the signed-download flow cases are served: the signed files and
// signatures (made with minisign on the Linux side, SignedFlowFiles.cpp)
// under fixed names in one folder, and for each case a server directory
// "/<case>/" whose verze.txt, EVMAJ_SETUP.ZIP, DOKUMENTACE.PDF and their
// .minisig are some of those files. signed_flow_peers serves them on
// loopback; SignedFlowCasesTest.cpp runs the flow against them, on Linux
// and under wine.
#pragma once

#include <string>
#include <vector>

namespace tests::flow::signedset {

// The environment the cases run in: the folder of the files (a Windows
// path under wine) and the server's address ("http://127.0.0.1:<port>/").
inline constexpr const char* kFilesVariable = "HALVORNE_SIGNED_FLOW_FILES";
inline constexpr const char* kServerVariable = "HALVORNE_SIGNED_FLOW_SERVER";

// The files of the folder. The version file lists the hashes of the new
// version and of the documentation.
inline constexpr const char* kKeyLine = "publisher.key-line"; // the key the program carries
inline constexpr const char* kVerze = "verze.txt";
inline constexpr const char* kVerzeSig = "verze.sig";
inline constexpr const char* kVerzeUnlisted = "verze-unlisted.txt"; // without the new version's line
inline constexpr const char* kVerzeUnlistedSig = "verze-unlisted.sig";
inline constexpr const char* kVerzeChanged = "verze-changed.txt";
inline constexpr const char* kVerzeOld = "verze-old.txt"; // 5.10, signed long ago
inline constexpr const char* kVerzeOldSig = "verze-old.sig";
inline constexpr const char* kVerzeByStranger = "verze-stranger.sig";
inline constexpr const char* kVerzeSigCut = "verze-cut.sig";
inline constexpr const char* kVerzeSigOversized = "verze-oversized.sig";
inline constexpr const char* kZip = "setup.zip";
inline constexpr const char* kZipSig = "setup.sig";
inline constexpr const char* kZipLegacySig = "setup-legacy.sig";
inline constexpr const char* kZipOther = "setup-other.zip"; // validly signed, not the listed one
inline constexpr const char* kZipOtherSig = "setup-other.sig";
inline constexpr const char* kZipChangedByte = "setup-changed.zip";
inline constexpr const char* kZipByStranger = "setup-stranger.sig";
inline constexpr const char* kZipSigCut = "setup-cut.sig";
inline constexpr const char* kZipSigOversized = "setup-oversized.sig";
inline constexpr const char* kPdf = "dokumentace.pdf";
inline constexpr const char* kPdfSig = "dokumentace.sig";
inline constexpr const char* kPdfChanged = "dokumentace-changed.pdf";
inline constexpr const char* kGarbageSig = "garbage.sig";

// One server directory: the file served under each name; nullptr: 404.
struct ServedDir {
    std::string Name;
    const char* Verze = nullptr;
    const char* VerzeSig = nullptr;
    const char* Zip = nullptr;
    const char* ZipSig = nullptr;
    const char* Pdf = nullptr;
    const char* PdfSig = nullptr;
};

inline constexpr const char* kServedVerze = "verze.txt";
inline constexpr const char* kServedZip = "EVMAJ_SETUP.ZIP";
inline constexpr const char* kServedPdf = "DOKUMENTACE.PDF";
inline constexpr const char* kSigSuffix = ".minisig";

// Every server directory the cases use. "v-*": the version check (a version
// file and the new version); "d-*": the documentation download; "replay-*":
// the remembered signing time; "connection": no signature at all.
inline std::vector<ServedDir> ServedDirs() {
    const ServedDir both{"", kVerze, kVerzeSig, kZip, kZipSig, kPdf, kPdfSig};
    auto with = [&both](std::string name, auto change) {
        ServedDir d = both;
        d.Name = std::move(name);
        change(d);
        return d;
    };
    return {
        with("v-both-signed", [](ServedDir&) {}),
        with("v-legacy-kind", [](ServedDir& d) { d.ZipSig = kZipLegacySig; }),
        with("v-not-listed",
            [](ServedDir& d) {
                d.Verze = kVerzeUnlisted;
                d.VerzeSig = kVerzeUnlistedSig;
            }),
        with("v-hash-mismatch",
            [](ServedDir& d) {
                d.Zip = kZipOther;
                d.ZipSig = kZipOtherSig;
            }),
        with("v-version-unsigned", [](ServedDir& d) { d.VerzeSig = nullptr; }),
        with("v-version-changed", [](ServedDir& d) { d.Verze = kVerzeChanged; }),
        with("v-version-by-stranger", [](ServedDir& d) { d.VerzeSig = kVerzeByStranger; }),
        with("v-version-other-file", [](ServedDir& d) { d.VerzeSig = kZipSig; }),
        with("v-version-sig-cut", [](ServedDir& d) { d.VerzeSig = kVerzeSigCut; }),
        with("v-version-sig-garbage", [](ServedDir& d) { d.VerzeSig = kGarbageSig; }),
        with("v-version-sig-oversized", [](ServedDir& d) { d.VerzeSig = kVerzeSigOversized; }),
        with("v-new-unsigned", [](ServedDir& d) { d.ZipSig = nullptr; }),
        with("v-new-changed-byte", [](ServedDir& d) { d.Zip = kZipChangedByte; }),
        with("v-new-by-stranger", [](ServedDir& d) { d.ZipSig = kZipByStranger; }),
        with("v-new-other-file", [](ServedDir& d) { d.ZipSig = kPdfSig; }),
        with("v-new-sig-cut", [](ServedDir& d) { d.ZipSig = kZipSigCut; }),
        with("v-new-sig-garbage", [](ServedDir& d) { d.ZipSig = kGarbageSig; }),
        with("v-new-sig-oversized", [](ServedDir& d) { d.ZipSig = kZipSigOversized; }),
        with("d-both-signed", [](ServedDir&) {}),
        with("d-version-unsigned", [](ServedDir& d) { d.VerzeSig = nullptr; }),
        with("d-changed", [](ServedDir& d) { d.Pdf = kPdfChanged; }),
        with("d-other-file", [](ServedDir& d) { d.PdfSig = kZipSig; }),
        with("d-unsigned", [](ServedDir& d) { d.PdfSig = nullptr; }),
        with("replay-old",
            [](ServedDir& d) {
                d.Verze = kVerzeOld;
                d.VerzeSig = kVerzeOldSig;
            }),
        with("replay-new", [](ServedDir&) {}),
        with("connection", [](ServedDir& d) { d.VerzeSig = nullptr; }),
    };
}

// Makes the files of the folder dir with minisign (Linux only); throws when
// that fails.
void MakeSignedFlowFiles(const std::string& dir);

} // namespace tests::flow::signedset
