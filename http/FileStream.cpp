#include "http/FileStream.h"

#include <algorithm>

TFileStream::TFileStream(const std::string& dir, Naming naming) {
    if (!file_.Create(dir, openError_, naming) && openError_.empty())
        openError_ = "the file could not be created";
}

void TFileStream::Write(const uint8_t* bytes, std::size_t n) {
    if (n == 0)
        return;
    if (!IsOpen())
        throw EStreamError(openError_);
    std::string error;
    if (!file_.WriteAt(Position, bytes, n, error))
        throw EStreamError(error);
    Position += n;
    size_ = std::max(size_, Position);
    if (OnWrite)
        OnWrite(bytes, n);
}

std::size_t TFileStream::Read(uint8_t* out, std::size_t n) {
    if (Position >= size_ || n == 0)
        return 0;
    if (!IsOpen())
        throw EStreamError(openError_);
    n = static_cast<std::size_t>(std::min<uint64_t>(n, size_ - Position));
    std::size_t got = 0;
    std::string error;
    if (!file_.ReadAt(Position, out, n, got, error))
        throw EStreamError(error);
    Position += got;
    return got;
}

void TFileStream::SetSize(uint64_t n) {
    if (n == size_)
        return;
    if (!IsOpen())
        throw EStreamError(openError_);
    std::string error;
    if (!file_.Resize(n, error))
        throw EStreamError(error);
    size_ = n;
    Position = std::min(Position, n);
}
