// What the program remembers between runs of the signed files it accepted:
// per signing key and file name, the latest signing time (the trusted
// comment's timestamp). A server that offers a file signed earlier than
// one already accepted (an old version file that says "nothing newer", an
// old installer validly signed under the same name) is refused, so the
// publisher's signatures cannot be replayed to hold users back or take
// them back.
//
// The state is one small text file in the user's state directory
// (platform::files::UserStateDirectory), one line per key and file:
//   <key id, 16 hex digits> <timestamp, decimal> <file name>
// with "#" comment lines. It is replaced atomically. A file that cannot be
// read or parsed is an error naming it, never an empty state: an empty
// state would accept any replay.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace transfer {

inline constexpr const char* kSeenSignaturesFileName = "seen-signatures.txt";
// Far more than any number of files one publisher signs.
inline constexpr std::size_t kMaxSeenSignaturesFileSize = 1024 * 1024;

class SeenSignatures {
public:
    // The text of a state file; nullopt when a line is not one the program
    // writes (error says which line and why).
    static std::optional<SeenSignatures> Parse(std::string_view text, std::string& error);
    std::string Format() const;

    // The latest signing time accepted for the key and name, if any.
    std::optional<uint64_t> Latest(const std::string& keyIdHex, const std::string& name) const;
    // Keeps the later of the time known and timestamp.
    void Remember(const std::string& keyIdHex, const std::string& name, uint64_t timestamp);

private:
    std::map<std::pair<std::string, std::string>, uint64_t> latest_;
};

// The state file's full name; empty when the environment names no
// directory for it.
std::string SeenSignaturesPath();

// Reads the state file at path; a missing file is an empty state. False
// with error (naming the file) when it cannot be read or parsed.
bool LoadSeenSignatures(const std::string& path, SeenSignatures& out, std::string& error);
// Writes the state file at path atomically (a new file flushed, then
// renamed over the old one), creating its directory. False with error
// (naming the file) on failure; the old file is then unchanged.
bool SaveSeenSignatures(const std::string& path, const SeenSignatures& state, std::string& error);

// A signing time held against the state file at path.
enum class SeenVerdict {
    Accepted,      // not older than any accepted before (and kept, when asked)
    Older,         // signed before a file of that key and name already accepted
    StateUnusable, // the state file cannot be read, parsed or written
};
struct SeenCheck {
    SeenVerdict Verdict = SeenVerdict::StateUnusable;
    std::string Error; // for StateUnusable: the file and the reason
};
// remember: keep timestamp as the latest for the key and name (the file
// is written only when that changes it).
SeenCheck CheckSigningTime(
    const std::string& path, const std::string& keyIdHex, const std::string& name, uint64_t timestamp, bool remember);

// Hex text of a key id (lower case).
std::string HexOf(const uint8_t* bytes, std::size_t n);

} // namespace transfer
