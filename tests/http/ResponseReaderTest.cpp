#include "http/HttpResponse.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// Feeds scripted bytes in pieces of at most `split` bytes; then reports a
// close (or throws, to stand in for a socket error).
class FakeSource : public THttpByteSource {
public:
    FakeSource(std::string bytes, std::size_t split) : bytes_(std::move(bytes)), split_(split) {}
    std::size_t Receive(uint8_t* buffer, std::size_t capacity, std::size_t) override {
        ++calls;
        if (pos_ >= bytes_.size()) {
            ++closes;
            if (throwAtEnd)
                throw EIdSocketError(10054, "Socket Error # 10054\r\nConnection reset by peer.");
            return 0;
        }
        std::size_t n = std::min({split_, capacity, bytes_.size() - pos_});
        std::copy(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_),
            bytes_.begin() + static_cast<std::ptrdiff_t>(pos_ + n), buffer);
        pos_ += n;
        return n;
    }
    int calls = 0;
    int closes = 0;
    bool throwAtEnd = false;

private:
    std::string bytes_;
    std::size_t split_;
    std::size_t pos_ = 0;
};

class EventLog : public THttpWorkEvents {
public:
    void WorkBegin(int64_t expected) override { log.push_back("begin " + std::to_string(expected)); }
    void Work(int64_t total) override {
        lastTotal = total;
        ++works;
    }
    void WorkEnd() override { log.push_back("end " + std::to_string(lastTotal)); }
    std::vector<std::string> log;
    int64_t lastTotal = 0;
    int works = 0;
};

struct Result {
    THttpResponseInfo info;
    std::string body;
    std::vector<std::string> events;
    std::string error;
    int works = 0;
    std::size_t capacity = 0;
    bool overrun = false; // the reader wrote past the place it was given
};

// A memory stream that, like a file stream writing in the background,
// offers a place of `place` bytes to receive into directly; it checks that
// the reader never takes more than the room it gave.
class PlacedStream : public TMemoryStream {
public:
    explicit PlacedStream(std::size_t place) : room_(place), scratch_(place + kGuard, kCanary) {}
    uint8_t* WriteBuffer(std::size_t& room) override {
        room = room_;
        given_ = true;
        return scratch_.data();
    }
    void Wrote(std::size_t n) override {
        if (!given_ || n > room_ ||
            std::any_of(scratch_.end() - kGuard, scratch_.end(), [](uint8_t b) { return b != kCanary; }))
            overrun = true;
        given_ = false;
        Write(scratch_.data(), n);
    }
    bool overrun = false;

private:
    static constexpr std::size_t kGuard = 16;
    static constexpr uint8_t kCanary = 0xA5;
    std::size_t room_;
    std::vector<uint8_t> scratch_;
    bool given_ = false;
};

// place 0: a plain memory stream; else a PlacedStream of that place.
Result ReadAll(const std::string& bytes, std::size_t split, THttpLimits limits = {}, bool throwAtEnd = false,
    std::size_t place = 0) {
    FakeSource src(bytes, split);
    src.throwAtEnd = throwAtEnd;
    THttpInputBuffer input;
    EventLog ev;
    THttpResponseReader reader(src, input, ev, limits);
    Result r;
    PlacedStream placed(place);
    TMemoryStream plain;
    TMemoryStream& stream = place > 0 ? placed : plain;
    try {
        reader.ReadHead(r.info);
        reader.ReadBody(r.info, stream);
    } catch (const EIdException& e) {
        r.error = e.Message();
    }
    r.body.assign(stream.Data.begin(), stream.Data.end());
    r.events = ev.log;
    r.works = ev.works;
    r.capacity = stream.Data.capacity();
    r.overrun = placed.overrun;
    return r;
}

// ---- pieces -----------------------------------------------------------

