// Halvorne's command line: splitting a whole command line (or taking POSIX
// argv pieces), then turning the arguments into run parameters. Byte 0 picks
// the form: even, the rest is one Windows-style command line; odd, the rest
// is argv with NUL bytes between the arguments.
//
// Invariants: no argument is empty or holds a double quote; the arguments
// put together are the command line without its quotes and its white space
// outside quotes; the run parameters follow from the words alone (marker,
// mode words matched without regard to case, the later value wins, validity
// from the mode and its values, the caption built from the mode prefixes).
#include "common/FuzzCheck.h"

#include "startup/core/CommandLine.h"
#include "startup/core/StartupTexts.h"

#include <string>
#include <vector>

using namespace startup;

namespace {

const TLaunchMarker kMarker{'+', '@', '+'};
const std::string kNotice = " (c) Fuzz ";
const std::string kProgram = "/opt/evidence/Halvorne";

bool IsWhite(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u >= 1 && u <= 32;
}

bool StartsWithNoCase(const std::string& word, const std::string& prefix) {
    return word.size() >= prefix.size() && LowerAscii(word.substr(0, prefix.size())) == prefix;
}

void CheckSplit(const std::string& line, const std::vector<std::string>& args) {
    std::string joined;
    for (const std::string& a : args) {
        FUZZ_CHECK(!a.empty(), "an empty argument");
        FUZZ_CHECK(a.find('"') == std::string::npos, "a double quote kept in '%s'", a.c_str());
        FUZZ_CHECK(a.find('\0') == std::string::npos, "a NUL inside an argument");
        joined += a;
    }
    // What the arguments must add up to: the line up to its first NUL
    // without the quotes and without the white space outside quotes.
    std::string expected;
    bool quoted = false;
    for (char c : line) {
        if (c == '\0')
            break;
        if (c == '"') {
            quoted = !quoted;
            continue;
        }
        if (!quoted && IsWhite(c))
            continue;
        expected += c;
    }
    FUZZ_CHECK(joined == expected, "arguments add up to '%s', expected '%s'", joined.c_str(), expected.c_str());
}

void CheckParameters(const std::vector<std::string>& args) {
    const TRunParameters p = ParseRunParameters(args, kMarker, kNotice, kProgram);
    const std::string tail =
        std::string(texts::kCaptionSeparator) + texts::kVersionText + kNotice + texts::kCaptionYear;
    FUZZ_CHECK(p.ExitCode == 0 && p.VersionText == texts::kVersionText, "initial fields changed");
    FUZZ_CHECK(p.CaptionText.size() >= tail.size() &&
                   p.CaptionText.compare(p.CaptionText.size() - tail.size(), tail.size(), tail) == 0,
        "caption '%s'", p.CaptionText.c_str());

    const bool fromHost = args.size() > 1 && args[1] == "+@+";
    FUZZ_CHECK(p.NotFromHost == !fromHost, "NotFromHost %d for argument 1 '%s'", p.NotFromHost,
        args.size() > 1 ? args[1].c_str() : "");
    if (!fromHost) {
        FUZZ_CHECK(!p.ParamsValid && !p.AutoMode && !p.ModeVersion && !p.ModeDokum && p.IniFileName.empty() &&
                       p.CaptionText == tail,
            "arguments read although argument 1 is not the marker");
        return;
    }

    bool autoMode = false, version = false, dokum = false;
    std::string current, target, prefixes;
    for (std::size_t i = 2; i < args.size(); ++i) {
        const std::string word = LowerAscii(args[i]);
        if (word == "auto") {
            autoMode = true;
        } else if (word == "chkver") {
            version = true;
            prefixes = texts::kCaptionPrefixVersion + prefixes;
        } else if (word == "dokum") {
            dokum = true;
            prefixes = texts::kCaptionPrefixDokum + prefixes;
        } else if (StartsWithNoCase(args[i], "/v:")) {
            current = args[i].substr(3);
        } else if (StartsWithNoCase(args[i], "/p:")) {
            target = args[i].substr(3);
        }
    }
    FUZZ_CHECK(p.AutoMode == autoMode && p.ModeVersion == version && p.ModeDokum == dokum, "mode words misread");
    FUZZ_CHECK(p.CaptionText == prefixes + tail, "caption '%s'", p.CaptionText.c_str());
    FUZZ_CHECK(LowerAscii(p.CurrentVersion) == LowerAscii(current), "version '%s', expected '%s'",
        p.CurrentVersion.c_str(), current.c_str());
    // The target directory may gain a separator at its end, nothing else.
    const std::string td = LowerAscii(p.TargetDir);
    const std::string want = LowerAscii(target);
    FUZZ_CHECK(td == want || (td.size() == want.size() + 1 && td.compare(0, want.size(), want) == 0 &&
                                 (td.back() == '/' || td.back() == '\\')),
        "target '%s', expected '%s'", p.TargetDir.c_str(), target.c_str());
    FUZZ_CHECK(target.empty() == p.TargetDir.empty(), "target emptiness changed");
    const bool valid = version ? (!current.empty() && !target.empty()) : (dokum && !target.empty());
    FUZZ_CHECK(p.ParamsValid == valid, "ParamsValid %d, expected %d", p.ParamsValid, valid);
    FUZZ_CHECK(p.IniFileName == kProgram + ".INI", "configuration file '%s'", p.IniFileName.c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    std::vector<std::string> args;
    if ((data[0] & 1) == 0) {
        args = SplitCommandLine(rest);
        CheckSplit(rest, args);
    } else {
        std::vector<std::string> pieces;
        std::size_t start = 0;
        for (;;) {
            const std::size_t nul = rest.find('\0', start);
            pieces.push_back(rest.substr(start, nul == std::string::npos ? std::string::npos : nul - start));
            if (nul == std::string::npos)
                break;
            start = nul + 1;
        }
        std::vector<const char*> argv;
        for (const std::string& piece : pieces)
            argv.push_back(piece.c_str());
        args = ArgumentsFromArgv(static_cast<int>(argv.size()), argv.data());
        FUZZ_CHECK(!args.empty() && args[0] == pieces[0], "argument 0 not kept");
        for (std::size_t i = 1; i < args.size(); ++i)
            FUZZ_CHECK(!args[i].empty(), "an empty argument kept");
    }
    if (args.empty())
        args.push_back(kProgram);
    CheckParameters(args);
    return 0;
}
