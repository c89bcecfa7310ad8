#include "startup/core/ProxySettings.h"

#include "platform/ini/PrivateProfile.h"
#include "startup/core/IniFile.h"
#include "startup/core/StartupTexts.h"

namespace startup {

bool LoadProxySettings(TRunParameters& params, std::string& error) {
    error.clear();
    if (params.IniFileName.empty()) return true;
    TIniFile ini(params.IniFileName);
    try {
        if (!platform::FileExists(params.IniFileName)) {
            ini.WriteBool(texts::kProxySection, texts::kKeyUseProxy, false);
            ini.WriteString(texts::kProxySection, texts::kKeyProxyName, "");
            ini.WriteInteger(texts::kProxySection, texts::kKeyProxyPort, 0);
        }
    } catch (const EIniFileException& e) {
        error = e.what();
        return false;
    }
    params.UseProxy = ini.ReadBool(texts::kProxySection, texts::kKeyUseProxy, false);
    params.ProxyName = ini.ReadString(texts::kProxySection, texts::kKeyProxyName, "");
    params.ProxyPort = ini.ReadInteger(texts::kProxySection, texts::kKeyProxyPort, 0);
    return true;
}

} // namespace startup
