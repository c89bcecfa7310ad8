// Text at the edge of the Windows API, for the Windows files of platform/:
// inside, text is UTF-8; the system's wide functions take UTF-16. Bytes that
// are not valid UTF-8 (a name typed in the system's ANSI code page and
// passed on unchanged) are read in that code page rather than replaced, so
// they still name the file they named. Header-only; Windows only.
#pragma once

#ifndef _WIN32
#error "WindowsText.h is for the Windows files of platform/ only"
#endif

#include <string>

#include <windows.h>

namespace platform::wintext {

inline std::wstring Wide(const std::string& text) {
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    UINT codePage = CP_UTF8;
    int n = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (n <= 0) {
        codePage = CP_ACP;
        n = ::MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
        if (n <= 0)
            return {};
    }
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(codePage, codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0, text.data(), size, out.data(), n);
    return out;
}

inline std::string Utf8(const wchar_t* text, std::size_t length) {
    if (length == 0)
        return {};
    const int size = static_cast<int>(length);
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, size, out.data(), n, nullptr, nullptr);
    return out;
}

inline std::string Utf8(const std::wstring& text) { return Utf8(text.data(), text.size()); }

} // namespace platform::wintext
