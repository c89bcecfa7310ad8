// Windows-style INI files with the private-profile semantics: section and
// key names matched without regard to case, integers also as "0x" hex, text
// values read up to 2047 characters, other sections and keys left alone.
// POSIX implementation in PrivateProfile_posix.cpp; on Windows
// PrivateProfile_win.cpp calls the system's GetPrivateProfileStringA and
// WritePrivateProfileStringA. The two are held to the same cases by one
// shared test list (tests/windows/ProfileCases.h).
//
// Details of the POSIX files: lines end in LF or CR LF (a rewrite keeps the
// file's style; a new file gets LF); names and values are trimmed of blanks
// and a value loses one pair of enclosing quotes; lines starting with ';'
// are comments; the first section and key of a name count. A file is
// replaced through a temporary file and rename(), keeping its permissions
// (through a symbolic link, its target is replaced). Files over 16 MiB are
// not ours: reads give the default, writes fail.
#pragma once

#include <cstddef>
#include <string>

namespace platform::ini {

inline constexpr std::size_t kProfileValueMax = 2047;

// The value of key in section, or def when the file, section or key is
// missing. At most kProfileValueMax characters are returned.
std::string GetPrivateProfileString(
    const std::string& section, const std::string& key, const std::string& def, const std::string& fileName);

// The value read as an integer (decimal, or hex with "0x"); def when
// missing or not an integer.
int GetPrivateProfileInt(const std::string& section, const std::string& key, int def, const std::string& fileName);

// Writes key=value into section, creating the file and the section when
// needed. Returns false when the file cannot be created or written, or when
// a name or the value holds a line break (or the section ']', the key '='),
// which would change the file's structure; the file is then unchanged.
bool WritePrivateProfileString(
    const std::string& section, const std::string& key, const std::string& value, const std::string& fileName);

bool FileExists(const std::string& fileName);

} // namespace platform::ini
