// Stored texts survive the build byte for byte: a punctuation-heavy launch
// marker, blanks at both ends, quotes, backslashes, ';' and '#', an empty
// text. The values here must match the ones given to
// halvorne_add_stored_texts(startup_tricky_texts ...) in CMakeLists.txt.
#include "startup/core/StoredTextValues.h"
#include "startup/core/StoredTexts.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

TEST(StoredTexts, TrickyValuesSurviveTheBuild) {
    EXPECT_EQ(startup::stored::LaunchMarkerFirst(), '\\');
    EXPECT_EQ(startup::stored::LaunchMarkerSecond(), ';');
    EXPECT_EQ(startup::stored::LaunchMarkerThird(), '"');
    EXPECT_EQ(startup::UnscrambleText(startup::stored::VersionDirAddress()), "http://127.0.0.1:1/a;b#c/");
    EXPECT_EQ(startup::UnscrambleText(startup::stored::VersionFileName()), "  two blanks each side  ");
    EXPECT_EQ(startup::UnscrambleText(startup::stored::NewVersionFileName()), "quote\"back\\slash");
    EXPECT_EQ(startup::UnscrambleText(startup::stored::DokumFileName()), "");
    EXPECT_EQ(startup::UnscrambleText(startup::stored::ChangesHtmlAddress()), "změny ěščř.html");
    EXPECT_EQ(startup::UnscrambleText(startup::stored::ChangesPdfAddress()), std::string(255, 'p'));
    EXPECT_EQ(startup::UnscrambleText(startup::stored::CaptionNotice()), " ; (c) 'x' # ");
    EXPECT_EQ(startup::UnscrambleText(startup::stored::UpdatePublicKey()),
        "RWR5V+3DUmfvnqFGyeYAOXLAHzF37F1hMUCwDNkJag70vvK9UaieuwQh");
}

TEST(StoredTexts, StoredBytesDifferFromThePlainText) {
    // Each stored byte is scrambled, so no run of the plain text is left.
    const std::string plain = "http://127.0.0.1:1/a;b#c/";
    const std::string_view stored = startup::stored::VersionDirAddress();
    ASSERT_EQ(stored.size(), plain.size());
    for (std::size_t i = 0; i < plain.size(); ++i)
        EXPECT_NE(stored[i], plain[i]) << i;
}

TEST(StoredTexts, ScrambleAndUnscrambleAreInverse) {
    constexpr auto stored = startup::ScrambleText<6>(std::array<unsigned char, 6>{'a', 'a', 'a', '/', '/', 0xE8});
    EXPECT_EQ(startup::UnscrambleText(stored), "aaa//\xE8");
    // The key depends on the position: equal characters do not repeat.
    EXPECT_NE(stored[0], stored[1]);
    EXPECT_NE(stored[3], stored[4]);
    EXPECT_EQ(startup::UnscrambleText(std::string_view(reinterpret_cast<const char*>(stored.data()), stored.size())),
        "aaa//\xE8");
}

} // namespace
