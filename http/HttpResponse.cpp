#include "http/HttpResponse.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

const char* const kStatusLineTooLong = "HTTP status line longer than 65536 bytes.";
const char* const kHeaderLineTooLong = "HTTP header line longer than 65536 bytes.";
const char* const kChunkLineTooLong = "HTTP chunk size line longer than 65536 bytes.";
const char* const kChunkSizeNotANumber = "Broken HTTP response: a chunk size line is not a hexadecimal number.";
const char* const kTooManyHeaderLines = "More than 1000 HTTP header lines.";
const char* const kOutOfMemory = "Out of memory: the response body does not fit into memory.";
const char* const kBodyTooLarge = "Response body larger than 2048 MiB.";

namespace {

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (UpperAscii(a[i]) != UpperAscii(b[i]))
            return false;
    return true;
}

std::string TrimLeadingBlanks(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
        ++i;
    return s.substr(i);
}

std::string TrimBlanks(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t'))
        --e;
    return s.substr(b, e - b);
}

// Optional sign and decimal digits, the whole text, within int64.
bool ParseDecimal(const std::string& text, int64_t& out) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        return false;
    uint64_t value = 0;
    const uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + (negative ? 1 : 0);
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c < '0' || c > '9')
            return false;
        unsigned digit = static_cast<unsigned>(c - '0');
        if (value > (limit - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    out = negative ? static_cast<int64_t>(0 - value) : static_cast<int64_t>(value);
    return true;
}

// Grows the stream ahead of the body as far as it is safe (see THttpLimits).
// A stream that needs no preparing (a file) reports endless capacity, and
// this does nothing for it.
class BodyWriter {
public:
    BodyWriter(TStream& stream, bool sizeKnown, uint64_t size, const THttpLimits& limits)
        : stream_(stream), sizeKnown_(sizeKnown), start_(stream.Position), limits_(limits) {
        if (sizeKnown_) {
            end_ = start_ + std::min<uint64_t>(size, UINT64_MAX - start_);
            uint64_t first = (end_ - start_) <= limits_.MaxPresize ? end_ - start_ : limits_.GrowthStart;
            Reserve(start_ + std::min(first, end_ - start_));
        }
    }

    void Write(const uint8_t* data, std::size_t n) {
        uint64_t need = stream_.Position + n;
        uint64_t capacity = stream_.Capacity();
        if (need > capacity) {
            uint64_t doubled = capacity > UINT64_MAX / 2 ? UINT64_MAX : std::max<uint64_t>(capacity * 2, 64 * 1024);
            uint64_t target = doubled;
            if (sizeKnown_) {
                uint64_t arrived = need - start_;
                uint64_t factor = std::max<uint64_t>(limits_.TrustFactor, 1);
                bool trusted = arrived > 0 && (end_ - start_) / factor <= arrived;
                target = trusted ? end_ : std::min(end_, std::max<uint64_t>(doubled, start_ + limits_.GrowthStart));
            }
            Reserve(std::max(need, target));
        }
        try {
            stream_.Write(data, n);
        } catch (const std::bad_alloc&) {
            throw EIdException(kOutOfMemory);
        } catch (const std::length_error&) {
            throw EIdException(kOutOfMemory);
        }
    }

private:
    void Reserve(uint64_t bytes) {
        if (bytes <= stream_.Capacity())
            return;
        try {
            stream_.Reserve(bytes);
        } catch (const std::bad_alloc&) {
            throw EIdException(kOutOfMemory);
        } catch (const std::length_error&) {
            throw EIdException(kOutOfMemory);
        }
    }

    TStream& stream_;
    bool sizeKnown_;
    uint64_t start_;
    uint64_t end_ = 0;
    const THttpLimits& limits_;
};

} // namespace

std::size_t THttpInputBuffer::Fill(THttpByteSource& source, std::size_t minSpace) {
    if (start_ > 0 && buffer_.size() - end_ < minSpace) {
        std::memmove(buffer_.data(), buffer_.data() + start_, end_ - start_);
        end_ -= start_;
        start_ = 0;
    }
    if (buffer_.size() - end_ < minSpace) {
        try {
            buffer_.resize(end_ + minSpace);
        } catch (const std::bad_alloc&) {
            throw EIdException(kOutOfMemory);
        }
    }
    std::size_t n = source.Receive(buffer_.data() + end_, buffer_.size() - end_, end_ - start_);
    end_ += n;
    return n;
}

