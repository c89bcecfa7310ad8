// The launch marker and the stored texts of one Halvorne program. They are
// defined in a small library of their own (startup/stored/) that only the
// program links, so one build can make several programs with different
// texts; see halvorne_add_program in cmake/HalvorneConfig.cmake. The
// texts come back scrambled; Form_Master::UnscrambleText turns them back.
#pragma once

#include <string_view>

namespace startup::stored {

char LaunchMarkerFirst();
char LaunchMarkerSecond();
char LaunchMarkerThird();

// Scrambled bytes; each text is at most 255 characters long.
std::string_view VersionDirAddress(); // also the documentation directory
std::string_view VersionFileName();
std::string_view NewVersionFileName();
std::string_view DokumFileName();
std::string_view ChangesHtmlAddress();
std::string_view ChangesPdfAddress();
std::string_view CaptionNotice();
// The publisher's minisign public key line; empty when files are not signed.
std::string_view UpdatePublicKey();

} // namespace startup::stored
