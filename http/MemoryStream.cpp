#include "http/MemoryStream.h"

#include "platform/net/MemoryAdvice.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

std::size_t AsSize(uint64_t n) {
    if (n > SIZE_MAX)
        throw std::bad_alloc();
    return static_cast<std::size_t>(n);
}

} // namespace

void TMemoryStream::Write(const uint8_t* bytes, std::size_t n) {
    if (n == 0)
        return;
    const std::size_t pos = AsSize(Position);
    if (pos == Data.size()) {
        // Appending: copy straight into the spare capacity, no zero fill first.
        Data.insert(Data.end(), bytes, bytes + n);
    } else {
        if (pos + n > Data.size())
            Data.resize(pos + n);
        std::memcpy(Data.data() + pos, bytes, n);
    }
    Position += n;
}

std::size_t TMemoryStream::Read(uint8_t* out, std::size_t n) {
    if (Position >= Data.size())
        return 0;
    const std::size_t pos = static_cast<std::size_t>(Position);
    n = std::min(n, Data.size() - pos);
    std::memcpy(out, Data.data() + pos, n);
    Position += n;
    return n;
}

void TMemoryStream::SetSize(uint64_t n) {
    Data.resize(AsSize(n));
    if (Position > n)
        Position = n;
}

void TMemoryStream::Reserve(uint64_t bytes) {
    if (bytes <= Data.capacity())
        return;
    std::vector<uint8_t> bigger;
    bigger.reserve(AsSize(bytes));
    platform::net::AdviseLargeBuffer(bigger.data(), bigger.capacity());
    bigger.insert(bigger.end(), Data.begin(), Data.end());
    Data.swap(bigger);
}