TEST(StatusLine, Table) {
    struct Case {
        const char* line;
        const char* text;
        int code;
        bool http10;
        const char* error;
    } cases[] = {
        {"HTTP/1.0 200 OK", "200 OK", 200, true, ""},
        {"HTTP/1.1 404 Not Found", "404 Not Found", 404, false, ""},
        {"HTTP/1.0 302 Found", "302 Found", 302, true, ""},
        {"HTTP/1.0 500", "500", 500, true, ""},
        {"HTTP/1.0 abc Broken", "abc Broken", 0, true, "'abc' is not a valid integer value"},
        {"HTTP/1.0 2OO OK", "2OO OK", 0, true, "'2OO' is not a valid integer value"},
        {"HTTP/1.0", "", 0, true, "'' is not a valid integer value"},
        {"HTTP/1.0 99999999999 Big", "99999999999 Big", 0, true, "'99999999999' is not a valid integer value"},
        {"ICY 200 OK", "200 OK", 200, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        THttpResponseInfo info;
        std::string error;
        try {
            ParseStatusLine(c.line, info);
        } catch (const EConvertError& e) {
            error = e.Message();
        }
        EXPECT_EQ(info.ResponseText, c.text);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(info.Http10, c.http10);
        if (!*c.error) {
            EXPECT_EQ(info.ResponseCode, c.code);
        }
    }
}

TEST(ContentLengthValue, Table) {
    struct Case {
        const char* value;
        int64_t expected;
    } cases[] = {{"10", 10}, {" 10 ", 10}, {"0", 0}, {"", 0}, {"abc", 0}, {"10abc", 0}, {"-5", 0}, {"+7", 7},
        {"99999999999999999999", 0}, {"268435456", 268435456}, {"9223372036854775807", INT64_MAX}};
    for (const auto& c : cases)
        EXPECT_EQ(ParseContentLength(c.value), c.expected) << c.value;
}

TEST(ChunkSizeLine, Table) {
    struct Case {
        const char* line;
        std::optional<uint64_t> expected;
    } cases[] = {{"a", 10}, {"A", 10}, {"1f", 31}, {"1F;name=value", 31}, {"5 ; x", 5}, {"10;", 16}, {"0", 0},
        {"zz", std::nullopt}, {"", std::nullopt}, {"-1", std::nullopt}, {"12345678", 0x12345678},
        {"ffffffffffffffff", UINT64_MAX}, {"1ffffffffffffffff", std::nullopt}, {"0x10", std::nullopt},
        {";ext", std::nullopt}};
    for (const auto& c : cases)
        EXPECT_EQ(ParseChunkSize(c.line), c.expected) << c.line;
}

TEST(Headers, FirstWinsFoldingAndCase) {
    Result r = ReadAll("HTTP/1.0 200 OK\r\n"
                       "content-type: text/plain\r\n"
                       "X-Long: first part\r\n"
                       "   second part\r\n"
                       "\tthird\r\n"
                       "Content-Type: application/other\r\n"
                       "Server:    nginx\r\n"
                       "NoColonLine\r\n"
                       "Empty:\r\n"
                       "Content-Length: 0\r\n"
                       "\r\n",
        1000);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.info.Headers.Value("Content-Type"), "text/plain");
    EXPECT_EQ(r.info.Headers.Value("x-long"), "first part second part third");
    EXPECT_EQ(r.info.Headers.Value("SERVER"), "nginx");
    EXPECT_TRUE(r.info.Headers.Has("NoColonLine"));
    EXPECT_TRUE(r.info.Headers.Has("Empty"));
    EXPECT_FALSE(r.info.Headers.Has("Location"));
}

TEST(SuccessRule, Table) {
    struct Case {
        int code;
        bool location;
        bool success;
    } cases[] = {{200, false, true}, {204, false, true}, {299, false, true}, {200, true, false}, {302, false, false},
        {302, true, false}, {304, false, false}, {100, false, false}, {404, false, false}, {500, false, false},
        {300, false, false}};
    for (const auto& c : cases) {
        THttpResponseInfo info;
        info.ResponseCode = c.code;
        if (c.location)
            info.Headers.Add("Location", "http://elsewhere/");
        EXPECT_EQ(IsSuccess(info), c.success) << c.code << " " << c.location;
    }
}

// ---- whole responses in every split ------------------------------------

struct BodyCase {
    const char* name;
    std::string bytes;
    std::string body;
    std::string error;
    std::vector<std::string> events; // begin/end pairs with totals
};

