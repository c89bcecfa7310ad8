#include "http/FileStream.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t kAlignment = platform::files::ReceivingFile::kUnbufferedAlignment;

// A chunk of consecutive bytes for the file, aligned in memory for a write
// past the page cache, with the sizes of the writes it gathered (each is
// observed on its own, as if it had been written directly).
struct Chunk {
    // Left uninitialised: a chunk costs memory only once bytes go into it.
    std::unique_ptr<uint8_t[]> storage{new uint8_t[TFileStream::kChunkSize + kAlignment]};
    uint8_t* data = nullptr;
    uint64_t at = 0;
    std::size_t used = 0;
    std::size_t limit = 0; // bytes it takes before it is queued
    std::vector<std::size_t> pieces;

    Chunk() {
        const auto address = reinterpret_cast<std::uintptr_t>(storage.get());
        data = storage.get() + (kAlignment - address % kAlignment) % kAlignment;
    }
};

// A chunk ends at the next multiple of kChunkSize: every chunk of a file
// written from its start but the first begins there, as a write past the
// page cache needs.
std::size_t ChunkLimit(uint64_t at) {
    return static_cast<std::size_t>(TFileStream::kChunkSize - at % TFileStream::kChunkSize);
}

} // namespace

// The stream's two threads: one writes the chunks to the file, in order,
// the other hands the written ones to OnWrite, in order; so the writing
// (which waits for the device) and the observing (which hashes) overlap.
// Chunks are used again once observed, so a download of any size costs
// kQueuedChunks + 1 chunks of memory; the caller waits only when every
// chunk is under way.
class TFileStream::Writer {
public:
    explicit Writer(TFileStream& owner) : owner_(owner), chunks_(kQueuedChunks + 1) {
        for (Chunk& c : chunks_)
            free_.push_back(&c);
        writing_.thread = std::thread([this] { Run(writing_, &observing_); });
        try {
            observing_.thread = std::thread([this] { Run(observing_, nullptr); });
        } catch (...) {
            Stop();
            throw;
        }
    }

    ~Writer() { Stop(); }

    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // The free end of a chunk that bytes for the file at offset at go into.
    uint8_t* Room(uint64_t at, std::size_t& room) {
        if (filling_ && at != filling_->at + filling_->used)
            Submit(); // not where the chunk goes on: a chunk of its own
        if (!filling_)
            filling_ = TakeFree(at);
        room = filling_->limit - filling_->used;
        return filling_->data + filling_->used;
    }

    // n bytes were put at the free end Room gave.
    void Filled(std::size_t n) {
        filling_->used += n;
        filling_->pieces.push_back(n);
        if (filling_->used == filling_->limit)
            Submit();
    }

    // Copies n bytes meant for the file at offset at into chunks.
    void Append(uint64_t at, const uint8_t* bytes, std::size_t n) {
        while (n > 0) {
            std::size_t room = 0;
            uint8_t* into = Room(at, room);
            const std::size_t take = std::min(n, room);
            std::memcpy(into, bytes, take);
            Filled(take);
            at += take;
            bytes += take;
            n -= take;
        }
    }

    void WaitUntilIdle() {
        if (filling_)
            Submit();
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return (writing_.Idle() && observing_.Idle()) || !error_.empty(); });
        ThrowIfFailed();
    }

