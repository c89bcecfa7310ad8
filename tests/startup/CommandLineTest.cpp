// Command-line splitting, parameter extraction and the run parameters that
// master creation derives from the arguments.
#include "startup/core/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using startup::TLaunchMarker;
using Args = std::vector<std::string>;

// The separator the program adds to a directory: the platform's own.
#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

namespace {

struct SplitCase {
    const char* name;
    std::string commandLine;
    Args expected;
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.name; }

class SplitCommandLineTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLineTest, SplitsLikeTheHostsCommandLine) {
    EXPECT_EQ(startup::SplitCommandLine(GetParam().commandLine), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, SplitCommandLineTest,
    ::testing::Values(SplitCase{"Empty", "", {}}, SplitCase{"OnlyBlanks", " \t\r\n ", {}},
        SplitCase{"Simple", "prog a b", {"prog", "a", "b"}},
        SplitCase{"LeadingAndTrailingBlanks", "   prog   a   ", {"prog", "a"}},
        SplitCase{"AnyControlCharacterSeparates",
            std::string("prog\x01"
                        "a\x1f"
                        "b\tc\nd"),
            {"prog", "a", "b", "c", "d"}},
        SplitCase{"HighBytesAreNotBlanks", "prog \xe8\xa0x", {"prog", "\xe8\xa0x"}},
        SplitCase{"QuotedProgramWithBlank", "\"C:\\Program Files\\Halvorne.exe\" +@+ chkver",
            {"C:\\Program Files\\Halvorne.exe", "+@+", "chkver"}},
        SplitCase{"QuotedValueKeepsBlanks", "prog \"/p:C:\\My Dir\\\" auto", {"prog", "/p:C:\\My Dir\\", "auto"}},
        SplitCase{"QuoteInsideArgument", "prog /p:\"C:\\My  Dir\"\\x", {"prog", "/p:C:\\My  Dir\\x"}},
        SplitCase{"QuotesDroppedAnywhere", "prog a\"\"b \"c\"d\"e\"", {"prog", "ab", "cde"}},
        SplitCase{"EmptyPairSkipped", "prog \"\" a \"\"", {"prog", "a"}},
        SplitCase{"TwoEmptyPairsSkipped", "prog \"\"\"\" a", {"prog", "a"}},
        SplitCase{"UnterminatedQuoteRunsToEnd", "prog \"a b  c", {"prog", "a b  c"}},
        SplitCase{"EmbeddedNulEndsTheLine", std::string("prog a\0b c", 10), {"prog", "a"}}),
    [](const ::testing::TestParamInfo<SplitCase>& testInfo) { return std::string(testInfo.param.name); });

TEST(ArgumentsFromArgv, KeepsProgramAndSkipsEmptyArguments) {
    const char* argv[] = {"/opt/Halvorne", "+@+", "", "dokum", "", "/p:/tmp/x y/"};
    EXPECT_EQ(startup::ArgumentsFromArgv(6, argv), (Args{"/opt/Halvorne", "+@+", "dokum", "/p:/tmp/x y/"}));
    EXPECT_TRUE(startup::ArgumentsFromArgv(0, nullptr).empty());
}

TEST(ExtractParamValue, MatchesThePrefixExactly) {
    struct Case {
        std::string word, prefix;
        bool found;
        std::string value;
    };
    const Case cases[] = {
        {"/v:5.23", "/v:", true, "5.23"},
        {"/v:", "/v:", true, ""},
        {"/p:/a b/", "/p:", true, "/a b/"},
        {"/V:5.23", "/v:", false, ""},
        {"/v", "/v:", false, ""},
        {"", "/v:", false, ""},
        {"x/v:1", "/v:", false, ""},
        {"/p:/v:1", "/v:", false, ""},
    };
    for (const Case& c : cases) {
        std::string value = "stale";
        EXPECT_EQ(startup::ExtractParamValue(c.word, c.prefix, value), c.found) << c.word;
        EXPECT_EQ(value, c.value) << c.word;
    }
}

TEST(LaunchMarker, ComparesExactlyThreeCharacters) {
    const TLaunchMarker m{'#', ';', '"'};
    EXPECT_TRUE(startup::IsLaunchMarker("#;\"", m));
    EXPECT_FALSE(startup::IsLaunchMarker("#;\"x", m));
    EXPECT_FALSE(startup::IsLaunchMarker("#;", m));
    EXPECT_FALSE(startup::IsLaunchMarker("", m));
    EXPECT_FALSE(startup::IsLaunchMarker("#;'", m));
    EXPECT_FALSE(startup::IsLaunchMarker(";#\"", m));
}

TEST(WithTrailingSeparator, AddsOneOnlyWhenMissing) {
    EXPECT_EQ(startup::WithTrailingSeparator(""), "");
    EXPECT_EQ(startup::WithTrailingSeparator("/tmp/out"), std::string("/tmp/out") + kSeparator);
    EXPECT_EQ(startup::WithTrailingSeparator("/tmp/out/"), "/tmp/out/");
    EXPECT_EQ(startup::WithTrailingSeparator("C:\\Data\\"), "C:\\Data\\");
    EXPECT_EQ(startup::WithTrailingSeparator("/"), "/");
}

TEST(IniFileNameFor, ReplacesTheExtensionOfTheFileName) {
    EXPECT_EQ(startup::IniFileNameFor("/opt/ev/Halvorne"), "/opt/ev/Halvorne.INI");
    EXPECT_EQ(startup::IniFileNameFor("/opt/ev/Halvorne.exe"), "/opt/ev/Halvorne.INI");
    EXPECT_EQ(startup::IniFileNameFor("/opt/ev.d/Halvorne"), "/opt/ev.d/Halvorne.INI");
    EXPECT_EQ(startup::IniFileNameFor("/opt/ev/Halvorne.x.bin"), "/opt/ev/Halvorne.x.INI");
    EXPECT_EQ(startup::IniFileNameFor("Halvorne.exe"), "Halvorne.INI");
}

// ---- master creation over whole argument lists ----

const TLaunchMarker kMarker{'#', ';', '"'};
const std::string kNotice = " (c) Test ";
const std::string kProgram = "/opt/ev/Halvorne";
const std::string kBaseCaption = " - verze 1.10 (c) Test 2011";
const std::string kVersionPrefix = "Kontrola verzí evidence majetku ";
const std::string kDokumPrefix = "Stažení dokumentace evidence majetku ";

struct ParseCase {
    const char* name;
    Args args; // without the program file
    bool notFromHost;
    bool valid;
    bool autoMode, modeVersion, modeDokum;
    std::string currentVersion, targetDir, caption;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.name; }

class ParseRunParametersTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseRunParametersTest, DerivesTheRunParameters) {
    const ParseCase& c = GetParam();
    Args args{kProgram};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const TRunParameters p = startup::ParseRunParameters(args, kMarker, kNotice, kProgram);
    EXPECT_EQ(p.NotFromHost, c.notFromHost);
    EXPECT_EQ(p.ParamsValid, c.valid);
    EXPECT_EQ(p.AutoMode, c.autoMode);
    EXPECT_EQ(p.ModeVersion, c.modeVersion);
    EXPECT_EQ(p.ModeDokum, c.modeDokum);
    EXPECT_EQ(p.CurrentVersion, c.currentVersion);
    EXPECT_EQ(p.TargetDir, c.targetDir);
    EXPECT_EQ(p.CaptionText, c.caption);
    EXPECT_EQ(p.VersionText, "verze 1.10");
    EXPECT_EQ(p.ExitCode, 0);
    // The configuration file is only named for a start by the host.
    EXPECT_EQ(p.IniFileName, c.notFromHost ? "" : "/opt/ev/Halvorne.INI");
    EXPECT_FALSE(p.UseProxy);
    EXPECT_EQ(p.ProxyPort, 0);
}

