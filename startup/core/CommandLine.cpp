#include "startup/core/CommandLine.h"

#include "startup/core/StartupTexts.h"

namespace startup {

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
    std::vector<std::string> args;
    const std::size_t n = commandLine.size();
    std::size_t i = 0;
    auto isWhite = [](char c) {
        unsigned char u = static_cast<unsigned char>(c);
        return u >= 1 && u <= 32;
    };
    while (i < n && commandLine[i] != '\0') {
        while (i < n && isWhite(commandLine[i]))
            ++i;
        if (i >= n || commandLine[i] == '\0')
            break;
        std::string arg;
        bool quoted = false;
        for (; i < n && commandLine[i] != '\0'; ++i) {
            char c = commandLine[i];
            if (c == '"') {
                quoted = !quoted;
                continue;
            }
            if (!quoted && isWhite(c))
                break;
            arg.push_back(c);
        }
        if (!arg.empty())
            args.push_back(std::move(arg));
    }
    return args;
}

std::vector<std::string> ArgumentsFromArgv(int argc, const char* const* argv) {
    std::vector<std::string> args;
    if (argc <= 0 || argv == nullptr)
        return args;
    args.emplace_back(argv[0] ? argv[0] : "");
    for (int i = 1; i < argc; ++i)
        if (argv[i] != nullptr && argv[i][0] != '\0')
            args.emplace_back(argv[i]);
    return args;
}

bool IsLaunchMarker(const std::string& arg, const TLaunchMarker& marker) {
    return arg.size() == 3 && arg[0] == marker.First && arg[1] == marker.Second && arg[2] == marker.Third;
}

bool ExtractParamValue(const std::string& word, const std::string& prefix, std::string& value) {
    value.clear();
    if (word.size() < prefix.size() || word.compare(0, prefix.size(), prefix) != 0)
        return false;
    value = word.substr(prefix.size());
    return true;
}

std::string LowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string WithTrailingSeparator(std::string dir) {
#ifdef _WIN32
    constexpr char kSeparator = '\\';
#else
    constexpr char kSeparator = '/';
#endif
    if (!dir.empty() && dir.back() != '/' && dir.back() != '\\')
        dir.push_back(kSeparator);
    return dir;
}

TRunParameters InitialRunParameters(const std::string& captionNotice) {
    TRunParameters p;
    p.VersionText = texts::kVersionText;
    p.CaptionText = std::string(texts::kCaptionSeparator) + p.VersionText + captionNotice + texts::kCaptionYear;
    p.ExitCode = 0;
    p.NotFromHost = true;
    p.AutoMode = p.ModeVersion = p.ModeDokum = false;
    p.CurrentVersion.clear();
    p.TargetDir.clear();
    return p;
}

void ApplyTaskArguments(TRunParameters& params, const std::vector<std::string>& args) {
    for (std::size_t i = 2; i < args.size(); ++i) {
        const std::string& typed = args[i];
        // Matching uses the lower-cased word; the values come from the word
        // as typed (lower-casing them would name another directory on a
        // case-sensitive file system). Lower-casing ASCII keeps the length,
        // so the value starts at the same offset in both.
        const std::string word = LowerAscii(typed);
        std::string unused;
        if (word == texts::kWordAuto) {
            params.AutoMode = true;
        } else if (word == texts::kWordVersion) {
            params.ModeVersion = true;
            params.CaptionText = texts::kCaptionPrefixVersion + params.CaptionText;
        } else if (word == texts::kWordDokum) {
            params.ModeDokum = true;
            params.CaptionText = texts::kCaptionPrefixDokum + params.CaptionText;
        } else if (ExtractParamValue(word, texts::kPrefixVersion, unused)) {
            params.CurrentVersion = typed.substr(std::char_traits<char>::length(texts::kPrefixVersion));
        } else if (ExtractParamValue(word, texts::kPrefixTargetDir, unused)) {
            params.TargetDir =
                WithTrailingSeparator(typed.substr(std::char_traits<char>::length(texts::kPrefixTargetDir)));
        }
    }
}

void ValidateRunParameters(TRunParameters& params) {
    params.ParamsValid = params.ModeVersion || params.ModeDokum;
    if (params.ModeVersion)
        params.ParamsValid = !params.CurrentVersion.empty() && !params.TargetDir.empty();
    else if (params.ModeDokum)
        params.ParamsValid = !params.TargetDir.empty();
}

std::string IniFileNameFor(const std::string& programFile) {
#ifdef _WIN32
    const std::size_t slash = programFile.find_last_of("\\/:");
#else
    const std::size_t slash = programFile.find_last_of('/');
#endif
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = programFile.find_last_of('.');
    // Only a dot inside the file name starts an extension.
    const std::size_t stemEnd = (dot != std::string::npos && dot >= nameStart) ? dot : programFile.size();
    return programFile.substr(0, stemEnd) + ".INI";
}

TRunParameters ParseRunParameters(const std::vector<std::string>& args, const TLaunchMarker& marker,
    const std::string& captionNotice, const std::string& programFile) {
    TRunParameters params = InitialRunParameters(captionNotice);
    if (args.size() > 1 && IsLaunchMarker(args[1], marker))
        params.NotFromHost = false;
    if (params.NotFromHost)
        return params;
    ApplyTaskArguments(params, args);
    ValidateRunParameters(params);
    params.IniFileName = IniFileNameFor(programFile);
    return params;
}

std::string NotFromHostWarning(const std::string& versionText) {
    return std::string(texts::kNotFromHostBefore) + versionText + texts::kNotFromHostAfter;
}

} // namespace startup