private:
    void Stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true; // what is still queued is of no more use
        }
        changed_.notify_all();
        for (Stage* s : {&writing_, &observing_})
            if (s->thread.joinable())
                s->thread.join();
    }

    void ThrowIfFailed() const {
        if (!error_.empty())
            throw EStreamError(error_);
    }

    Chunk* TakeFree(uint64_t at) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return !free_.empty() || !error_.empty(); });
        ThrowIfFailed();
        Chunk* chunk = free_.back();
        free_.pop_back();
        chunk->at = at;
        chunk->used = 0;
        chunk->limit = ChunkLimit(at);
        chunk->pieces.clear();
        return chunk;
    }

    void Submit() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            writing_.queue.push_back(filling_);
        }
        filling_ = nullptr;
        changed_.notify_all();
    }

    // One thread's queue of chunks and the work it does on each.
    struct Stage {
        std::deque<Chunk*> queue;
        bool busy = false; // working on a chunk taken from the queue
        std::thread thread;
        bool Idle() const { return queue.empty() && !busy; }
    };

    // Takes the stage's chunks in order and passes each on to next (or
    // back to the free ones), until the stream goes or a step fails.
    void Run(Stage& stage, Stage* next) {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return !stage.queue.empty() || stopping_; });
            if (stopping_)
                return;
            Chunk* chunk = stage.queue.front();
            stage.queue.pop_front();
            stage.busy = true;
            lock.unlock();
            const std::string error = next ? WriteToFile(*chunk) : Observe(*chunk);
            lock.lock();
            stage.busy = false;
            if (!error.empty() && error_.empty()) {
                // Nothing after a failed step may reach the file or the
                // observer: it would be out of order.
                error_ = error;
                for (Stage* s : {&writing_, &observing_}) {
                    free_.insert(free_.end(), s->queue.begin(), s->queue.end());
                    s->queue.clear();
                }
            }
            if (next && error_.empty())
                next->queue.push_back(chunk);
            else
                free_.push_back(chunk);
            changed_.notify_all();
        }
    }

    std::string WriteToFile(const Chunk& chunk) {
        std::string error;
        if (!owner_.file_.WriteAtUnbuffered(chunk.at, chunk.data, chunk.used, error))
            return error.empty() ? "the file could not be written" : error;
        return std::string();
    }

    std::string Observe(const Chunk& chunk) {
        if (!owner_.OnWrite)
            return std::string();
        try {
            std::size_t from = 0;
            for (std::size_t n : chunk.pieces) {
                owner_.OnWrite(chunk.data + from, n);
                from += n;
            }
        } catch (const std::exception& e) {
            return e.what();
        }
        return std::string();
    }

    TFileStream& owner_;
    std::vector<Chunk> chunks_;
    Chunk* filling_ = nullptr; // the caller's, being filled
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Chunk*> free_;
    Stage writing_, observing_;
    bool stopping_ = false; // the stream is going away
    std::string error_;     // the first failed step; nothing is written or observed after it
};

TFileStream::TFileStream(const std::string& dir, Naming naming) {
    if (!file_.Create(dir, openError_, naming) && openError_.empty())
        openError_ = "the file could not be created";
}

// The threads go first: they write into file_ and call OnWrite.
TFileStream::~TFileStream() { writer_.reset(); }

void TFileStream::WriteInBackground() {
    if (writer_ || !IsOpen())
        return;
    try {
        writer_ = std::make_unique<Writer>(*this);
    } catch (const std::system_error&) {
        // No threads to be had: the stream goes on writing at once.
    }
}

void TFileStream::WaitForQueuedWrites() {
    if (writer_)
        writer_->WaitUntilIdle();
}

platform::files::ReceivingFile& TFileStream::File() {
    WaitForQueuedWrites();
    return file_;
}

void TFileStream::Write(const uint8_t* bytes, std::size_t n) {
    if (n == 0)
        return;
    if (!IsOpen())
        throw EStreamError(openError_);
    if (InBackground()) {
        writer_->Append(Position, bytes, n);
        Position += n;
        size_ = std::max(size_, Position);
        return;
    }
    WaitForQueuedWrites(); // in order, after what is queued
    std::string error;
    if (!file_.WriteAt(Position, bytes, n, error))
        throw EStreamError(error);
    Position += n;
    size_ = std::max(size_, Position);
    if (OnWrite)
        OnWrite(bytes, n);
}

uint8_t* TFileStream::WriteBuffer(std::size_t& room) {
    room = 0;
    return InBackground() ? writer_->Room(Position, room) : nullptr;
}

bool TFileStream::InBackground() const { return writer_ && Position >= kWrittenAtOnce; }

void TFileStream::Wrote(std::size_t n) {
    if (!InBackground() || n == 0)
        return;
    writer_->Filled(n);
    Position += n;
    size_ = std::max(size_, Position);
}

std::size_t TFileStream::Read(uint8_t* out, std::size_t n) {
    if (Position >= size_ || n == 0)
        return 0;
    if (!IsOpen())
        throw EStreamError(openError_);
    WaitForQueuedWrites();
    n = static_cast<std::size_t>(std::min<uint64_t>(n, size_ - Position));
    std::size_t got = 0;
    std::string error;
    if (!file_.ReadAt(Position, out, n, got, error))
        throw EStreamError(error);
    Position += got;
    return got;
}

void TFileStream::SetSize(uint64_t n) {
    WaitForQueuedWrites();
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
