// Windows-style INI files with the private-profile semantics: section and
// key names matched without regard to case, integers also as "0x" hex, text
// values read up to 2047 characters, other sections and keys left alone.
// POSIX implementation in PrivateProfile_posix.cpp; a Windows build would
// call GetPrivateProfileStringA / WritePrivateProfileStringA instead.
#pragma once

#include <string>

namespace platform {

inline constexpr std::size_t kProfileValueMax = 2047;

// The value of key in section, or def when the file, section or key is
// missing. At most kProfileValueMax characters are returned.
std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& def, const std::string& fileName);

// The value read as an integer (decimal, or hex with "0x"); def when
// missing or not an integer.
int GetPrivateProfileInt(const std::string& section, const std::string& key, int def,
                         const std::string& fileName);

// Writes key=value into section, creating the file and the section when
// needed. Returns false when the file cannot be created or written; the
// file is then unchanged.
bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& fileName);

bool FileExists(const std::string& fileName);

} // namespace platform
