// The files the signature tests check, made by the real minisign as a
// publisher makes them: two key pairs (the publisher's and a stranger's),
// the new-version file and the documentation, and their signatures of each
// kind. The Linux tests make them in their own folder; the Windows tests
// get them from signed_set_for_wine, which makes them on the Linux side.
#pragma once

#include <string>

namespace tests::signature {

inline constexpr const char* kPublisherKey = "publisher";            // .pub, .key
inline constexpr const char* kStrangerKey = "stranger";              // .pub, .key
inline constexpr const char* kContentName = "EVMAJ_SETUP.ZIP";       // signed, <name>.minisig
inline constexpr const char* kDocumentationName = "DOKUMENTACE.PDF"; // signed, <name>.minisig
inline constexpr const char* kDocumentationContent = "%PDF-1.4 documentation";
inline constexpr const char* kLegacySignature = "legacy.minisig";     // the content, legacy kind
inline constexpr const char* kStrangerSignature = "stranger.minisig"; // the content, the stranger's key
// The content with trusted comments of the publisher's own choosing.
inline constexpr const char* kNoFileNameSignature = "no-file-name.minisig";  // "release 5.30"
inline constexpr const char* kTwoFileNamesSignature = "two-names.minisig";   // two file: fields
inline constexpr const char* kOwnCommentSignature = "own-comment.minisig";   // "5.30", the name and a time
inline constexpr const char* kNoTimestampSignature = "no-timestamp.minisig"; // the name alone
// Where signed_set_for_wine hands the folder over (a Windows path).
inline constexpr const char* kSetVariable = "HALVORNE_TEST_SIGNED_SET";

#ifndef _WIN32
// Makes the whole set in dir (which must exist); throws when minisign fails.
void MakeSignedSet(const std::string& dir);
#endif

} // namespace tests::signature