const std::string M = "#;\"";

INSTANTIATE_TEST_SUITE_P(NotFromHost, ParseRunParametersTest,
    ::testing::Values(ParseCase{"NoArguments", {}, true, false, false, false, false, "", "", kBaseCaption},
        ParseCase{
            "WrongMarker", {"+@+", "dokum", "/p:/t/", "auto"}, true, false, false, false, false, "", "", kBaseCaption},
        ParseCase{"MarkerWithExtraCharacter", {M + "x", "dokum", "/p:/t/"}, true, false, false, false, false, "", "",
            kBaseCaption},
        ParseCase{"FirstTwoCharactersOnly", {"#;", "dokum", "/p:/t/"}, true, false, false, false, false, "", "",
            kBaseCaption},
        ParseCase{
            "MarkerAsSecondArgument", {"dokum", M, "/p:/t/"}, true, false, false, false, false, "", "", kBaseCaption}),
    [](const ::testing::TestParamInfo<ParseCase>& testInfo) { return std::string(testInfo.param.name); });

INSTANTIATE_TEST_SUITE_P(NotValid, ParseRunParametersTest,
    ::testing::Values(ParseCase{"MarkerAlone", {M}, false, false, false, false, false, "", "", kBaseCaption},
        ParseCase{"OnlyAuto", {M, "auto"}, false, false, true, false, false, "", "", kBaseCaption},
        ParseCase{"ChkverWithoutTargetDir", {M, "chkver", "/v:5.20"}, false, false, false, true, false, "5.20", "",
            kVersionPrefix + kBaseCaption},
        ParseCase{"ChkverWithoutVersion", {M, "chkver", "/p:/t/"}, false, false, false, true, false, "", "/t/",
            kVersionPrefix + kBaseCaption},
        ParseCase{"EmptyVersionValue", {M, "chkver", "/v:", "/p:/t/"}, false, false, false, true, false, "", "/t/",
            kVersionPrefix + kBaseCaption},
        ParseCase{"DokumWithEmptyTargetDir", {M, "dokum", "/p:", "auto"}, false, false, true, false, true, "", "",
            kDokumPrefix + kBaseCaption},
        ParseCase{"ValuesWithoutModeWord", {M, "/v:5.20", "/p:/t/", "auto"}, false, false, true, false, false, "5.20",
            "/t/", kBaseCaption},
        ParseCase{"BothModesButVersionIncomplete", {M, "dokum", "chkver", "/p:/t/"}, false, false, false, true, true,
            "", "/t/", kVersionPrefix + kDokumPrefix + kBaseCaption}),
    [](const ::testing::TestParamInfo<ParseCase>& testInfo) { return std::string(testInfo.param.name); });

