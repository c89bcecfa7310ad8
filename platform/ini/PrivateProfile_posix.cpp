// POSIX private-profile files. The whole file is read into memory, edited as
// a list of lines and written back through a temporary file that replaces
// the original with rename(), so a crash or a full disk never leaves a half
// written configuration behind.
#include "platform/ini/PrivateProfile.h"
#include "platform/ini/ProfileRules.h"
#include "platform/wintext/NameCase.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform::ini {
namespace {

// A configuration file has a few lines; anything this large is not ours and
// is neither parsed nor rewritten (reads give the defaults, writes fail).
constexpr off_t kMaxProfileFileSize = 16 * 1024 * 1024;

using platform::wintext::SameIgnoringAsciiCase;

struct ProfileText {
    std::vector<std::string> lines; // without their line ends
    bool crlf = false;              // line end used by the file
    bool finalNewline = true;       // the last line had a line end
};

enum class LoadResult { Ok, Missing, Failed };

LoadResult LoadProfile(const std::string& fileName, ProfileText& out) {
    int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? LoadResult::Missing : LoadResult::Failed;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxProfileFileSize) {
        ::close(fd);
        return LoadResult::Failed;
    }
    std::string data;
    char buf[8192];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            return LoadResult::Failed;
        }
        if (n == 0)
            break;
        data.append(buf, static_cast<std::size_t>(n));
        if (data.size() > static_cast<std::size_t>(kMaxProfileFileSize)) { // grew while we read
            ::close(fd);
            return LoadResult::Failed;
        }
    }
    ::close(fd);

    out = ProfileText{};
    std::size_t firstLf = data.find('\n');
    out.crlf = firstLf != std::string::npos && firstLf > 0 && data[firstLf - 1] == '\r';
    std::size_t pos = 0;
    while (pos < data.size()) {
        std::size_t lf = data.find('\n', pos);
        std::size_t end = lf == std::string::npos ? data.size() : lf;
        std::size_t lineEnd = end;
        if (lineEnd > pos && data[lineEnd - 1] == '\r')
            --lineEnd;
        out.lines.emplace_back(data, pos, lineEnd - pos);
        if (lf == std::string::npos) {
            out.finalNewline = false;
            break;
        }
        pos = lf + 1;
    }
    return LoadResult::Ok;
}

// "[name]" with optional blanks around; anything after the ']' is ignored.
bool ParseSectionLine(std::string_view line, std::string_view& name) {
    std::string_view t = Trim(line);
    if (t.empty() || t.front() != '[')
        return false;
    std::size_t close = t.find(']');
    if (close == std::string_view::npos)
        return false;
    name = Trim(t.substr(1, close - 1));
    return true;
}

bool IsCommentLine(std::string_view line) {
    std::string_view t = Trim(line);
    return !t.empty() && t.front() == ';';
}

bool ParseKeyLine(std::string_view line, std::string_view& key, std::string_view& value) {
    if (IsCommentLine(line))
        return false;
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos)
        return false;
    key = Trim(line.substr(0, eq));
    value = Trim(line.substr(eq + 1));
    return !key.empty();
}

// Where a section starts and ends in the line list; the first section of
// that name counts, as a lookup reads only that one.
struct SectionSpan {
    bool found = false;
    std::size_t header = 0; // index of the "[...]" line
    std::size_t end = 0;    // index one past its last line
};

SectionSpan FindSection(const ProfileText& text, std::string_view section) {
    SectionSpan span;
    for (std::size_t i = 0; i < text.lines.size(); ++i) {
        std::string_view name;
        if (!ParseSectionLine(text.lines[i], name))
            continue;
        if (span.found) {
            span.end = i;
            return span;
        }
        if (SameIgnoringAsciiCase(name, section)) {
            span.found = true;
            span.header = i;
        }
    }
    if (span.found)
        span.end = text.lines.size();
    return span;
}

bool LookUp(const std::string& section, const std::string& key, const std::string& fileName, std::string& value) {
    ProfileText text;
    if (LoadProfile(fileName, text) != LoadResult::Ok)
        return false;
    SectionSpan span = FindSection(text, Trim(section));
    if (!span.found)
        return false;
    for (std::size_t i = span.header + 1; i < span.end; ++i) {
        std::string_view k, v;
        if (ParseKeyLine(text.lines[i], k, v) && SameIgnoringAsciiCase(k, Trim(key))) {
            // A value wrapped in one pair of matching quotes loses them, so a
            // value can keep blanks at its ends.
            if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
                v = v.substr(1, v.size() - 2);
            value.assign(v);
            return true;
        }
    }
    return false;
}

