#include "transfer/core/VersionManifest.h"

namespace transfer {

namespace {

constexpr std::size_t kHexDigits = kFileHashSize * 2;

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// How many hexadecimal digits the line begins with.
std::size_t LeadingHexDigits(std::string_view line) {
    std::size_t n = 0;
    while (n < line.size() && HexValue(line[n]) >= 0)
        ++n;
    return n;
}

enum class LineKind { Prose, Hash, Broken };

LineKind ReadHashLine(std::string_view line, FileHash& hash, std::string& name) {
    const std::size_t digits = LeadingHexDigits(line);
    // Text for people may begin with a few hex letters ("Abc...", "5.30");
    // a run as long as a hash is meant as one.
    if (digits < kHexDigits / 2)
        return LineKind::Prose;
    if (digits != kHexDigits || line.size() < kHexDigits + 3)
        return LineKind::Broken;
    const std::string_view separator = line.substr(kHexDigits, 2);
    if (separator != "  " && separator != " *")
        return LineKind::Broken;
    name.assign(line.substr(kHexDigits + 2));
    if (name.find('\0') != std::string::npos)
        return LineKind::Broken;
    for (std::size_t i = 0; i < kFileHashSize; ++i)
        hash[i] = static_cast<uint8_t>(HexValue(line[2 * i]) * 16 + HexValue(line[2 * i + 1]));
    return LineKind::Hash;
}

} // namespace

const FileHash* VersionManifest::Find(const std::string& name) const {
    const auto it = Files.find(name);
    return it == Files.end() ? nullptr : &it->second;
}

std::optional<VersionManifest> ParseVersionManifest(std::string_view bytes) {
    VersionManifest manifest;
    std::size_t pos = bytes.find('\n');
    if (pos == std::string_view::npos)
        return manifest; // the version alone
    ++pos;
    while (pos < bytes.size()) {
        std::size_t lf = bytes.find('\n', pos);
        const std::size_t end = lf == std::string_view::npos ? bytes.size() : lf;
        std::string_view line = bytes.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        pos = lf == std::string_view::npos ? bytes.size() : lf + 1;

        FileHash hash{};
        std::string name;
        switch (ReadHashLine(line, hash, name)) {
        case LineKind::Prose: continue;
        case LineKind::Broken: return std::nullopt;
        case LineKind::Hash: break;
        }
        const auto [it, added] = manifest.Files.emplace(name, hash);
        if (!added && it->second != hash)
            return std::nullopt;
    }
    return manifest;
}

std::string FormatHashLine(const FileHash& hash, const std::string& name) {
    static const char kDigits[] = "0123456789abcdef";
    std::string line;
    line.reserve(kHexDigits + 3 + name.size());
    for (uint8_t b : hash) {
        line += kDigits[b >> 4];
        line += kDigits[b & 0x0f];
    }
    return line + "  " + name + "\n";
}

} // namespace transfer
