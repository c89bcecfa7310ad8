// What the transfer window says when a fetched file is not accepted
// because of its signature (UTF-8, Czech): the problem with the file's
// name, then what that means for the run.
#pragma once

#include "signature/SignatureCheck.h"

#include <string>

namespace transfer {

// Which file failed, which decides what the user is told happens next.
enum class SignedFileRole {
    VersionFile,      // the version check's version-information file
    DokumVersionFile, // the same file, fetched by the documentation download
    DownloadedFile,   // the new version or the documentation: not saved
};

// "<the problem>" CR LF "<what it means>"; empty for Problem::None.
std::string SignatureFailureMessage(signature::Problem problem, const std::string& fileName, SignedFileRole role);

// The state of seen signatures cannot be read or written; error names the
// file and the reason.
std::string SeenStateFailureMessage(const std::string& error, SignedFileRole role);

// A signed version file larger than any such file is.
std::string VersionFileTooLargeMessage(const std::string& fileName, SignedFileRole role);

// Status line text once a downloaded file's signature was found good.
extern const char* const kSignatureVerifiedStatus; // "PODPIS SOUBORU OVĚŘEN"

} // namespace transfer
