// The browser's program path taken out of a registered browser command.
#pragma once

#include <string>

namespace transfer {

// The text between the first two double quotes of `command`; empty when it
// holds fewer than two. "\"C:\\Program Files\\Web\\web.exe\" -nohome \"%1\""
// gives C:\Program Files\Web\web.exe.
std::string BrowserPathFromCommand(const std::string& command);

} // namespace transfer
