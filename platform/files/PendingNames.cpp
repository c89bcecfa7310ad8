#include "platform/files/PendingNames.h"

#include <algorithm>
#include <mutex>

namespace platform::files::detail {
namespace {

std::mutex g_pendingMutex;
std::vector<std::string>& PendingNames() {
    static std::vector<std::string> names;
    return names;
}

} // namespace

void RememberPending(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_pendingMutex);
    PendingNames().push_back(path);
}

void ForgetPending(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_pendingMutex);
    auto& names = PendingNames();
    names.erase(std::remove(names.begin(), names.end(), path), names.end());
}

std::vector<std::string> TakeAllPending() {
    std::lock_guard<std::mutex> lock(g_pendingMutex);
    std::vector<std::string> taken;
    taken.swap(PendingNames());
    return taken;
}

} // namespace platform::files::detail