std::vector<BodyCase> BodyCases() {
    return {
        {"counted", "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n0123456789", "0123456789", "",
            {"begin 10", "end 10"}},
        {"counted with extra bytes after", "HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nabcdEXTRA", "abcd", "",
            {"begin 4", "end 4"}},
        {"zero length reads until close", "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\nuntil close", "until close", "",
            {"begin 0", "end 11"}},
        {"no length reads until close", "HTTP/1.0 200 OK\nServer: x\n\nbare LF lines", "bare LF lines", "",
            {"begin 0", "end 13"}},
        {"negative length counts as absent", "HTTP/1.0 200 OK\r\nContent-Length: -3\r\n\r\nabcdef", "abcdef", "",
            {"begin 0", "end 6"}},
        {"length not a number reads 0", "HTTP/1.0 200 OK\r\nContent-Length: ten\r\n\r\nabc", "abc", "",
            {"begin 0", "end 3"}},
        {"folded length", "HTTP/1.0 200 OK\r\nContent-Length:\r\n 3\r\n\r\nabcdef", "abc", "", {"begin 3", "end 3"}},
        {"first of two lengths", "HTTP/1.0 200 OK\r\nContent-Length: 2\r\nContent-Length: 5\r\n\r\nabcdef", "ab", "",
            {"begin 2", "end 2"}},
        {"half a counted body", "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n01234", "01234",
            "Connection Closed Gracefully.", {"begin 10", "end 5"}},
        {"chunked with extensions",
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;name=value\r\nhello\r\n6 \r\n world\r\n0\r\n\r\n",
            "hello world", "", {"begin 5", "end 5", "begin 6", "end 6"}},
        {"chunked upper-case hex", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nA\r\n0123456789\r\n0\r\n\r\n",
            "0123456789", "", {"begin 10", "end 10"}},
        {"chunked bad size is a broken response",
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\nzz\r\n\r\nignored", "abc",
            kChunkSizeNotANumber, {"begin 3", "end 3"}},
        {"chunked word is case sensitive", "HTTP/1.1 200 OK\r\nTransfer-Encoding: CHUNKED\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
            "3\r\nabc\r\n0\r\n\r\n", "", {"begin 0", "end 13"}},
        {"chunked cut in a chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n8\r\nabc", "abc",
            "Connection Closed Gracefully.", {"begin 8", "end 3"}},
        {"chunked cut before the last line", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n",
            "abc", "Connection Closed Gracefully.", {"begin 3", "end 3"}},
        {"length wins over chunked",
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n3\r\nabc", "3\r\n", "",
            {"begin 3", "end 3"}},
        {"close before status line", "", "", "Connection Closed Gracefully.", {}},
        {"close inside headers", "HTTP/1.0 200 OK\r\nServer: x\r\n", "", "Connection Closed Gracefully.", {}},
        {"status not a number", "HTTP/1.0 OK fine\r\n\r\nbody", "", "'OK' is not a valid integer value", {}},
        {"error status body is read", "HTTP/1.0 404 Not Found\r\nContent-Length: 4\r\n\r\nnope", "nope", "",
            {"begin 4", "end 4"}},
    };
}

// Also when the stream offers a place to receive the body into directly
// (of any size, smaller or larger than what arrives at once).
TEST(ResponseReader, SameResultInEverySplit) {
    for (const BodyCase& c : BodyCases()) {
        for (std::size_t split :
            {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7}, std::size_t{16}, std::size_t{1000}}) {
            for (std::size_t place : {std::size_t{0}, std::size_t{1}, std::size_t{5}, std::size_t{4096}}) {
                SCOPED_TRACE(
                    std::string(c.name) + " split " + std::to_string(split) + " place " + std::to_string(place));
                Result r = ReadAll(c.bytes, split, {}, false, place);
                EXPECT_EQ(r.body, c.body);
                EXPECT_EQ(r.error, c.error);
                EXPECT_EQ(r.events, c.events);
                EXPECT_FALSE(r.overrun);
            }
        }
    }
}

TEST(ResponseReader, BodyWithHeaderBlockGivesOneWorkEvent) {
    Result r = ReadAll("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n0123456789", 4096);
    EXPECT_EQ(r.events, (std::vector<std::string>{"begin 10", "end 10"}));
    EXPECT_EQ(r.works, 1);
}

