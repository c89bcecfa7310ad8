#include "startup/core/ProxySettings.h"

#include "platform/ini/PrivateProfile.h"
#include "startup/core/IniFile.h"
#include "startup/core/StartupTexts.h"

namespace startup {

namespace {

std::string TrimBlanks(const std::string& s) {
    const char* const blanks = " \t\v\f\r\n";
    const auto first = s.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

} // namespace

bool LoadProxySettings(TRunParameters& params, std::string& error) {
    error.clear();
    if (params.IniFileName.empty())
        return true;
    TIniFile ini(params.IniFileName);
    try {
        if (!platform::ini::FileExists(params.IniFileName)) {
            ini.WriteBool(texts::kProxySection, texts::kKeyUseProxy, false);
            ini.WriteString(texts::kProxySection, texts::kKeyProxyName, "");
            ini.WriteInteger(texts::kProxySection, texts::kKeyProxyPort, 0);
        }
    } catch (const EIniFileException& e) {
        error = e.what();
        return false;
    }
    params.UseProxy = ini.ReadBool(texts::kProxySection, texts::kKeyUseProxy, false);
    // A name in quotes keeps blanks inside them; they are never part of a
    // host name, and the dialog saves names without them.
    params.ProxyName = TrimBlanks(ini.ReadString(texts::kProxySection, texts::kKeyProxyName, ""));
    params.ProxyPort = ini.ReadInteger(texts::kProxySection, texts::kKeyProxyPort, 0);
    return true;
}

} // namespace startup
