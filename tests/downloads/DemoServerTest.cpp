// The demo update server: nginx with demo/nginx.conf.in serves every file
// the program asks for under the addresses of the default stored texts, and
// the files are what the program relies on.
#include "tests/support/TempDir.h"
#include "tests/support/WebServers.h"

#include "http/IdHTTP.h"
#include "signature/SignatureCheck.h"
#include "transfer/core/VersionManifest.h"
#include "transfer/core/VersionText.h"

#include <gtest/gtest.h>

using namespace tests::support;

namespace {
const std::string kDemo = std::string(HALVORNE_SOURCE_DIR) + "/demo/www";

std::string Fetch(const std::string& url) {
    TIdHTTP http;
    http.ProtocolVersion = "1.0";
    http.Request.ProxyPort = 80;
    TMemoryStream s;
    http.Get(url, s);
    http.Disconnect();
    return std::string(s.Data.begin(), s.Data.end());
}
} // namespace

TEST(DemoServer, ServesEveryFileTheProgramNeeds) {
    NginxServer nginx(kDemo, {.copyRoot = true});
    ASSERT_TRUE(nginx.Running()) << nginx.Error();
    struct Case {
        std::string name;
        std::string head;
        std::string tail;
    };
    const std::vector<Case> cases = {
        {"verze.txt", "5.30\r\n", ""},
        {"EVMAJ_SETUP.ZIP", std::string("PK\x03\x04", 4), ""},
        {"DOKUMENTACE.PDF", "%PDF-1.4", "%%EOF\n"},
        {"zmeny.pdf", "%PDF-1.4", "%%EOF\n"},
        {"zmeny.html", "<!DOCTYPE html>", "</html>\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string body = Fetch(nginx.Address("halvorne") + c.name);
        EXPECT_TRUE(body == ReadFile(kDemo + "/halvorne/" + c.name)) << "served bytes differ";
        EXPECT_EQ(body.compare(0, c.head.size(), c.head), 0);
        ASSERT_GE(body.size(), c.tail.size());
        EXPECT_EQ(body.substr(body.size() - c.tail.size()), c.tail);
    }
    EXPECT_THROW(Fetch(nginx.Address("halvorne") + "CHYBI.ZIP"), EIdProtocolReplyError);
    try {
        Fetch(nginx.Address("halvorne") + "CHYBI.ZIP");
    } catch (const EIdException& e) {
        EXPECT_EQ(std::string(e.what()).rfind("404", 0), 0u) << e.what();
    }
}

TEST(DemoServer, VersionFileCarriesANewerVersionThanTheDemoInstalls) {
    const std::string v = ReadFile(kDemo + "/halvorne/verze.txt");
    const auto text = transfer::VersionTextFromFile(reinterpret_cast<const uint8_t*>(v.data()), v.size());
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text, "5.30");
    // scripts/demo passes /v:5.10 (a dialog follows), the benchmark 5.30 (exit 29).
    EXPECT_EQ(transfer::CompareVersions(*text, "5.10"), transfer::VersionComparison::ServerNewer);
    EXPECT_EQ(transfer::CompareVersions(*text, "5.30"), transfer::VersionComparison::NotNewer);
}

TEST(DemoServer, EveryFileTheProgramFetchesIsSignedWithTheDemoKeyAndListedInTheVersionFile) {
    // demo/sign-files must run again whenever demo/make-files.py changes a file.
    const auto listed = transfer::ParseVersionManifest(ReadFile(kDemo + "/halvorne/verze.txt"));
    ASSERT_TRUE(listed);
    for (const std::string name : {"verze.txt", "EVMAJ_SETUP.ZIP", "DOKUMENTACE.PDF"}) {
        SCOPED_TRACE(name);
        const std::string file = ReadFile(kDemo + "/halvorne/" + name);
        const std::string sig = ReadFile(kDemo + "/halvorne/" + name + ".minisig");
        signature::SignatureCheck check(DEMO_PUBLIC_KEY, sig, name);
        EXPECT_EQ(
            check.FinishWhole(reinterpret_cast<const uint8_t*>(file.data()), file.size()), signature::Problem::None);
        if (name != "verze.txt") {
            ASSERT_TRUE(listed->Find(name));
            EXPECT_TRUE(*listed->Find(name) == check.Digest()) << "the version file lists another hash";
        }
    }
}
