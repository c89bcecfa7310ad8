#include "transfer/core/SeenSignatures.h"

#include "platform/files/FileOps.h"

namespace transfer {

namespace pf = platform::files;

namespace {

constexpr std::size_t kKeyIdHexDigits = 16;
constexpr std::size_t kMaxTimestampDigits = 19;
constexpr const char* kHeader = "# Halvorne: signing times of accepted files (delete this file to forget them)\n";

bool IsLowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

bool ParseLine(std::string_view line, std::string& key, uint64_t& stamp, std::string& name) {
    if (line.size() < kKeyIdHexDigits + 1 || line[kKeyIdHexDigits] != ' ')
        return false;
    for (std::size_t i = 0; i < kKeyIdHexDigits; ++i)
        if (!IsLowerHex(line[i]))
            return false;
    key.assign(line.substr(0, kKeyIdHexDigits));
    std::size_t pos = kKeyIdHexDigits + 1;
    const std::size_t digitsStart = pos;
    stamp = 0;
    while (pos < line.size() && line[pos] >= '0' && line[pos] <= '9') {
        if (pos - digitsStart >= kMaxTimestampDigits)
            return false;
        stamp = stamp * 10 + static_cast<uint64_t>(line[pos] - '0');
        ++pos;
    }
    if (pos == digitsStart || pos >= line.size() || line[pos] != ' ')
        return false;
    name.assign(line.substr(pos + 1));
    return !name.empty() && name.find('\0') == std::string::npos && name.find('\r') == std::string::npos;
}

} // namespace

std::optional<SeenSignatures> SeenSignatures::Parse(std::string_view text, std::string& error) {
    SeenSignatures state;
    std::size_t pos = 0;
    int lineNumber = 0;
    while (pos < text.size()) {
        const std::size_t lf = text.find('\n', pos);
        if (lf == std::string_view::npos) {
            error = "the last line is cut off";
            return std::nullopt;
        }
        const std::string_view line = text.substr(pos, lf - pos);
        pos = lf + 1;
        ++lineNumber;
        if (line.empty() || line.front() == '#')
            continue;
        std::string key, name;
        uint64_t stamp = 0;
        if (!ParseLine(line, key, stamp, name)) {
            error = "line " + std::to_string(lineNumber) + " is not a key id, a timestamp and a file name";
            return std::nullopt;
        }
        state.Remember(key, name, stamp);
    }
    return state;
}

std::string SeenSignatures::Format() const {
    std::string text = kHeader;
    for (const auto& [keyAndName, stamp] : latest_)
        text += keyAndName.first + " " + std::to_string(stamp) + " " + keyAndName.second + "\n";
    return text;
}

std::optional<uint64_t> SeenSignatures::Latest(const std::string& keyIdHex, const std::string& name) const {
    const auto it = latest_.find({keyIdHex, name});
    if (it == latest_.end())
        return std::nullopt;
    return it->second;
}

void SeenSignatures::Remember(const std::string& keyIdHex, const std::string& name, uint64_t timestamp) {
    uint64_t& known = latest_[{keyIdHex, name}];
    if (timestamp > known)
        known = timestamp;
}

std::string SeenSignaturesPath() {
    const std::string dir = pf::UserStateDirectory();
    return dir.empty() ? dir : dir + kSeenSignaturesFileName;
}

bool LoadSeenSignatures(const std::string& path, SeenSignatures& out, std::string& error) {
    if (path.empty()) {
        error = "no directory for the program's state (HOME, XDG_CONFIG_HOME or APPDATA)";
        return false;
    }
    if (!pf::FileExists(path)) {
        if (pf::DirectoryExists(path)) {
            error = path + ": is a directory";
            return false;
        }
        out = SeenSignatures();
        return true;
    }
    std::string text, why;
    if (!pf::ReadSmallFile(path, kMaxSeenSignaturesFileSize, text, why)) {
        error = path + ": " + why;
        return false;
    }
    auto parsed = SeenSignatures::Parse(text, why);
    if (!parsed) {
        error = path + ": " + why;
        return false;
    }
    out = std::move(*parsed);
    return true;
}

bool SaveSeenSignatures(const std::string& path, const SeenSignatures& state, std::string& error) {
    if (path.empty()) {
        error = "no directory for the program's state (HOME, XDG_CONFIG_HOME or APPDATA)";
        return false;
    }
    const std::string dir = pf::DirectoryOf(path);
    std::string why;
    if (!pf::CreateDirectories(dir, why)) {
        error = dir + ": " + why;
        return false;
    }
    const std::string text = state.Format();
    std::string temp;
    if (!pf::WriteNewTempFile(dir, reinterpret_cast<const uint8_t*>(text.data()), text.size(), temp, why)) {
        error = path + ": " + why;
        return false;
    }
    if (!pf::ReplaceFile(temp, path, why)) {
        pf::RemoveFile(temp);
        error = path + ": " + why;
        return false;
    }
    return true;
}

SeenCheck CheckSigningTime(
    const std::string& path, const std::string& keyIdHex, const std::string& name, uint64_t timestamp, bool remember) {
    SeenCheck result;
    SeenSignatures state;
    if (!LoadSeenSignatures(path, state, result.Error))
        return result;
    const std::optional<uint64_t> latest = state.Latest(keyIdHex, name);
    if (latest && *latest > timestamp) {
        result.Verdict = SeenVerdict::Older;
        return result;
    }
    if (remember && (!latest || *latest < timestamp)) {
        state.Remember(keyIdHex, name, timestamp);
        if (!SaveSeenSignatures(path, state, result.Error))
            return result;
    }
    result.Verdict = SeenVerdict::Accepted;
    return result;
}

std::string HexOf(const uint8_t* bytes, std::size_t n) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < n; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0f];
    }
    return text;
}

} // namespace transfer
