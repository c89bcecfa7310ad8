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
#include <memory>
#include <string>

class TFileStream : public TStream {
public:
    using Naming = platform::files::ReceivingFile::Naming;

    // Creates the file in dir (ending with a separator). When that fails,
    // IsOpen() is false, OpenError() says why, and every write throws
    // EStreamError with that reason.
    explicit TFileStream(const std::string& dir, Naming naming = Naming::AnonymousWherePossible);
    ~TFileStream() override;

    bool IsOpen() const { return file_.IsOpen(); }
    const std::string& OpenError() const { return openError_; }

    uint64_t Size() const override { return size_; }
    // These throw EStreamError with the system's reason when the file
    // system refuses (a full disk, a file-size limit).
    void Write(const uint8_t* bytes, std::size_t n) override;
    std::size_t Read(uint8_t* out, std::size_t n) override;
    void SetSize(uint64_t n) override;
    // With WriteInBackground: the free end of the chunk being gathered
    // (throws EStreamError when a queued write failed); else null.
    uint8_t* WriteBuffer(std::size_t& room) override;
    void Wrote(std::size_t n) override;

    // From here on, written bytes are gathered into chunks that two threads
    // of the stream's own take in order, one writing them to the file, the
    // other handing them to OnWrite, while the caller goes on receiving: a
    // download then keeps both cores busy (receiving and decrypting here,
    // writing and hashing there) instead of doing all of it in turn. Whole chunks go to the device past the page cache
    // where the system allows it (ReceivingFile::WriteAtUnbuffered), so the
    // writing costs little processor time and leaves nothing to write back
    // at the end. At most kQueuedChunks chunks wait, so the memory it costs
    // is bounded. A failed write is reported by a later Write, at the
    // latest by Read, SetSize or WaitForQueuedWrites (the HTTP client sets
    // the size at the end of every body, so a Get that returns has had
    // every byte written and observed). The first kWrittenAtOnce bytes are
    // still written at once: a disk that refuses the file at all (full, a
    // size limit) stops the download at its start.
    void WriteInBackground();
    // Returns once every byte written is in the file and observed; throws
    // EStreamError when a queued write failed.
    void WaitForQueuedWrites();
    static constexpr std::size_t kChunkSize = 1024 * 1024;
    static constexpr std::size_t kQueuedChunks = 6;
    static constexpr uint64_t kWrittenAtOnce = kChunkSize;

    // Sees every run of bytes once it is in the file, in the order written
    // (for a check that reads the body while it arrives). With
    // WriteInBackground it runs on a thread of the stream: it must touch
    // nothing else that thread could race with before the writes are
    // waited for.
    std::function<void(const uint8_t* bytes, std::size_t n)> OnWrite;

    // The file itself, to flush, commit or discard it, once every queued
    // write is in it (throws EStreamError when one failed).
    platform::files::ReceivingFile& File();

private:
    class Writer;
    bool InBackground() const;

    platform::files::ReceivingFile file_;
    std::string openError_;
    uint64_t size_ = 0;
    std::unique_ptr<Writer> writer_; // set by WriteInBackground
};
