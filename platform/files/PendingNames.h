#pragma once
// The names of receiving files that this process has made and nobody has
// committed or discarded yet, so that a process ending without unwinding
// can still remove them. Shared by the POSIX and the Windows receiving file.
#include <string>
#include <vector>

namespace platform::files::detail {

void RememberPending(const std::string& path);
void ForgetPending(const std::string& path);
// Every name remembered and not forgotten; the list is empty afterwards.
std::vector<std::string> TakeAllPending();

} // namespace platform::files::detail
