#include "transfer/core/ErrorClass.h"

#include "http/IdExceptions.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

template <typename Thrower>
transfer::ErrorClass Classify(Thrower thrower) {
    try {
        thrower();
    } catch (...) {
        return transfer::ClassifyCurrentException();
    }
    return {};
}

} // namespace

TEST(ClassifyError, ByKindAndStatusNeverByText) {
    const std::string hint = transfer::kConnectionHint;
    struct Case {
        const char* what;
        transfer::ErrorClass got;
        int code;
        bool show;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"socket", Classify([] { throw EIdSocketError(10061, "Socket Error # 10061\r\nConnection refused."); }), 55,
            true, hint},
        {"socket error whose code reads 404", Classify([] { throw EIdSocketError(404, "Socket Error # 404\r\n"); }), 55,
            true, hint},
        {"404", Classify([] { throw EIdProtocolReplyError(404, "404 Not Found"); }), 29, false, ""},
        // A reason phrase is the server's to choose: it classifies nothing.
        {"500 whose reason says 404", Classify([] { throw EIdProtocolReplyError(500, "500 Socket Error 404"); }), 99,
            true, "500 Socket Error 404"},
        {"302", Classify([] { throw EIdProtocolReplyError(302, "302 Found"); }), 99, true, "302 Found"},
        {"closed", Classify([] { throw EIdConnClosedGracefully("Connection Closed Gracefully."); }), 99, true,
            "Connection Closed Gracefully."},
        {"text that merely looks like a socket error", Classify([] { throw std::runtime_error("Socket Error # 1"); }),
            99, true, "Socket Error # 1"},
        {"broken chunked body", Classify([] { throw EIdBrokenResponse("chunk size"); }), 55, true, hint},
        {"proxy refused with 404", Classify([] { throw EIdProxyRefused(404, "404 Not Found"); }), 55, true,
            "Proxy server odmítl spojení se serverem, jeho odpověď: 404 Not Found\r\n" + hint},
        {"proxy whose reason poses as a certificate",
            Classify([] { throw EIdProxyRefused(403, "403 TLS Certificate Error # 10"); }), 55, true,
            "Proxy server odmítl spojení se serverem, jeho odpověď: 403 TLS Certificate Error # 10\r\n" + hint},
        {"certificate expired",
            Classify([] { throw EIdTlsError(10, "TLS Certificate Error # 10\r\ncertificate has expired"); }), 55, true,
            "Zabezpečené spojení se serverem nelze navázat: platnost certifikátu serveru vypršela."},
        {"unknown certificate code", Classify([] { throw EIdTlsError(77, "TLS Certificate Error # 77\r\nodd"); }), 55,
            true, "Zabezpečené spojení se serverem nelze navázat: certifikát serveru nelze ověřit (odd)."},
        {"handshake", Classify([] { throw EIdTlsError(0, "TLS Error: handshake failed"); }), 55, true,
            "Chyba zabezpečeného spojení: handshake failed"},
        {"empty status text", Classify([] { throw EIdProtocolReplyError(500, ""); }), 99, false, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.got.ExitCode, c.code) << c.what;
        EXPECT_EQ(c.got.ShowMessage, c.show) << c.what;
        EXPECT_EQ(c.got.Message, c.message) << c.what;
        // Only a failed secure connection is named where others pass silently.
        EXPECT_EQ(c.got.SecureConnection,
            c.message.find("zabezpečen") != std::string::npos || c.message.find("Zabezpečen") != std::string::npos)
            << c.what;
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