// Cuts s after max characters, counting a UTF-8 sequence as one character
// so a cut never splits one.
void TruncateCharacters(std::string& s, std::size_t max) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if ((c & 0xC0) == 0x80)
            continue; // continuation byte
        if (chars == max) {
            s.resize(i);
            return;
        }
        ++chars;
    }
}

bool WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string Render(const ProfileText& text) {
    const char* eol = text.crlf ? "\r\n" : "\n";
    std::string out;
    for (std::size_t i = 0; i < text.lines.size(); ++i) {
        out += text.lines[i];
        if (i + 1 < text.lines.size() || text.finalNewline)
            out += eol;
    }
    return out;
}

mode_t CurrentUmask() {
    mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// Writes data as the new content of fileName. The preferred way is a
// temporary file beside it and rename(); when the directory does not allow
// that but the file itself is writable, the file is rewritten in place.
bool StoreProfile(const std::string& fileName, const std::string& data, bool exists) {
    std::string target = fileName;
    if (exists) {
        // Replace what a symbolic link points to, not the link itself.
        if (char* real = ::realpath(fileName.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    struct stat st {};
    mode_t mode = 0666 & ~CurrentUmask();
    if (exists && ::stat(target.c_str(), &st) == 0)
        mode = st.st_mode & 07777;

    std::string tmpl = target + ".XXXXXX";
    std::vector<char> tmpName(tmpl.begin(), tmpl.end());
    tmpName.push_back('\0');
    int fd = ::mkstemp(tmpName.data());
    if (fd >= 0) {
        bool ok = WriteAll(fd, data) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
        ok = (::close(fd) == 0) && ok;
        if (ok && ::rename(tmpName.data(), target.c_str()) == 0)
            return true;
        ::unlink(tmpName.data());
        return false;
    }
    if (!exists)
        return false;
    fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, data) && ::fsync(fd) == 0;
    return (::close(fd) == 0) && ok;
}

} // namespace

std::string GetPrivateProfileString(
    const std::string& section, const std::string& key, const std::string& def, const std::string& fileName) {
    std::string value;
    if (!LookUp(section, key, fileName, value))
        value = def;
    TruncateCharacters(value, kProfileValueMax);
    return value;
}

int GetPrivateProfileInt(const std::string& section, const std::string& key, int def, const std::string& fileName) {
    std::string value;
    if (!LookUp(section, key, fileName, value))
        return def;
    int parsed = 0;
    return ParseInteger(value, parsed) ? parsed : def;
}

bool WritePrivateProfileString(
    const std::string& section, const std::string& key, const std::string& value, const std::string& fileName) {
    std::string_view sec = Trim(section);
    std::string_view k = Trim(key);
    // Names and values that would change the file's structure are refused
    // rather than written into lines that read back differently.
    if (!IsWritableEntry(section, key, value, fileName))
        return false;

    ProfileText text;
    LoadResult loaded = LoadProfile(fileName, text);
    if (loaded == LoadResult::Failed)
        return false;
    const bool exists = loaded == LoadResult::Ok;
    if (!exists)
        text = ProfileText{};

    std::string line = std::string(k) + "=" + value;
    SectionSpan span = FindSection(text, sec);
    if (!span.found) {
        if (!text.lines.empty() && !Trim(text.lines.back()).empty())
            text.lines.emplace_back();
        text.lines.push_back("[" + std::string(sec) + "]");
        text.lines.push_back(line);
        text.finalNewline = true;
    } else {
        bool replaced = false;
        std::size_t lastEntry = span.header;
        for (std::size_t i = span.header + 1; i < span.end; ++i) {
            std::string_view lk, lv;
            if (ParseKeyLine(text.lines[i], lk, lv) && SameIgnoringAsciiCase(lk, k)) {
                // The key keeps its name as the file spells it, as with the
                // Windows functions; only its value changes.
                text.lines[i] = std::string(lk) + "=" + value;
                replaced = true;
                break;
            }
            if (!Trim(text.lines[i]).empty())
                lastEntry = i;
        }
        if (!replaced) {
            // New keys go after the section's last entry, before the blank
            // lines that separate it from the next section.
            text.lines.insert(text.lines.begin() + static_cast<std::ptrdiff_t>(lastEntry + 1), line);
            if (lastEntry + 1 == text.lines.size() - 1)
                text.finalNewline = true;
        }
    }
    return StoreProfile(fileName, Render(text), exists);
}

bool FileExists(const std::string& fileName) {
    struct stat st {};
    return !fileName.empty() && ::stat(fileName.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace platform::ini
