#include "http/MemoryStream.h"

#include <algorithm>
#include <cstring>

void TMemoryStream::Write(const uint8_t* bytes, std::size_t n) {
    if (n == 0)
        return;
    if (Position == Data.size()) {
        // Appending: copy straight into the spare capacity, no zero fill first.
        Data.insert(Data.end(), bytes, bytes + n);
    } else {
        if (Position + n > Data.size())
            Data.resize(Position + n);
        std::memcpy(Data.data() + Position, bytes, n);
    }
    Position += n;
}

std::size_t TMemoryStream::Read(uint8_t* out, std::size_t n) {
    if (Position >= Data.size())
        return 0;
    n = std::min(n, Data.size() - Position);
    std::memcpy(out, Data.data() + Position, n);
    Position += n;
    return n;
}

void TMemoryStream::SetSize(std::size_t n) {
    Data.resize(n);
    if (Position > n)
        Position = n;
}
