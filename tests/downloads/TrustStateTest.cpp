// The two texts behind signed updates that are not signatures: the list
// of hashes in the version file (as b2sum writes it) and the state file of
// signing times already accepted. Both at their edges; the state file also
// on disk, where a file that cannot be used must never read as empty.
#include "transfer/core/SeenSignatures.h"
#include "transfer/core/VersionManifest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace fs = std::filesystem;
using namespace transfer;

namespace {

const std::string kHex(128, 'a');
const std::string kOtherHex = std::string(127, '0') + "1";

FileHash HashOf(const std::string& hex) {
    FileHash h{};
    for (std::size_t i = 0; i < h.size(); ++i)
        h[i] = static_cast<uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    return h;
}

// A scratch folder of its own, gone with the object.
struct Scratch {
    fs::path dir;
    Scratch() {
        std::mt19937_64 gen(std::chrono::steady_clock::now().time_since_epoch().count());
        dir = fs::temp_directory_path() / ("halvorne-state-" + std::to_string(gen()));
        fs::create_directories(dir);
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::string File(const std::string& name) const { return (dir / name).string(); }
};

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

} // namespace

TEST(VersionManifest, ReadsWhatB2sumWritesAndNothingThatOnlyLooksLikeIt) {
    const std::string head = "5.30\r\nEvidence majetku 5.30 - nejnovější verze\r\n";
    struct Case {
        std::string what;
        std::string text;
        bool parses;
        std::size_t files;
    };
    const std::vector<Case> cases = {
        {"version alone", "5.30", true, 0},
        {"text only", head, true, 0},
        {"b2sum line", head + kHex + "  EVMAJ_SETUP.ZIP\n", true, 1},
        {"binary mark, CR LF, upper case", head + std::string(128, 'A') + " *DOKUMENTACE.PDF\r\n", true, 1},
        {"two files and text between", head + kHex + "  A\nnote\n" + kOtherHex + "  B", true, 2},
        {"the same line twice", head + kHex + "  A\n" + kHex + "  A\n", true, 1},
        {"a name with blanks", head + kHex + "  my setup.zip\n", true, 1},
        {"a name listed twice with two hashes", head + kHex + "  A\n" + kOtherHex + "  A\n", false, 0},
        {"hash one digit short", head + kHex.substr(1) + "  A\n", false, 0},
        {"hash one digit long", head + kHex + "a  A\n", false, 0},
        {"one blank", head + kHex + " A\n", false, 0},
        {"no name", head + kHex + "  \n", false, 0},
        {"a tagged line is text", head + "BLAKE2b (A) = " + kHex + "\n", true, 0},
        // The first line is the version's, whatever it holds.
        {"a hash on the first line", kHex + "  A\n5.30\n", true, 0},
    };
    for (const auto& c : cases) {
        const auto m = ParseVersionManifest(c.text);
        EXPECT_EQ(m.has_value(), c.parses) << c.what;
        if (m) {
            EXPECT_EQ(m->Files.size(), c.files) << c.what;
        }
    }
    const auto m = ParseVersionManifest(head + kHex + "  A\n" + kOtherHex + "  B\n");
    ASSERT_TRUE(m);
    ASSERT_TRUE(m->Find("B"));
    EXPECT_EQ(*m->Find("B"), HashOf(kOtherHex));
    EXPECT_EQ(m->Find("b"), nullptr); // names are exact
    EXPECT_EQ(FormatHashLine(HashOf(kOtherHex), "B"), kOtherHex + "  B\n");
}

TEST(SeenSignatures, KeepsTheLatestTimePerKeyAndNameAndReadsItsOwnTextBack) {
    SeenSignatures s;
    s.Remember("0123456789abcdef", "verze.txt", 200);
    s.Remember("0123456789abcdef", "verze.txt", 100); // older: the later one stays
    s.Remember("0123456789abcdef", "EVMAJ SETUP.ZIP", 7);
    s.Remember("fedcba9876543210", "verze.txt", 1);
    EXPECT_EQ(s.Latest("0123456789abcdef", "verze.txt"), 200u);
    EXPECT_EQ(s.Latest("fedcba9876543210", "verze.txt"), 1u);
    EXPECT_EQ(s.Latest("fedcba9876543210", "EVMAJ SETUP.ZIP"), std::nullopt);
    std::string error;
    const auto back = SeenSignatures::Parse(s.Format(), error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(back->Format(), s.Format());
    EXPECT_EQ(back->Latest("0123456789abcdef", "EVMAJ SETUP.ZIP"), 7u);

    const std::vector<std::string> broken = {"0123456789abcdef 5 a", // no line end: cut off
        "0123456789ABCDEF 5 a\n", "0123456789abcde 5 a\n", "0123456789abcdef  5 a\n", "0123456789abcdef 5\n",
        "0123456789abcdef 5 \n", "0123456789abcdef x a\n", "0123456789abcdef 99999999999999999999 a\n", "garbage\n"};
    for (const auto& text : broken)
        EXPECT_FALSE(SeenSignatures::Parse(text, error)) << text;
    EXPECT_TRUE(SeenSignatures::Parse("# comment\n\n", error));
}

TEST(SeenSignatures, TheStateFileOnDisk) {
    Scratch scratch;
    const std::string path = scratch.File("halvorne/seen-signatures.txt");
    const std::string key = "0123456789abcdef";
    // No file yet: everything is new, and the first time is kept.
    EXPECT_EQ(CheckSigningTime(path, key, "verze.txt", 100, true).Verdict, SeenVerdict::Accepted);
    EXPECT_EQ(CheckSigningTime(path, key, "verze.txt", 100, true).Verdict, SeenVerdict::Accepted); // the same again
    EXPECT_EQ(CheckSigningTime(path, key, "verze.txt", 99, true).Verdict, SeenVerdict::Older);
    EXPECT_EQ(CheckSigningTime(path, key, "DOKUMENTACE.PDF", 1, false).Verdict, SeenVerdict::Accepted);
    // Without remember nothing is kept.
    EXPECT_EQ(CheckSigningTime(path, key, "verze.txt", 150, false).Verdict, SeenVerdict::Accepted);
    EXPECT_EQ(CheckSigningTime(path, key, "verze.txt", 120, false).Verdict, SeenVerdict::Accepted);
    // A state file that cannot be used is an error naming it, never an empty state.
    Write(path, "not a state file\n");
    SeenCheck bad = CheckSigningTime(path, key, "verze.txt", 1, true);
    EXPECT_EQ(bad.Verdict, SeenVerdict::StateUnusable);
    EXPECT_NE(bad.Error.find(path), std::string::npos) << bad.Error;
    EXPECT_NE(bad.Error.find("line 1 "), std::string::npos) << bad.Error;
    Write(path, std::string(kMaxSeenSignaturesFileSize + 1, '#'));
    EXPECT_EQ(CheckSigningTime(path, key, "verze.txt", 1, true).Verdict, SeenVerdict::StateUnusable);
    // Deleted, the program starts over (the README's way to reset it).
    fs::remove(path);
    EXPECT_EQ(CheckSigningTime(path, key, "verze.txt", 1, true).Verdict, SeenVerdict::Accepted);
    // A directory where the file should be, and no directory for it at all.
    fs::remove(path);
    fs::create_directory(path);
    EXPECT_EQ(CheckSigningTime(path, key, "verze.txt", 1, true).Verdict, SeenVerdict::StateUnusable);
    EXPECT_EQ(CheckSigningTime("", key, "verze.txt", 1, true).Verdict, SeenVerdict::StateUnusable);
}
