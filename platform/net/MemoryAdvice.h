// Hints to the OS about big in-memory receive buffers.
#pragma once

#include <cstddef>

namespace platform::net {

// Asks for large pages behind [data, data + size) where the OS offers them
// on request; touching hundreds of MiB page by page is otherwise dominated
// by page faults. Harmless where unsupported.
void AdviseLargeBuffer(void* data, std::size_t size);

} // namespace platform::net
