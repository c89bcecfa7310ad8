// One list of private-profile cases for both implementations: the POSIX
// files run them in the native build, the system's own profile functions
// run them in the Windows build under wine. A case states what a caller of
// platform/ini sees (values read, writes accepted, the file's lines), never
// how one implementation gets there, so any difference between the two is a
// failing test.
#pragma once

#include <climits>
#include <optional>
#include <string>
#include <vector>

namespace profile_cases {

struct Write {
    std::string section;
    std::string key;
    std::string value;
    bool accepted = true;
};

struct TextRead {
    std::string section;
    std::string key;
    std::string def;
    std::string expected;
};

struct IntRead {
    std::string section;
    std::string key;
    int def;
    int expected;
};

struct Case {
    std::string name;
    // The file's bytes before the case; none: there is no file.
    std::optional<std::string> before = std::nullopt;
    std::vector<Write> writes = {};
    std::vector<TextRead> texts = {};
    std::vector<IntRead> ints = {};
    // The file's lines afterwards, line ends and empty lines aside; none: the
    // lines are not compared. An empty list says the file must not exist.
    std::optional<std::vector<std::string>> lines = std::nullopt;
    // The name the calls use, in the case's own directory.
    std::string file = "Halvorne.INI";
    // Directories made in the case's directory before it runs.
    std::vector<std::string> directories = {};
    // The calls name the file without a directory, from inside its
    // directory (the current directory).
    bool bareName = false;
};

inline std::string Repeat(const std::string& s, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += s;
    return out;
}

// Integer texts and what they read as with the default -99: decimal with a
// sign or 0x hex (the 32-bit pattern), anything else the default.
struct IntegerText {
    std::string text;
    int value;
};

inline const std::vector<IntegerText>& IntegerTexts() {
    static const std::vector<IntegerText> texts{
        {"0", 0},
        {"8080", 8080},
        {"70000", 70000},
        {"-5", -5},
        {"+7", 7},
        {"0x1F", 31},
        {"0X1f", 31},
        {"0x7FFFFFFF", INT_MAX},
        {"0xFFFFFFFF", -1},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        {" 42 ", 42},
        {"\"12\"", 12},
        // not integers: the default
        {"", -99},
        {"yes", -99},
        {"12abc", -99},
        {"1 2", -99},
        {"0x", -99},
        {"0x1G", -99},
        {"-0x10", -99},
        {"2147483648", -99},
        {"-2147483649", -99},
        {"0x100000000", -99},
        {"99999999999999999999999", -99},
        {"1.5", -99},
    };
    return texts;
}

inline std::vector<Case> AllCases() {
    std::vector<Case> cases;

    cases.push_back({.name = "MissingFileGivesDefaultsAndStaysMissing",
        .texts = {{"Proxy Server", "ProxyName", "dflt", "dflt"}},
        .ints = {{"Proxy Server", "ProxyPort", 17, 17}},
        .lines = std::vector<std::string>{}});

    cases.push_back({.name = "NamesMatchWithoutRegardToCase",
        .before = "[proxy SERVER]\nproxyname = host.example\nPROXYPORT=8080\n",
        .texts = {{"Proxy Server", "ProxyName", "", "host.example"}},
        .ints = {{"PROXY server", "ProxyPort", 0, 8080}}});

    cases.push_back({.name = "LookupStaysInsideItsSection",
        .before = "[First]\nx=0\n[Other]\nProxyPort=2\n[Proxy Server]\nProxyName=x\n[Later]\nProxyPort=3\n",
        .ints = {{"Proxy Server", "ProxyPort", -1, -1}, {"Other", "ProxyPort", -1, 2}, {"Later", "ProxyPort", -1, 3},
            {"Missing", "ProxyPort", -1, -1}}});

    cases.push_back({.name = "FirstOfDuplicateKeysCounts",
        .before = "[S]\nk=first\nk=second\n",
        .texts = {{"S", "k", "", "first"}}});

    for (const auto& [label, content] :
        {std::pair<std::string, std::string>{"Crlf", "[S]\r\nName=a b\r\nPort=0x1F\r\n"},
            {"LfWithoutFinalLineEnd", "[S]\nName=a b\nPort=0x1F"},
            {"MixedAfterEmptyLines", "\n\n[S]\r\nName=a b\nPort=0x1F\r\n"}}) {
        cases.push_back({.name = "LineEnds" + label,
            .before = content,
            .texts = {{"S", "Name", "", "a b"}},
            .ints = {{"S", "Port", 0, 31}}});
    }

    cases.push_back({.name = "ValuesAreTrimmedAndLoseOnePairOfQuotes",
        .before = "[S]\n  a  =  x y  \t\nb=\" padded \"\nc='q'\nd=\"unbalanced\ne=\nh=\"mixed'\n"
                  "i=\"\"inner\"\"\n",
        .texts = {{"S", "a", "-", "x y"}, {"S", "b", "-", " padded "}, {"S", "c", "-", "q"},
            {"S", "d", "-", "\"unbalanced"}, {"S", "e", "-", ""}, {"S", "h", "-", "\"mixed'"},
            {"S", "i", "-", "\"inner\""}}});

    {
        Case c{.name = "IntegersReadDecimalOrHexElseTheDefault"};
        std::string file = "[S]\n";
        int n = 0;
        for (const auto& t : IntegerTexts()) {
            const std::string key = "v" + std::to_string(n++);
            file += key + "=" + t.text + "\n";
            c.ints.push_back({"S", key, -99, t.value});
        }
        c.ints.push_back({"S", "missing", -99, -99});
        c.before = file;
        cases.push_back(c);
    }

    cases.push_back({.name = "TextValuesAreCutAt2047Characters",
        .before = "[S]\nlong=" + std::string(3000, 'a') + "\nshort=" + std::string(2047, 'b') + "\n",
        .texts = {{"S", "long", "", std::string(2047, 'a')}, {"S", "short", "", std::string(2047, 'b')},
            {"S", "missing", std::string(2100, 'd'), std::string(2047, 'd')}}});

    cases.push_back({.name = "FirstStartWritesTheThreeKeysInOrder",
        .writes = {{"Proxy Server", "UseProxy", "0"}, {"Proxy Server", "ProxyName", ""},
            {"Proxy Server", "ProxyPort", "0"}},
        .texts = {{"Proxy Server", "ProxyName", "-", ""}},
        .ints = {{"Proxy Server", "UseProxy", 1, 0}, {"Proxy Server", "ProxyPort", -1, 0}},
        .lines = std::vector<std::string>{"[Proxy Server]", "UseProxy=0", "ProxyName=", "ProxyPort=0"}});

    cases.push_back({.name = "WritesKeepEverythingElse",
        .before = "[General]\r\nLanguage=cs\r\n\r\n[proxy server]\r\nUSEPROXY=0\r\nProxyName=old\r\n\r\n"
                  "[Last]\r\nx=1\r\n",
        .writes = {{"Proxy Server", "UseProxy", "1"}, {"PROXY SERVER", "ProxyPort", "3128"}, {"New", "Key", "v"}},
        .texts = {{"General", "Language", "", "cs"}, {"Proxy Server", "ProxyName", "", "old"}},
        .ints = {{"Proxy Server", "UseProxy", 0, 1}, {"Proxy Server", "ProxyPort", 0, 3128}, {"Last", "x", 0, 1}},
        // An existing key keeps the file's spelling of its name.
        .lines = std::vector<std::string>{"[General]", "Language=cs", "[proxy server]", "USEPROXY=1", "ProxyName=old",
            "ProxyPort=3128", "[Last]", "x=1", "[New]", "Key=v"}});

    cases.push_back({.name = "AWriteLeavesOtherLinesAsTheyAre",
        .before = "; settings of the asset register\r\n[General]\r\n  Language = cs  \r\n; note\r\n\r\n"
                  "[Proxy Server]\r\nUseProxy=0\r\n",
        .writes = {{"Proxy Server", "UseProxy", "1"}},
        .texts = {{"General", "Language", "", "cs"}},
        .lines = std::vector<std::string>{"; settings of the asset register", "[General]", "  Language = cs  ",
            "; note", "[Proxy Server]", "UseProxy=1"}});

    cases.push_back({.name = "FileWithoutFinalLineEndStaysReadable",
        .before = "[S]\na=1",
        .writes = {{"S", "b", "2"}, {"T", "c", "3"}},
        .ints = {{"S", "a", 0, 1}, {"S", "b", 0, 2}, {"T", "c", 0, 3}},
        .lines = std::vector<std::string>{"[S]", "a=1", "b=2", "[T]", "c=3"}});

    {
        Case c{.name = "WrittenValuesReadBack"};
        int n = 0;
        for (const std::string& v : {std::string(""), std::string("proxy.example.cz"), std::string("a=b"),
                 std::string("x;y"), std::string("#hash"), std::string(2047, 'z')}) {
            const std::string key = "k" + std::to_string(n++);
            c.writes.push_back({"S", key, v});
            c.texts.push_back({"S", key, "-", v});
        }
        // Written twice: the second value replaces the first.
        c.writes.push_back({"S", "k0", "again"});
        c.texts[0].expected = "again";
        cases.push_back(c);
    }

    // The Windows files hold such text in the system's code page (1250 on
    // a Czech system, as the tests run wine), the POSIX ones in UTF-8.
    cases.push_back({.name = "CzechTextReadsBackAsWritten",
        .writes = {{"Proxy Server", "ProxyName", "proxy.účetní.cz"}, {"Sekce č", "Klíč", "ěščřžýáíé"}},
        // Names differing in the case of a letter beyond ASCII
        // are left out: wine matches only ASCII letters without
        // regard to case, as the POSIX files do.
        .texts = {{"Proxy Server", "ProxyName", "", "proxy.účetní.cz"}, {"SEKCE č", "KLíč", "", "ěščřžýáíé"}}});

    cases.push_back({.name = "BlanksAroundNamesOfAWriteDoNotCount",
        .writes = {{" S ", "\tk ", "v"}},
        .texts = {{"S", "k", "-", "v"}},
        .lines = std::vector<std::string>{"[S]", "k=v"}});

    cases.push_back({.name = "WritesThatWouldBreakTheFileAreRefused",
        .before = "[S]\nk=old\n",
        .writes = {{"S", "k", "two\nlines", false}, {"S", "k", "cr\r", false}, {"S", "a=b", "v", false},
            {"S", "", "v", false}, {"S", "  ", "v", false}, {"S]", "k", "v", false}, {"", "k", "v", false},
            {"S", ";k", "v", false}, {"S", "[k", "v", false}},
        .texts = {{"S", "k", "", "old"}},
        .lines = std::vector<std::string>{"[S]", "k=old"}});

    cases.push_back({.name = "WriteIntoAMissingDirectoryFails",
        .writes = {{"S", "k", "v", false}},
        .texts = {{"S", "k", "-", "-"}},
        .file = "missing/Halvorne.INI"});

    cases.push_back({.name = "WriteOntoADirectoryFails",
        .writes = {{"S", "k", "v", false}},
        .texts = {{"S", "k", "-", "-"}},
        .file = "adir",
        .directories = {"adir"}});

    cases.push_back({.name = "BareFileNameIsInTheCurrentDirectory",
        .before = "[S]\nk=here\n",
        .writes = {{"S", "n", "1"}},
        .texts = {{"S", "k", "", "here"}},
        .ints = {{"S", "n", 0, 1}},
        .lines = std::vector<std::string>{"[S]", "k=here", "n=1"},
        .bareName = true});

    return cases;
}

} // namespace profile_cases
