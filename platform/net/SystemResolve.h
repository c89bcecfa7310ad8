// The system's name lookup behind ResolveHost, one per platform.
#pragma once

#include <cstdint>
#include <string>

namespace platform::net {

// The first IPv4 address of host in network byte order; 0 or a Windows
// Sockets code (11001 for a name that does not exist).
int SystemResolve(const std::string& host, uint32_t& out);

} // namespace platform::net
