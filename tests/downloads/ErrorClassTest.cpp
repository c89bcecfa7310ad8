#include "transfer/core/ErrorClass.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

using transfer::ClassifyError;

TEST(ClassifyError, ByTextInTheDocumentedOrder) {
    struct Case {
        std::string text;
        int code;
        bool show;
        std::string message;
    };
    const std::string hint = transfer::kConnectionHint;
    const std::vector<Case> cases = {
        {"Socket Error # 10061\r\nConnection refused.", 55, true, hint},
        {"Socket Error # 11001\r\n", 55, true, hint},
        {"Socket Error # 404\r\n", 55, true, hint}, // socket error wins over 404
        {"404 Not Found", 29, false, ""},
        {"HTTP 404", 29, false, ""},
        {"500 Internal Server Error", 99, true, "500 Internal Server Error"},
        {"302 Found", 99, true, "302 Found"},
        {"Connection Closed Gracefully.", 99, true, "Connection Closed Gracefully."},
        {"socket error # 1", 99, true, "socket error # 1"}, // case-sensitive
        {"40 4", 99, true, "40 4"},
        {"", 99, false, ""},
    };
    for (const auto& c : cases) {
        const auto r = ClassifyError(c.text);
        EXPECT_EQ(r.ExitCode, c.code) << c.text;
        EXPECT_EQ(r.ShowMessage, c.show) << c.text;
        EXPECT_EQ(r.Message, c.message) << c.text;
    }
}

TEST(ClassifyError, HintIsTheExactCzechText) {
    EXPECT_EQ(std::string(transfer::kConnectionHint),
        "Zkontrolujte nastavení připojení, firewallu a funkčnost zařízení pro připojení "
        "k internetu a akci zopakujte!");
}

TEST(DescribeCurrentException, GivesATextForEveryKindOfFailure) {
    auto describe = [](auto thrower) {
        try {
            thrower();
        } catch (...) {
            return transfer::DescribeCurrentException();
        }
        return std::string("not thrown");
    };
    EXPECT_EQ(describe([] { throw std::runtime_error("404 Not Found"); }), "404 Not Found");
    EXPECT_EQ(describe([] { throw std::bad_alloc(); }), transfer::kOutOfMemoryText);
    EXPECT_EQ(describe([] { throw std::runtime_error(""); }), transfer::kUnknownFailureText);
    EXPECT_EQ(describe([] { throw 42; }), transfer::kUnknownFailureText);
}
