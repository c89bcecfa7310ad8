// Text from outside: code page 1250 turned into UTF-8 where it enters, and
// the test that tells UTF-8 from anything else.
#include "transfer/core/Cp1250.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#ifndef _WIN32
#include <iconv.h>
#endif

namespace {

using transfer::Cp1250ToUtf8;
using transfer::IsUtf8;
using transfer::Utf8OrCp1250;

std::string Utf8Of(char32_t c) {
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

// A sequence between two plain characters. Built by appending: GCC 12
// warns about the temporaries of "x" + s + "y" at -O3.
std::string Framed(const std::string& s) {
    std::string framed = "x";
    framed.append(s);
    framed.push_back('y');
    return framed;
}

TEST(Cp1250, CzechLettersOfTheVersionFile) {
    // "Verze 5.12 - nová: ěščřžýáíéúůťďň" as the publisher's editor saves it.
    const std::string bytes = "nov\xE1: \xEC\x9A\xE8\xF8\x9E\xFD\xE1\xED\xE9\xFA\xF9\x9D\xEF\xF2 \xCC\x8A\xC8\xD8\x8E";
    EXPECT_EQ(Cp1250ToUtf8(bytes), "nová: ěščřžýáíéúůťďň ĚŠČŘŽ");
    EXPECT_EQ(Cp1250ToUtf8("5.12"), "5.12");
    EXPECT_EQ(Cp1250ToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
    // The five bytes the code page leaves undefined.
    for (const char b : {'\x81', '\x83', '\x88', '\x90', '\x98'})
        EXPECT_EQ(Cp1250ToUtf8(std::string(1, b)), "\xEF\xBF\xBD");
}

// Whatever the bytes, what comes out is UTF-8 that reads back to as many
// characters as there were bytes.
TEST(Cp1250, AnyBytesBecomeWellFormedUtf8OfTheSameLength) {
    std::mt19937_64 gen(1250);
    for (int i = 0; i < 5000; ++i) {
        std::string bytes(gen() % 64, '\0');
        for (char& b : bytes)
            b = static_cast<char>(gen());
        const std::string text = Cp1250ToUtf8(bytes);
        ASSERT_TRUE(IsUtf8(text));
        std::size_t characters = 0;
        for (const char c : text)
            characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        ASSERT_EQ(characters, bytes.size());
    }
}

#ifndef _WIN32
// Every byte as the system's converter reads code page 1250.
TEST(Cp1250, EveryByteAsTheSystemConverterReadsIt) {
    iconv_t cd = iconv_open("UTF-8", "CP1250");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    for (int b = 0; b < 256; ++b) {
        char in[1] = {static_cast<char>(b)};
        char out[8] = {};
        char* inp = in;
        char* outp = out;
        std::size_t inLeft = 1, outLeft = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        const std::size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
        const std::string expected = r == static_cast<std::size_t>(-1) ? "\xEF\xBF\xBD" : std::string(out, outp);
        EXPECT_EQ(Cp1250ToUtf8(std::string(1, static_cast<char>(b))), expected) << "byte " << b;
    }
    iconv_close(cd);
}
#endif

// Every code point encoded is UTF-8; cutting its last byte off, an
// overlong form, a surrogate or a value beyond U+10FFFF is not.
TEST(Utf8, WellFormedAndBrokenSequencesOverGeneratedCodePoints) {
    std::mt19937 gen(8);
    for (int i = 0; i < 20000; ++i) {
        char32_t c = gen() % 0x110000;
        if (c >= 0xD800 && c <= 0xDFFF)
            c -= 0x800;
        const std::string s = Utf8Of(c);
        const auto code = static_cast<unsigned long>(c);
        ASSERT_TRUE(IsUtf8(Framed(s))) << std::hex << code;
        if (s.size() > 1) {
            ASSERT_FALSE(IsUtf8(Framed(s.substr(0, s.size() - 1)))) << std::hex << code;
        }
    }
    EXPECT_FALSE(IsUtf8("\xC0\xA0"));         // an overlong space
    EXPECT_FALSE(IsUtf8("\xE0\x80\xAF"));     // an overlong slash
    EXPECT_FALSE(IsUtf8("\xED\xA0\x80"));     // a surrogate
    EXPECT_FALSE(IsUtf8("\xF4\x90\x80\x80")); // beyond U+10FFFF
    EXPECT_FALSE(IsUtf8("\x80"));
    EXPECT_FALSE(IsUtf8("\xFF"));
    EXPECT_TRUE(IsUtf8(""));
}

TEST(Utf8, OwnTextsStayServerTextsInTheCodePageAreRead) {
    EXPECT_EQ(Utf8OrCp1250("Staženo"), "Staženo");
    EXPECT_EQ(Utf8OrCp1250("Sta\x9E"
                           "eno"),
        "Staženo");
    EXPECT_EQ(Utf8OrCp1250("Error 404"), "Error 404");
}

} // namespace
