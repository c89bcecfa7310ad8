// The HTTP response reader fed with arbitrary server bytes through a fake
// socket. Input: byte 0 picks the limits, byte 1 the start position in the
// caller's stream, bytes 2..3 seed the receive splits; the rest is what the
// server sends before it closes the connection.
//
// Invariants checked on every input:
// - only the client's own errors (EIdException) come out;
// - the same bytes give the same result whatever the receive splits (one
//   byte at a time, random pieces, as much as the buffer takes);
// - what the client holds stays within its limits: header lines and their
//   count, the receive buffer, the body's size and its buffer's reservation;
// - a counted or until-close body is exactly the bytes after the header
//   block; a chunked body is the concatenation of the chunks;
// - the caller's bytes before the stream position survive, also on errors;
// - work events come as one begin, running totals that never go back, one end.
#include "common/FuzzCheck.h"

#include "http/HttpResponse.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum class Split { OneByte, Random, Whole };

class FakeSocket final : public THttpByteSource {
public:
    FakeSocket(const uint8_t* data, std::size_t size, Split split, unsigned seed)
        : data_(data), size_(size), split_(split), rng_(seed) {}

    std::size_t Receive(uint8_t* buffer, std::size_t capacity, std::size_t buffered) override {
        FUZZ_CHECK(capacity > 0, "a receive without room");
        largestAsk_ = std::max(largestAsk_, capacity + buffered);
        if (pos_ >= size_)
            return 0;
        std::size_t n = size_ - pos_;
        if (split_ == Split::OneByte)
            n = 1;
        else if (split_ == Split::Random)
            n = std::min<std::size_t>(n, 1 + rng_.Below(rng_.Below(4) == 0 ? 4096 : 17));
        n = std::min(n, capacity);
        std::memcpy(buffer, data_ + pos_, n);
        pos_ += n;
        return n;
    }

    std::size_t Delivered() const { return pos_; }
    std::size_t LargestAsk() const { return largestAsk_; }

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    Split split_;
    FuzzRng rng_;
    std::size_t largestAsk_ = 0;
};

class Events final : public THttpWorkEvents {
public:
    void WorkBegin(int64_t expected) override {
        FUZZ_CHECK(!open_, "WorkBegin inside an open work unit");
        FUZZ_CHECK(expected >= 0, "negative expected size %lld", static_cast<long long>(expected));
        open_ = true;
        last_ = 0;
        ++units;
    }
    void Work(int64_t total) override {
        FUZZ_CHECK(open_, "Work outside a work unit");
        FUZZ_CHECK(total >= last_, "running total went back from %lld to %lld", static_cast<long long>(last_),
            static_cast<long long>(total));
        last_ = total;
    }
    void WorkEnd() override {
        FUZZ_CHECK(open_, "WorkEnd without WorkBegin");
        open_ = false;
        unitTotals.push_back(last_);
    }
    bool Open() const { return open_; }

    int units = 0;
    std::vector<int64_t> unitTotals;

private:
    bool open_ = false;
    int64_t last_ = 0;
};

struct Outcome {
    bool headRead = false;
    bool ok = false;
    std::string error;
    THttpResponseInfo info;
    std::vector<uint8_t> stream;
    std::size_t headBytes = 0; // bytes of status line and header block
    std::vector<int64_t> unitTotals;
};

THttpLimits LimitsFor(uint8_t choice) {
    THttpLimits limits;
    // The default line and header limits, with a smaller reservation so that
    // a declared size does not cost 64 MiB of allocation on every input.
    limits.MaxPresize = 1024 * 1024;
    limits.GrowthStart = 64 * 1024;
    if ((choice & 3) != 3) {
        limits.MaxLineLength = 16 + (choice >> 2) * 4; // 16..268
        limits.MaxHeaderLines = 1 + (choice & 0x1F);
        limits.MaxPresize = (choice & 0x80) ? 0 : 1024;
        limits.GrowthStart = (choice & 0x40) ? 16 : 2048;
        limits.TrustFactor = (choice & 0x20) ? 1 : 8;
        limits.MaxBodySize = (choice & 0x10) ? 300 : 40000;
    }
    return limits;
}

