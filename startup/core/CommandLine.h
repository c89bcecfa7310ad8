// Turning Halvorne's command line into run parameters. Everything here is
// free of widgets and side effects, so each rule can be tested on its own.
#pragma once

#include "startup/core/RunParameters.h"

#include <string>
#include <vector>

namespace startup {

// Splits a whole Windows command line into arguments: white space is any
// character with a code from 1 to 32; a double quote toggles grouping (blanks
// inside a group belong to the argument) and is itself dropped, wherever it
// stands in the argument; "" between arguments yields no argument, so no
// argument is ever empty. Element 0 is the program file as written.
//
// On POSIX the arguments already arrive split in argv and this is not used
// by the program; a Windows build feeds it GetCommandLineA().
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// The arguments of a POSIX main(): argv[0] and every non-empty argv[i]
// (an argument is never empty, as on the Windows command line).
std::vector<std::string> ArgumentsFromArgv(int argc, const char* const* argv);

// The launch marker as the three separate characters the program holds.
struct TLaunchMarker {
    char First = 0;
    char Second = 0;
    char Third = 0;
};

// True when arg is exactly three characters long and equals the marker,
// compared character by character.
bool IsLaunchMarker(const std::string& arg, const TLaunchMarker& marker);

// Found when the first characters of word equal prefix exactly (same case);
// value is then the rest of word, possibly empty; otherwise value is empty.
bool ExtractParamValue(const std::string& word, const std::string& prefix, std::string& value);

// ASCII letters A to Z lower-cased, everything else unchanged.
std::string LowerAscii(std::string text);

// A directory with a path separator at its end: file names are appended to
// the target directory directly. '\' counts as a separator too, since the
// host application writes Windows paths. Empty stays empty.
std::string WithTrailingSeparator(std::string dir);

// Steps 1 to 3 of master creation: the initial record with the caption
// " - " + version text + caption notice + year.
TRunParameters InitialRunParameters(const std::string& captionNotice);

// Applies the task words of args[2..] (args[0] is the program file and
// args[1] the launch marker) in order. Words and prefixes are matched
// without regard to case, and the "/v:" and "/p:" values are kept as typed.
void ApplyTaskArguments(TRunParameters& params, const std::vector<std::string>& args);

// ParamsValid from the mode words and their values; "chkver" wins over
// "dokum", "auto" plays no part.
void ValidateRunParameters(TRunParameters& params);

// The program's directory and file name with the extension replaced by
// ".INI": /opt/ev/Halvorne -> /opt/ev/Halvorne.INI, Halvorne.exe -> Halvorne.INI.
std::string IniFileNameFor(const std::string& programFile);

// Master creation without its side effects (the warning box and reading the
// configuration file): when argument 1 is not the launch marker, the record
// stops at NotFromHost = true with IniFileName empty.
TRunParameters ParseRunParameters(const std::vector<std::string>& args, const TLaunchMarker& marker,
    const std::string& captionNotice, const std::string& programFile);

// The warning shown when argument 1 is not the launch marker.
std::string NotFromHostWarning(const std::string& versionText);

} // namespace startup
