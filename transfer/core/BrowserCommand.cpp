#include "transfer/core/BrowserCommand.h"

namespace transfer {

std::string BrowserPathFromCommand(const std::string& command) {
    if (command.empty())
        return {};
    // The part after the first quote (all of it when there is none), then
    // the part of that before its first quote (nothing when there is none).
    const auto first = command.find('"');
    const std::string afterFirst = first == std::string::npos ? command : command.substr(first + 1);
    const auto second = afterFirst.find('"');
    if (second == std::string::npos)
        return {};
    return afterFirst.substr(0, second);
}

} // namespace transfer