TEST(ResponseReader, StreamWrittenFromItsPositionAndCut) {
    FakeSource src("HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nxyz", 5);
    THttpInputBuffer input;
    EventLog ev;
    THttpResponseReader reader(src, input, ev);
    TMemoryStream stream;
    const std::string old = "abcdefghij";
    stream.Write(reinterpret_cast<const uint8_t*>(old.data()), old.size());
    stream.Position = 2;
    THttpResponseInfo info;
    reader.ReadHead(info);
    reader.ReadBody(info, stream);
    EXPECT_EQ(std::string(stream.Data.begin(), stream.Data.end()), "abxyz");
    EXPECT_EQ(stream.Position, 5u);
}

TEST(ResponseReader, SocketErrorInBodyEndsWorkAndKeepsBytes) {
    for (std::size_t place : {std::size_t{0}, std::size_t{2}, std::size_t{4096}}) {
        SCOPED_TRACE("place " + std::to_string(place));
        Result r = ReadAll("HTTP/1.0 200 OK\r\n\r\npartial", 3, {}, true, place);
        EXPECT_EQ(r.error, "Socket Error # 10054\r\nConnection reset by peer.");
        EXPECT_EQ(r.body, "partial");
        EXPECT_EQ(r.events, (std::vector<std::string>{"begin 0", "end 7"}));
    }
}

// ---- hostile sizes and lines -----------------------------------------

TEST(ResponseLimits, LongLinesAndManyHeaders) {
    THttpLimits small;
    small.MaxLineLength = 64;
    small.MaxHeaderLines = 5;
    std::string longText(65, 'x');
    struct Case {
        const char* name;
        std::string bytes;
        std::string error;
    } cases[] = {
        {"status line", "HTTP/1.0 200 " + longText + "\r\n\r\n", kStatusLineTooLong},
        {"status line without end", "HTTP/1.0 200 " + longText + longText, kStatusLineTooLong},
        {"header line", "HTTP/1.0 200 OK\r\nX: " + longText + "\r\n\r\n", kHeaderLineTooLong},
        {"chunk line", "HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + longText + "\r\n", kChunkLineTooLong},
        {"header count", "HTTP/1.0 200 OK\r\nA: 1\r\nB: 2\r\nC: 3\r\nD: 4\r\nE: 5\r\nF: 6\r\n\r\n",
            kTooManyHeaderLines},
        {"folded lines count too", "HTTP/1.0 200 OK\r\nA: 1\r\n 2\r\n 3\r\n 4\r\n 5\r\n 6\r\n\r\n",
            kTooManyHeaderLines},
        {"just within limits",
            "HTTP/1.0 200 OK\r\nA: 1\r\nB: 2\r\nC: 3\r\nD: 4\r\nX: " + std::string(61, 'y') + "\r\n\r\n", ""},
    };
    for (const auto& c : cases) {
        for (std::size_t split : {std::size_t{1}, std::size_t{9}, std::size_t{4096}}) {
            SCOPED_TRACE(std::string(c.name) + " split " + std::to_string(split));
            EXPECT_EQ(ReadAll(c.bytes, split, small).error, c.error);
        }
    }
}

TEST(ResponseLimits, DefaultLineCapIs64KiB) {
    std::string ok = "HTTP/1.0 200 OK\r\nX: " + std::string(64 * 1024 - 3, 'a') + "\r\n\r\n";
    EXPECT_EQ(ReadAll(ok, 5000).error, "");
    std::string tooLong = "HTTP/1.0 200 OK\r\nX: " + std::string(64 * 1024 - 2, 'a') + "\r\n\r\n";
    EXPECT_EQ(ReadAll(tooLong, 5000).error, kHeaderLineTooLong);
    std::string many = "HTTP/1.0 200 OK\r\n";
    for (int i = 0; i < 1001; ++i)
        many += "X-" + std::to_string(i) + ": v\r\n";
    EXPECT_EQ(ReadAll(many + "\r\n", 4096).error, kTooManyHeaderLines);
}

TEST(ResponseLimits, HugeDeclaredSizesReserveOnlyTheStartBlock) {
    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"content length", "HTTP/1.0 200 OK\r\nContent-Length: 107374182400\r\n\r\n0123456789"},
        {"chunk size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFF\r\n0123456789"},
    };
    THttpLimits small;
    small.MaxPresize = 1 << 20;
    small.GrowthStart = 64 * 1024;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Result r = ReadAll(c.bytes, 4096, small);
        EXPECT_EQ(r.error, "Connection Closed Gracefully.");
        EXPECT_EQ(r.body, "0123456789");
        EXPECT_EQ(r.capacity, std::size_t{64 * 1024});
        Result d = ReadAll(c.bytes, 4096);
        EXPECT_EQ(d.body, "0123456789");
        EXPECT_EQ(d.capacity, THttpLimits().GrowthStart);
    }
}