void THttpHeaders::AppendToLast(const std::string& text) {
    if (lines_.empty())
        return;
    std::string& value = lines_.back().second;
    if (!value.empty())
        value += ' ';
    value += text;
}

bool THttpHeaders::Has(const std::string& name) const {
    for (const auto& line : lines_)
        if (SameNameIgnoringCase(line.first, name))
            return true;
    return false;
}

std::string THttpHeaders::Value(const std::string& name) const {
    for (const auto& line : lines_)
        if (SameNameIgnoringCase(line.first, name))
            return line.second;
    return std::string();
}

void ParseStatusLine(const std::string& line, THttpResponseInfo& info) {
    info.StatusLine = line;
    info.Http10 = line.size() >= 8 && line.compare(5, 3, "1.0") == 0;
    std::size_t blank = line.find(' ');
    info.ResponseText = blank == std::string::npos ? std::string() : line.substr(blank + 1);
    std::string word = info.ResponseText.substr(0, info.ResponseText.find(' '));
    int64_t code = 0;
    if (!ParseDecimal(word, code) || code < std::numeric_limits<int>::min() || code > std::numeric_limits<int>::max())
        throw EConvertError("'" + word + "' is not a valid integer value");
    info.ResponseCode = static_cast<int>(code);
}

int64_t ParseContentLength(const std::string& value) {
    int64_t n = 0;
    if (!ParseDecimal(TrimBlanks(value), n) || n < 0)
        return 0;
    return n;
}

std::optional<uint64_t> ParseChunkSize(const std::string& line) {
    std::size_t end = line.find_first_of("; ");
    std::string digits = TrimBlanks(line.substr(0, end));
    if (digits.empty() || digits.size() > 16)
        return std::nullopt;
    uint64_t value = 0;
    for (char c : digits) {
        unsigned d;
        if (c >= '0' && c <= '9')
            d = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            d = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            d = static_cast<unsigned>(c - 'A' + 10);
        else
            return std::nullopt;
        value = value * 16 + d;
    }
    return value;
}

bool IsSuccess(const THttpResponseInfo& info) {
    return info.ResponseCode >= 200 && info.ResponseCode <= 299 && !info.Headers.Has("Location");
}

std::size_t THttpResponseReader::FillOrClose() { return input_.Fill(source_, kHttpReceiveSize); }

std::string THttpResponseReader::ReadLine(const char* tooLongMessage) {
    std::size_t scanned = 0;
    for (;;) {
        const uint8_t* data = input_.Data();
        std::size_t avail = input_.Available();
        const void* lf = avail > scanned ? std::memchr(data + scanned, '\n', avail - scanned) : nullptr;
        if (lf) {
            std::size_t len = static_cast<std::size_t>(static_cast<const uint8_t*>(lf) - data);
            std::size_t textLen = (len > 0 && data[len - 1] == '\r') ? len - 1 : len;
            if (textLen > limits_.MaxLineLength)
                throw EIdException(tooLongMessage);
            std::string line(reinterpret_cast<const char*>(data), textLen);
            input_.Consume(len + 1);
            return line;
        }
        // Without its end the line may still be a CR short of the limit.
        if (avail > limits_.MaxLineLength + 1)
            throw EIdException(tooLongMessage);
        scanned = avail;
        if (FillOrClose() == 0) {
            avail = input_.Available();
            if (avail == 0)
                throw EIdConnClosedGracefully("Connection Closed Gracefully.");
            std::string line(reinterpret_cast<const char*>(input_.Data()), avail);
            input_.Consume(avail);
            if (line.size() > limits_.MaxLineLength)
                throw EIdException(tooLongMessage);
            return line;
        }
    }
}

void THttpResponseReader::ReadHead(THttpResponseInfo& info) {
    info = THttpResponseInfo();
    ParseStatusLine(ReadLine(kStatusLineTooLong), info);
    std::size_t lines = 0;
    for (;;) {
        std::string line = ReadLine(kHeaderLineTooLong);
        if (line.empty())
            break;
        if (++lines > limits_.MaxHeaderLines)
            throw EIdException(kTooManyHeaderLines);
        if (line[0] == ' ' || line[0] == '\t') {
            info.Headers.AppendToLast(TrimLeadingBlanks(line));
            continue;
        }
        std::size_t colon = line.find(':');
        if (colon == std::string::npos)
            info.Headers.Add(line, std::string());
        else
            info.Headers.Add(line.substr(0, colon), TrimLeadingBlanks(line.substr(colon + 1)));
    }
    info.ContentLength = ParseContentLength(info.Headers.Value("Content-Length"));
}