INSTANTIATE_TEST_SUITE_P(Valid, ParseRunParametersTest,
    ::testing::Values(ParseCase{"TypicalVersionCheck", {M, "chkver", "/v:5.20", "/p:/data/ev/", "auto"}, false, true,
                          true, true, false, "5.20", "/data/ev/", kVersionPrefix + kBaseCaption},
        ParseCase{"DokumInteractive", {M, "dokum", "/p:/data/ev/"}, false, true, false, false, true, "", "/data/ev/",
            kDokumPrefix + kBaseCaption},
        ParseCase{"AnyOrder", {M, "auto", "/p:/d/", "/v:1.00", "chkver"}, false, true, true, true, false, "1.00", "/d/",
            kVersionPrefix + kBaseCaption},
        // Words and prefixes in capitals match; the values stay as typed.
        ParseCase{"CapitalWordsKeepValues", {M, "CHKVER", "/V:5.2A", "/P:/Data/EV/", "Auto"}, false, true, true, true,
            false, "5.2A", "/Data/EV/", kVersionPrefix + kBaseCaption},
        ParseCase{"WindowsPathKeptAsTyped", {M, "dokum", "/P:C:\\Data\\"}, false, true, false, false, true, "",
            "C:\\Data\\", kDokumPrefix + kBaseCaption},
        ParseCase{"TargetDirGetsSeparator", {M, "dokum", "/p:/data/My Dir"}, false, true, false, false, true, "",
            std::string("/data/My Dir") + kSeparator, kDokumPrefix + kBaseCaption},
        ParseCase{"LaterValueWins", {M, "chkver", "/v:1", "/v:2", "/p:/a/", "/p:/b/"}, false, true, false, true, false,
            "2", "/b/", kVersionPrefix + kBaseCaption},
        ParseCase{"ChkverBeforeDokum", {M, "chkver", "dokum", "/v:3", "/p:/t/", "auto"}, false, true, true, true, true,
            "3", "/t/", kDokumPrefix + kVersionPrefix + kBaseCaption},
        ParseCase{"ModeWordTwice", {M, "dokum", "dokum", "/p:/t/"}, false, true, false, false, true, "", "/t/",
            kDokumPrefix + kDokumPrefix + kBaseCaption},
        ParseCase{"UnknownWordsIgnored", {M, "dokum", "hello", M, "/x:1", "autox", "/p:/t/"}, false, true, false, false,
            true, "", "/t/", kDokumPrefix + kBaseCaption}),
    [](const ::testing::TestParamInfo<ParseCase>& testInfo) { return std::string(testInfo.param.name); });

TEST(NotFromHostWarning, NamesTheVersion) {
    EXPECT_EQ(startup::NotFromHostWarning("verze 1.10"),
        "Program Halvorne verze 1.10 je určen k použití pouze z evidence majetku!");
}

} // namespace
