// The files a signed version-information file vouches for. After its first
// line (the version, read from the first five bytes as ever), the file
// lists the files the server offers as b2sum writes them and `b2sum -c`
// reads them: 128 hexadecimal digits of the file's BLAKE2b-512 hash, two
// blanks (or a blank and "*"), the file name. Other lines are text for
// people and are ignored. The file is parsed only after its signature held,
// so a hash line is as trustworthy as the version it comes with.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace transfer {

// A signed version file is refused beyond this size: it is a handful of
// lines, and nothing in it is trusted before the whole has been checked.
inline constexpr std::size_t kMaxSignedVersionFileSize = 64 * 1024;

inline constexpr std::size_t kFileHashSize = 64; // BLAKE2b-512
using FileHash = std::array<uint8_t, kFileHashSize>;

struct VersionManifest {
    std::map<std::string, FileHash> Files; // by file name
    const FileHash* Find(const std::string& name) const;
};

// nullopt when a line that begins like a hash line is not one (a short or
// long hash, no name, a wrong separator) or a name is listed twice with
// different hashes: such a file was not written by b2sum, and a guess at
// what it meant could bind the wrong file.
std::optional<VersionManifest> ParseVersionManifest(std::string_view bytes);

// The line b2sum writes for a file (lower-case hex, two blanks, LF).
std::string FormatHashLine(const FileHash& hash, const std::string& name);

} // namespace transfer