uint64_t THttpResponseReader::BodyRoomLeft(const TStream& stream) const {
    const uint64_t used = stream.Position - bodyStart_;
    return used >= limits_.MaxBodySize ? 0 : limits_.MaxBodySize - used;
}

void THttpResponseReader::ReadBody(const THttpResponseInfo& info, TStream& stream) {
    bodyStart_ = stream.Position;
    try {
        if (info.ContentLength > 0) {
            ReadCounted(stream, static_cast<uint64_t>(info.ContentLength), false);
        } else if (info.Headers.Value("Transfer-Encoding").find("chunked") != std::string::npos) {
            for (;;) {
                // A size line that is no number is a broken response: taken
                // as the last chunk, it would pass a cut-off body as whole.
                const std::optional<uint64_t> parsed = ParseChunkSize(ReadLine(kChunkLineTooLong));
                if (!parsed)
                    throw EIdBrokenResponse(kChunkSizeNotANumber);
                const uint64_t size = *parsed;
                if (size == 0) {
                    ReadLine(kChunkLineTooLong);
                    break;
                }
                ReadCounted(stream, size, false);
                ReadLine(kChunkLineTooLong);
            }
        } else {
            ReadCounted(stream, 0, true);
        }
    } catch (...) {
        // The first failure is the one to report; cutting the stream back
        // can only fail for the same reason.
        try {
            stream.SetSize(stream.Position);
        } catch (...) {
        }
        throw;
    }
    stream.SetSize(stream.Position);
}

void THttpResponseReader::ReadCounted(TStream& stream, uint64_t count, bool untilClose) {
    events_.WorkBegin(untilClose ? 0 : static_cast<int64_t>(std::min<uint64_t>(count, INT64_MAX)));
    try {
        BodyWriter writer(stream, !untilClose, std::min<uint64_t>(count, BodyRoomLeft(stream)), limits_);
        uint64_t total = 0;
        while (untilClose || total < count) {
            // With nothing buffered the bytes may go straight where the
            // stream keeps them (a big body is then copied once less).
            if (input_.Available() == 0) {
                std::size_t received = 0;
                if (ReceiveIntoStream(stream, untilClose ? UINT64_MAX : count - total, received)) {
                    if (received == 0) {
                        if (untilClose)
                            break;
                        throw EIdConnClosedGracefully("Connection Closed Gracefully.");
                    }
                    total += received;
                    events_.Work(static_cast<int64_t>(total));
                    continue;
                }
            }
            if (input_.Available() == 0 && FillOrClose() == 0) {
                if (untilClose)
                    break;
                throw EIdConnClosedGracefully("Connection Closed Gracefully.");
            }
            std::size_t take = input_.Available();
            if (!untilClose)
                take = static_cast<std::size_t>(std::min<uint64_t>(take, count - total));
            // Past the cap only what still fits is kept, then the read fails.
            const uint64_t room = BodyRoomLeft(stream);
            const bool overflow = take > room;
            if (overflow)
                take = static_cast<std::size_t>(room);
            if (take > 0) {
                writer.Write(input_.Data(), take);
                input_.Consume(take);
                total += take;
                events_.Work(static_cast<int64_t>(total));
            }
            if (overflow)
                throw EIdBodyTooLarge(kBodyTooLarge);
        }
    } catch (...) {
        events_.WorkEnd();
        throw;
    }
    events_.WorkEnd();
}

bool THttpResponseReader::ReceiveIntoStream(TStream& stream, uint64_t wanted, std::size_t& received) {
    // At the cap the usual way finds out whether more arrives, and fails.
    const uint64_t room = std::min(wanted, BodyRoomLeft(stream));
    std::size_t place = 0;
    uint8_t* into = room > 0 ? stream.WriteBuffer(place) : nullptr;
    if (!into || place == 0)
        return false;
    received = source_.Receive(into, static_cast<std::size_t>(std::min<uint64_t>(place, room)), 0);
    if (received > 0)
        stream.Wrote(received);
    return true;
}
