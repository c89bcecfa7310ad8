// What the desktop provides for showing a document: the registered web
// browser, starting a program and waiting for it, and opening a local file
// with its associated program. No widget dependency.
#pragma once

#include <string>
#include <vector>

namespace platform::process {

// The command the desktop has registered for web pages and HTML documents,
// written as the program path in double quotes followed by the options of
// the registered command line, e.g. "\"/usr/bin/firefox\" %u". Empty when no
// browser is registered or its program path cannot be written that way.
//
// On Linux this is the XDG default browser: the first desktop entry listed
// for x-scheme-handler/http, else for text/html, under [Default Applications]
// of the mimeapps.list files in $XDG_CONFIG_HOME, $XDG_CONFIG_DIRS,
// $XDG_DATA_HOME/applications and $XDG_DATA_DIRS/applications; the entry's
// Exec line gives the command. A program named without a directory is
// looked up in $PATH.
//
// On Windows it is the default value of the key
// HKEY_CLASSES_ROOT\htmlfile\shell\open\command as registered (a string,
// expandable or not, not expanded); empty when the key or a string value is
// missing.
std::string RegisteredBrowserCommand();

#ifndef _WIN32
// Parses the Exec value of a desktop entry into the quoted-path form of
// RegisteredBrowserCommand (program not yet looked up in $PATH). Empty when
// the line has no program or the program path contains a double quote.
std::string QuotedCommandFromExec(const std::string& exec);
#endif

struct RunResult {
    bool started = false; // the program could be started
    bool exited = false;  // it ended normally (not killed by a signal)
    int exitCode = -1;    // its exit status when exited
    int error = 0;        // errno of a failed start
};

// Starts `program` with `args` (each one argument, never split or quoted),
// with the inherited environment and current directory and none of the
// caller's other open files, and waits without a time limit until it ends.
// On Windows the command line carries each argument quoted as the started
// program's run-time splits it, so it arrives as one argument there too.
RunResult RunAndWait(const std::string& program, const std::vector<std::string>& args);

// Whether `path` names an existing regular file (or a link to one).
bool IsExistingFile(const std::string& path);

// Opens `path` with the desktop's associated program (xdg-open; the
// shell's "open" on Windows), without waiting for it and without reporting
// whether it worked.
void ShellOpen(const std::string& path);

} // namespace platform::process
