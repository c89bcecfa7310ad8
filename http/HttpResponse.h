// Reading an HTTP response: status line, header block and body, from any
// byte source and in any split of the bytes, so it can be driven by a real
// socket or by a test feeding bytes one at a time.
#pragma once

#include "http/IdExceptions.h"
#include "http/MemoryStream.h"
#include "http/Stream.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Bytes asked of the socket per receive. A big download arrives in fewer,
// larger pieces (each one a write to the stream and a progress event), and
// a slow one in whatever has arrived.
constexpr std::size_t kHttpReceiveSize = 256 * 1024;

// Limits on what a server can make the client hold.
struct THttpLimits {
    std::size_t MaxLineLength = 64 * 1024; // status, header and chunk-size lines
    std::size_t MaxHeaderLines = 1000;     // physical lines in the header block
    // A declared body size up to this is reserved at once, exactly.
    std::size_t MaxPresize = 64u * 1024 * 1024;
    // A larger declared size starts with this much, and once bytes arrive
    // jumps to the declared size when that is at most TrustFactor times
    // what has arrived (else it doubles). What a server can make us reserve
    // thus stays proportional to what it really sent, and a big download
    // is copied at most once, early, while little has arrived.
    std::size_t GrowthStart = 16u * 1024 * 1024;
    std::size_t TrustFactor = 64;
    // No body is kept beyond this, whatever the server declares or sends.
    // The client sets it from the stream it reads into (TStream::MaxSize):
    // a body in memory has this bound, a body in a file only its disk.
    uint64_t MaxBodySize = uint64_t{2048} * 1024 * 1024;
};

// Error texts of the limits and of memory exhaustion.
extern const char* const kStatusLineTooLong;
extern const char* const kHeaderLineTooLong;
extern const char* const kChunkLineTooLong;
extern const char* const kChunkSizeNotANumber;
extern const char* const kTooManyHeaderLines;
extern const char* const kOutOfMemory;
extern const char* const kBodyTooLarge;

// Where response bytes come from. Receive blocks until at least one byte
// is there and returns how many were stored; 0 means the peer closed the
// connection (and stays 0 afterwards). buffered tells how many received
// bytes are still unread, which decides whether some errors are raised at
// once. Errors are thrown as EIdException.
class THttpByteSource {
public:
    virtual ~THttpByteSource() = default;
    virtual std::size_t Receive(uint8_t* buffer, std::size_t capacity, std::size_t buffered) = 0;
};

// Progress of body reads: one Begin, Work calls with the running total,
// one End (also when the read fails).
class THttpWorkEvents {
public:
    virtual ~THttpWorkEvents() = default;
    virtual void WorkBegin(int64_t expected) = 0;
    virtual void Work(int64_t total) = 0;
    virtual void WorkEnd() = 0;
};

// Bytes received but not consumed yet; lives as long as the connection.
class THttpInputBuffer {
public:
    std::size_t Available() const { return end_ - start_; }
    const uint8_t* Data() const { return buffer_.data() + start_; }
    void Consume(std::size_t n) {
        start_ += n;
        if (start_ == end_)
            start_ = end_ = 0;
    }
    void Clear() { start_ = end_ = 0; }
    // Receives once from source into free space (at least minSpace bytes
    // of it); returns the count, 0 on close.
    std::size_t Fill(THttpByteSource& source, std::size_t minSpace);

private:
    std::vector<uint8_t> buffer_;
    std::size_t start_ = 0;
    std::size_t end_ = 0;
};

// Header lines in arrival order; look-ups ignore case and take the first.
class THttpHeaders {
public:
    void Add(std::string name, std::string value) { lines_.emplace_back(std::move(name), std::move(value)); }
    // Continues the value of the last line (folding).
    void AppendToLast(const std::string& text);
    bool Has(const std::string& name) const;
    std::string Value(const std::string& name) const; // "" when absent
    std::size_t Count() const { return lines_.size(); }
    const std::vector<std::pair<std::string, std::string>>& Lines() const { return lines_; }
    void Clear() { lines_.clear(); }

private:
    std::vector<std::pair<std::string, std::string>> lines_;
};

struct THttpResponseInfo {
    std::string StatusLine;
    std::string ResponseText; // status line without its first word
    int ResponseCode = 0;
    bool Http10 = false; // the status line's version was 1.0
    THttpHeaders Headers;
    int64_t ContentLength = 0; // 0 when absent, negative or not a number
};

// Status line -> ResponseText, ResponseCode, Http10. A code that is not a
// number throws EConvertError; the text fields are set before that.
void ParseStatusLine(const std::string& line, THttpResponseInfo& info);
// Content-Length value: a decimal number, else 0; negative counts as absent (0).
int64_t ParseContentLength(const std::string& value);
// Chunk-size line: the hexadecimal number before the first ";" or blank;
// nullopt when it is not one (or does not fit in 64 bits).
std::optional<uint64_t> ParseChunkSize(const std::string& line);
// Status decision: 2xx without a Location header.
bool IsSuccess(const THttpResponseInfo& info);

class THttpResponseReader {
public:
    THttpResponseReader(
        THttpByteSource& source, THttpInputBuffer& input, THttpWorkEvents& events, THttpLimits limits = {})
        : source_(source), input_(input), events_(events), limits_(limits) {}

    // Reads one line (LF ends it, a CR before it is dropped). A close with
    // a partial line returns that part; a close with nothing buffered
    // throws EIdConnClosedGracefully.
    std::string ReadLine(const char* tooLongMessage);
    // Status line and header block.
    void ReadHead(THttpResponseInfo& info);
    // The body by the header's rules into stream from its Position; the
    // stream ends up cut to the data written, also after an error. A
    // stream that cannot keep the bytes ends the read with its EStreamError.
    void ReadBody(const THttpResponseInfo& info, TStream& stream);

private:
    // Reads exactly count bytes (or until close when untilClose) as one
    // work unit.
    void ReadCounted(TStream& stream, uint64_t count, bool untilClose);
    uint64_t BodyRoomLeft(const TStream& stream) const;
    // Receives up to wanted body bytes into the stream's own place for
    // them (TStream::WriteBuffer); false when it has none. received 0: the
    // peer closed.
    bool ReceiveIntoStream(TStream& stream, uint64_t wanted, std::size_t& received);
    std::size_t FillOrClose(); // 0 on close

    THttpByteSource& source_;
    THttpInputBuffer& input_;
    THttpWorkEvents& events_;
    THttpLimits limits_;
    uint64_t bodyStart_ = 0;
};
