// Windows private-profile files: the system's own functions read and write
// them, so the configuration behaves exactly as every other Windows program's
// INI file does (its format, caching and locking are the system's, and its
// text is in the system's code page). Only what is this program's own rule
// comes from ProfileRules: which writes are refused and how a text reads as
// an integer. Names and values are UTF-8 here and UTF-16 for the system.
#include "platform/ini/PrivateProfile.h"
#include "platform/ini/ProfileRules.h"
#include "platform/wintext/WindowsText.h"

#include <windows.h>

// <windows.h> maps these names to their A or W forms by macro, which would
// rename this file's definitions of the platform functions.
#undef GetPrivateProfileString
#undef GetPrivateProfileInt
#undef WritePrivateProfileString

namespace platform::ini {
namespace {

using wintext::Utf8;
using wintext::Wide;

// The profile functions look for a bare file name in the Windows directory;
// every other file name of the program is relative to the current one, and
// so is this one.
std::wstring FullPath(const std::string& fileName) {
    const std::wstring name = Wide(fileName);
    const DWORD n = ::GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    if (n == 0)
        return name;
    std::wstring full(n, L'\0');
    const DWORD written = ::GetFullPathNameW(name.c_str(), n, full.data(), nullptr);
    if (written == 0 || written >= n)
        return name;
    full.resize(written);
    return full;
}

} // namespace

std::string GetPrivateProfileString(
    const std::string& section, const std::string& key, const std::string& def, const std::string& fileName) {
    // One more than the longest value, for the terminating zero.
    std::wstring buffer(kProfileValueMax + 1, L'\0');
    const DWORD n = ::GetPrivateProfileStringW(Wide(section).c_str(), Wide(key).c_str(), Wide(def).c_str(),
        buffer.data(), static_cast<DWORD>(buffer.size()), FullPath(fileName).c_str());
    return Utf8(buffer.data(), n);
}

int GetPrivateProfileInt(const std::string& section, const std::string& key, int def, const std::string& fileName) {
    // GetPrivateProfileIntW reads "12abc" as 12 and a word as 0, where this
    // program takes the default for anything that is not a whole integer;
    // so the text is read and judged here, by the same rule as on POSIX.
    // A missing key and an empty value both read as "", which is no integer.
    const std::string text = GetPrivateProfileString(section, key, "", fileName);
    int parsed = 0;
    return ParseInteger(text, parsed) ? parsed : def;
}

bool WritePrivateProfileString(
    const std::string& section, const std::string& key, const std::string& value, const std::string& fileName) {
    // The system would write a line break or a stray ']' or '=' as it is and
    // leave a file that reads back differently; such writes are refused.
    if (!IsWritableEntry(section, key, value, fileName))
        return false;
    const std::wstring sec = Wide(std::string(Trim(section)));
    const std::wstring k = Wide(std::string(Trim(key)));
    return ::WritePrivateProfileStringW(sec.c_str(), k.c_str(), Wide(value).c_str(), FullPath(fileName).c_str()) != 0;
}

bool FileExists(const std::string& fileName) {
    if (fileName.empty())
        return false;
    const DWORD attributes = ::GetFileAttributesW(Wide(fileName).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

} // namespace platform::ini