TEST(ResponseLimits, GrowthFollowsArrivingBytes) {
    THttpLimits limits;
    limits.MaxPresize = 1000;
    limits.GrowthStart = 500;
    limits.TrustFactor = 4;
    std::string body(300000, 'q');
    // Declared 1,000,000: once a quarter of it has arrived the declared
    // size is reserved in one step.
    Result trusted = ReadAll("HTTP/1.0 200 OK\r\nContent-Length: 1000000\r\n\r\n" + body, 7000, limits);
    EXPECT_EQ(trusted.error, "Connection Closed Gracefully.");
    EXPECT_EQ(trusted.body, body);
    EXPECT_EQ(trusted.capacity, 1000000u);
    // Declared far more than ever arrives: the reservation only doubles.
    Result doubling = ReadAll("HTTP/1.0 200 OK\r\nContent-Length: 100000000\r\n\r\n" + body, 7000, limits);
    EXPECT_EQ(doubling.body, body);
    EXPECT_GE(doubling.capacity, body.size());
    EXPECT_LE(doubling.capacity, 2 * body.size());
    // A declared size within the limit is reserved exactly, once.
    Result exact = ReadAll("HTTP/1.0 200 OK\r\nContent-Length: 900\r\n\r\n" + std::string(900, 'z'), 7, limits);
    EXPECT_EQ(exact.capacity, 900u);
    EXPECT_EQ(exact.error, "");
}

TEST(ResponseLimits, BodySizeIsCapped) {
    THttpLimits limits;
    limits.MaxBodySize = 100;
    std::string body(150, 'b');
    struct Case {
        const char* name;
        std::string bytes;
        std::size_t split;
        std::string kept;
    } cases[] = {
        {"until close", "HTTP/1.0 200 OK\r\n\r\n" + body, 50, std::string(100, 'b')},
        {"counted", "HTTP/1.0 200 OK\r\nContent-Length: 150\r\n\r\n" + body, 1000, std::string(100, 'b')},
        {"chunked",
            "HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3c\r\n" + std::string(60, 'c') + "\r\n3c\r\n" +
                std::string(60, 'd') + "\r\n0\r\n\r\n",
            1000, std::string(60, 'c') + std::string(40, 'd')},
        {"exactly at the cap", "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n" + std::string(100, 'e'), 7,
            std::string(100, 'e')},
    };
    for (const auto& c : cases) {
        for (std::size_t place : {std::size_t{0}, std::size_t{7}, std::size_t{4096}}) {
            SCOPED_TRACE(std::string(c.name) + " place " + std::to_string(place));
            Result r = ReadAll(c.bytes, c.split, limits, false, place);
            EXPECT_EQ(r.error, std::string(c.name) == "exactly at the cap" ? "" : kBodyTooLarge);
            EXPECT_EQ(r.body, c.kept);
            EXPECT_FALSE(r.overrun);
        }
    }
}

#if defined(__SANITIZE_ADDRESS__)
#define HTTP_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HTTP_UNDER_ASAN 1
#endif
#endif

TEST(ResponseLimits, AllocationFailureIsAnError) {
#ifdef HTTP_UNDER_ASAN
    GTEST_SKIP() << "the sanitizer's allocator aborts instead of failing";
#else
    THttpLimits limits;
    limits.MaxPresize = SIZE_MAX;
    limits.MaxBodySize = UINT64_MAX;
    Result r = ReadAll("HTTP/1.0 200 OK\r\nContent-Length: 4611686018427387904\r\n\r\nabc", 4096, limits);
    EXPECT_EQ(r.error, kOutOfMemory);
    EXPECT_EQ(r.events, (std::vector<std::string>{"begin 4611686018427387904", "end 0"}));
#endif
}

} // namespace
