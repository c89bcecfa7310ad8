// The one record of a Halvorne run, held by Form_Master for the life of the
// process. Text is UTF-8 inside the program.
#pragma once

#include <string>

struct TRunParameters {
    std::string VersionText;    // "verze 1.10"
    std::string CaptionText;    // caption of the transfer window and the main window
    int ExitCode = 0;           // 0..65535, the process exit code
    bool NotFromHost = true;    // false only when argument 1 is exactly the launch marker
    bool AutoMode = false;      // "auto"
    bool ModeVersion = false;   // "chkver"
    bool ModeDokum = false;     // "dokum"
    std::string CurrentVersion; // "/v:"
    std::string TargetDir;      // "/p:", always ending with a path separator when not empty
    bool ParamsValid = false;
    std::string IniFileName; // program directory + program name + ".INI"
    bool UseProxy = false;
    std::string ProxyName;
    int ProxyPort = 0;
};