Outcome Run(const uint8_t* data, std::size_t size, Split split, unsigned seed, const THttpLimits& limits,
    std::size_t startPos) {
    Outcome out;
    FakeSocket socket(data, size, split, seed);
    THttpInputBuffer input;
    Events events;
    THttpResponseReader reader(socket, input, events, limits);
    TMemoryStream stream;
    for (std::size_t i = 0; i < startPos; ++i)
        stream.Write(reinterpret_cast<const uint8_t*>("PREFIX--"), 1);
    stream.Position = startPos;
    try {
        reader.ReadHead(out.info);
        out.headRead = true;
        out.headBytes = socket.Delivered() - input.Available();
        reader.ReadBody(out.info, stream);
        out.ok = true;
    } catch (const EIdException& e) {
        out.error = e.what();
    }
    // Anything else (std::bad_alloc, std::length_error, ...) escapes and
    // libFuzzer reports it.

    FUZZ_CHECK(!events.Open(), "a work unit was left open");
    FUZZ_CHECK(socket.LargestAsk() <= limits.MaxLineLength + 2 + 2 * kHttpReceiveSize,
        "the receive buffer grew to %zu bytes", socket.LargestAsk());
    for (std::size_t i = 0; i < startPos; ++i)
        FUZZ_CHECK(stream.Data.size() > i && stream.Data[i] == 'P', "caller's byte %zu before the position lost", i);
    const std::size_t bodySize = stream.Data.size() - startPos;
    FUZZ_CHECK(bodySize <= limits.MaxBodySize, "a body of %zu bytes kept", bodySize);
    // Reserved ahead: a declared size up to MaxPresize, else GrowthStart, then
    // doubling, or a jump to the declared size once TrustFactor times the
    // bytes that arrived cover it.
    const std::size_t allowed =
        2 * std::max<std::size_t>({startPos + std::max(limits.MaxPresize, limits.GrowthStart), 64 * 1024,
                startPos + std::max<std::size_t>(limits.TrustFactor, 1) * (bodySize + 64 * 1024), stream.Data.size()});
    FUZZ_CHECK(
        stream.Data.capacity() <= allowed, "body buffer reserved %zu bytes for %zu", stream.Data.capacity(), bodySize);

    const THttpHeaders& headers = out.info.Headers;
    FUZZ_CHECK(headers.Count() <= limits.MaxHeaderLines, "%zu header lines kept", headers.Count());
    std::size_t headerBytes = 0;
    for (const auto& [name, value] : headers.Lines()) {
        FUZZ_CHECK(name.size() <= limits.MaxLineLength, "header name of %zu bytes", name.size());
        headerBytes += name.size() + value.size();
    }
    FUZZ_CHECK(
        headerBytes <= limits.MaxHeaderLines * (limits.MaxLineLength + 1), "%zu bytes of headers kept", headerBytes);
    FUZZ_CHECK(out.info.ContentLength >= 0, "negative Content-Length kept");

    out.stream.assign(stream.Data.begin() + static_cast<std::ptrdiff_t>(startPos), stream.Data.end());
    out.unitTotals = events.unitTotals;
    return out;
}

// Reference decoding of a chunked body, for inputs the reader accepted.
bool DecodeChunked(const uint8_t* data, std::size_t size, std::vector<uint8_t>& body) {
    std::size_t pos = 0;
    auto line = [&](std::string& text) {
        const void* lf = std::memchr(data + pos, '\n', size - pos);
        std::size_t end = lf ? static_cast<std::size_t>(static_cast<const uint8_t*>(lf) - data) : size;
        text.assign(reinterpret_cast<const char*>(data + pos), end - pos);
        if (!text.empty() && text.back() == '\r' && lf)
            text.pop_back();
        pos = lf ? end + 1 : size;
    };
    for (;;) {
        if (pos >= size)
            return false;
        std::string text;
        line(text);
        const std::optional<uint64_t> parsed = ParseChunkSize(text);
        if (!parsed)
            return false; // the reader refuses the response
        const uint64_t n = *parsed;
        if (n == 0) {
            if (pos >= size)
                return false; // the line after the last chunk never came
            line(text);
            return true;
        }
        if (n > size - pos)
            return false;
        body.insert(body.end(), data + pos, data + pos + n);
        pos += n;
        if (pos >= size)
            return false;
        line(text);
    }
}

bool SameOutcome(const Outcome& a, const Outcome& b) {
    return a.headRead == b.headRead && a.ok == b.ok && a.error == b.error && a.info.StatusLine == b.info.StatusLine &&
           a.info.ResponseCode == b.info.ResponseCode && a.info.ResponseText == b.info.ResponseText &&
           a.info.Http10 == b.info.Http10 && a.info.Headers.Lines() == b.info.Headers.Lines() &&
           a.info.ContentLength == b.info.ContentLength && a.stream == b.stream && a.headBytes == b.headBytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 4)
        return 0;
    const THttpLimits limits = LimitsFor(data[0]);
    const std::size_t startPos = data[1] % 3;
    const unsigned seed = static_cast<unsigned>(data[2]) | (static_cast<unsigned>(data[3]) << 8);
    const uint8_t* response = data + 4;
    const std::size_t n = size - 4;

    const Outcome whole = Run(response, n, Split::Whole, seed, limits, startPos);
    const Outcome single = Run(response, n, Split::OneByte, seed, limits, startPos);
    const Outcome random = Run(response, n, Split::Random, seed, limits, startPos);
    FUZZ_CHECK(SameOutcome(whole, single), "one-byte receives changed the result ('%s' vs '%s')", whole.error.c_str(),
        single.error.c_str());
    FUZZ_CHECK(SameOutcome(whole, random), "random receive splits changed the result ('%s' vs '%s')",
        whole.error.c_str(), random.error.c_str());

    if (!whole.ok)
        return 0;
    const uint8_t* after = response + whole.headBytes;
    const std::size_t left = n - whole.headBytes;
    const THttpResponseInfo& info = whole.info;
    if (info.ContentLength > 0) {
        FUZZ_CHECK(static_cast<uint64_t>(info.ContentLength) <= left, "a counted body longer than what was sent");
        FUZZ_CHECK(whole.stream.size() == static_cast<std::size_t>(info.ContentLength), "counted body of %zu bytes",
            whole.stream.size());
        FUZZ_CHECK(std::equal(whole.stream.begin(), whole.stream.end(), after), "counted body differs from the wire");
        FUZZ_CHECK(whole.unitTotals.size() == 1 && whole.unitTotals[0] == info.ContentLength,
            "work total differs from Content-Length");
    } else if (info.Headers.Value("Transfer-Encoding").find("chunked") != std::string::npos) {
        std::vector<uint8_t> expected;
        FUZZ_CHECK(DecodeChunked(after, left, expected), "the reader accepted a chunked body the reference refuses");
        FUZZ_CHECK(expected == whole.stream, "chunked body differs from its chunks (%zu vs %zu bytes)",
            whole.stream.size(), expected.size());
    } else {
        FUZZ_CHECK(whole.stream.size() == left && std::equal(whole.stream.begin(), whole.stream.end(), after),
            "body read until close differs from the rest of the wire");
    }
    return 0;
}
