// Pieces the Windows file layers share; not part of the interface.
#pragma once

#ifndef _WIN32
#error "WinDetail.h is for the Windows files of platform/files only"
#endif

#include <string>

#include <windows.h>

namespace platform::files::detail {

// The system's text for an error code (UTF-8, without the final full stop).
std::string SystemMessage(DWORD code);

// A fresh hidden name for a temporary file in dir (ending with a separator).
std::string HiddenTempName(const std::string& dir);

} // namespace platform::files::detail
