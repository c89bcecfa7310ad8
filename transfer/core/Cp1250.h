// Text that comes from outside in code page 1250 (the version file, texts
// of servers and of older configuration files), turned into the UTF-8 the
// program keeps inside.
#pragma once

#include <string>
#include <string_view>

namespace transfer {

// Every byte as its code page 1250 character; the five bytes the code page
// leaves undefined become U+FFFD.
std::string Cp1250ToUtf8(std::string_view bytes);

// Well-formed UTF-8: no stray or missing continuation bytes, no overlong
// forms, no surrogates, nothing beyond U+10FFFF.
bool IsUtf8(std::string_view bytes);

// Texts of our own are UTF-8; texts from a server may be anything: kept as
// they are when they are UTF-8, else read as code page 1250.
std::string Utf8OrCp1250(std::string_view bytes);

} // namespace transfer
