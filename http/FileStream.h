// A stream whose bytes go to a new file in a directory as they are written,
// so a body of any size costs no more memory than one receive. The file has
// no name in the directory until its owner commits it (see
// platform/files/ReceivingFile.h); a stream that is dropped uncommitted
// leaves nothing behind.
#pragma once

#include "http/Stream.h"
#include "platform/files/ReceivingFile.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

class TFileStream : public TStream {
public:
    using Naming = platform::files::ReceivingFile::Naming;

    // Creates the file in dir (ending with a separator). When that fails,
    // IsOpen() is false, OpenError() says why, and every write throws
    // EStreamError with that reason.
    explicit TFileStream(const std::string& dir, Naming naming = Naming::AnonymousWherePossible);

    bool IsOpen() const { return file_.IsOpen(); }
    const std::string& OpenError() const { return openError_; }

    uint64_t Size() const override { return size_; }
    // These throw EStreamError with the system's reason when the file
    // system refuses (a full disk, a file-size limit).
    void Write(const uint8_t* bytes, std::size_t n) override;
    std::size_t Read(uint8_t* out, std::size_t n) override;
    void SetSize(uint64_t n) override;

    // Sees every run of bytes once it is in the file, in the order written
    // (for a check that reads the body while it arrives).
    std::function<void(const uint8_t* bytes, std::size_t n)> OnWrite;

    // The file itself, to flush, commit or discard it.
    platform::files::ReceivingFile& File() { return file_; }

private:
    platform::files::ReceivingFile file_;
    std::string openError_;
    uint64_t size_ = 0;
};
