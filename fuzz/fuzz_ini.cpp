// Reading a configuration file of arbitrary bytes, and writing one key into
// it. Invariants: section and key names are matched without regard to case;
// a value never holds a line feed and never exceeds 2047 characters; an
// integer reads as the decimal or "0x" hexadecimal number its text shows;
// writing "ProxyName" into "Proxy Server" reads back as written and leaves
// every other section and key as it read before.
#include "common/FuzzCheck.h"

#include "platform/ini/PrivateProfile.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <set>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

const std::string kDefault = "\x01-default-";
constexpr int kIntDefault = -12345;

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string Trimmed(const std::string& s) {
    const char* blanks = " \t\v\f";
    const std::size_t b = s.find_first_not_of(blanks);
    if (b == std::string::npos)
        return std::string();
    return s.substr(b, s.find_last_not_of(blanks) - b + 1);
}

const std::string& ScratchFile() {
    static const std::string path = [] {
        const char* base =
            ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
        std::string dir = std::string(base) + "/fuzz_ini.XXXXXX";
        if (!::mkdtemp(dir.data()))
            std::abort();
        return dir + "/Halvorne.INI";
    }();
    return path;
}

void WriteFile(const std::string& path, const uint8_t* data, std::size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        std::abort();
    if (size)
        std::fwrite(data, 1, size, f);
    std::fclose(f);
}

// Section and key names that appear in the text, plus the program's own.
std::vector<std::pair<std::string, std::string>> Probes(const std::string& text) {
    std::set<std::pair<std::string, std::string>> probes = {
        {"Proxy Server", "UseProxy"}, {"Proxy Server", "ProxyName"}, {"Proxy Server", "ProxyPort"}};
    std::string section;
    std::size_t pos = 0;
    while (pos < text.size() && probes.size() < 24) {
        std::size_t lf = text.find('\n', pos);
        std::string line = text.substr(pos, lf == std::string::npos ? std::string::npos : lf - pos);
        pos = lf == std::string::npos ? text.size() : lf + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string t = Trimmed(line);
        if (!t.empty() && t[0] == '[') {
            const std::size_t close = t.find(']');
            if (close != std::string::npos)
                section = Trimmed(t.substr(1, close - 1));
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos && !section.empty()) {
            const std::string key = Trimmed(line.substr(0, eq));
            if (!key.empty() && key.find('\0') == std::string::npos && section.find('\0') == std::string::npos)
                probes.insert({section, key});
        }
    }
    return {probes.begin(), probes.end()};
}

std::string WithoutTrailingCr(std::string s) {
    while (!s.empty() && s.back() == '\r')
        s.pop_back();
    return s;
}

std::size_t Utf8Characters(const std::string& s) {
    std::size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80)
            ++n;
    return n;
}

bool DecimalValue(const std::string& s, long long& out) {
    if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out = std::stoll(s);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string& file = ScratchFile();
    WriteFile(file, data, size);
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto probes = Probes(text);

    std::vector<std::string> before;
    for (const auto& [section, key] : probes) {
        const std::string value = platform::ini::GetPrivateProfileString(section, key, kDefault, file);
        // A lone CR inside a line is data; a LF always ends the line.
        FUZZ_CHECK(value.find('\n') == std::string::npos, "a line break in [%s] %s", section.c_str(), key.c_str());
        FUZZ_CHECK(Utf8Characters(value) <= platform::ini::kProfileValueMax, "a value of %zu characters",
            Utf8Characters(value));
        FUZZ_CHECK(platform::ini::GetPrivateProfileString(Upper(section), Lower(key), kDefault, file) == value,
            "[%s] %s reads differently in another case", section.c_str(), key.c_str());
        const int number = platform::ini::GetPrivateProfileInt(section, key, kIntDefault, file);
        long long decimal = 0;
        if (value == kDefault)
            FUZZ_CHECK(number == kIntDefault, "a missing key read as %d", number);
        else if (DecimalValue(value, decimal))
            FUZZ_CHECK(number == decimal, "'%s' read as %d", value.c_str(), number);
        else if (value.find_first_of("0123456789") == std::string::npos)
            FUZZ_CHECK(number == kIntDefault, "'%s' without a digit read as %d", value.c_str(), number);
        before.push_back(value);
    }

    // A proxy name made of the input's letters and digits.
    std::string name;
    for (std::size_t i = 0; i < size && name.size() < 40; ++i) {
        const char c = static_cast<char>(data[size - 1 - i]);
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-')
            name += c;
    }
    FUZZ_CHECK(platform::ini::WritePrivateProfileString("Proxy Server", "ProxyName", name, file),
        "writing a plain value failed");
    FUZZ_CHECK(platform::ini::GetPrivateProfileString("proxy server", "PROXYNAME", kDefault, file) == name,
        "the written value does not read back");
    for (std::size_t i = 0; i < probes.size(); ++i) {
        const auto& [section, key] = probes[i];
        if (Lower(Trimmed(section)) == "proxy server" && Lower(key) == "proxyname")
            continue;
        const std::string after = platform::ini::GetPrivateProfileString(section, key, kDefault, file);
        // Known and left alone: a rewrite gives every line the file's own
        // line end, so a value ending in CR inside a LF file loses that CR.
        FUZZ_CHECK(WithoutTrailingCr(after) == WithoutTrailingCr(before[i]),
            "writing ProxyName changed [%s] %s from '%s' to '%s'", section.c_str(), key.c_str(), before[i].c_str(),
            after.c_str());
    }
    return 0;
}
