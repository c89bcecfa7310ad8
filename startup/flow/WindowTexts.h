// Every text of the main window and of the settings dialog, side by side,
// in UTF-8. The message box captions, the command line's words and the
// configuration file's names are in startup/core/StartupTexts.h. Both views
// take them from here.
#pragma once

namespace startup::flow::texts {

// The main window.
inline constexpr const char* kMainDesignCaption = "Evidence majetku na internetu";
inline constexpr const char* kMenuVersionCheck = "&Kontrola verze (F9)";
inline constexpr const char* kMenuSettings = "&Nastavení (F4)";
inline constexpr const char* kMenuExit = "Konec";
inline constexpr const char* kMenuHelp = "Nápověda (F1)";
inline constexpr const char* kIniFilePrefix = "INI FILE: ";

// The settings dialog.
inline constexpr const char* kSettingsCaption = "Nastavení";
inline constexpr const char* kUseProxy = "&Použití proxy serveru";
inline constexpr const char* kProxyName = "Proxy server";
inline constexpr const char* kProxyPort = "Proxy port";
inline constexpr const char* kTest = "&Test spojení";
inline constexpr const char* kSave = "&Uložit";
inline constexpr const char* kStorno = "&Storno";
inline constexpr const char* kRefused =
    "Chybné nastavení parametrů připojení!\r\n\r\nZrušte použití proxy serveru nebo zadejte potřebné údaje!";
inline constexpr const char* kTestOk = "Připojení k internetu je fukční, můžete pokračovat.";
inline constexpr const char* kTestFailed =
    "Připojení k internetu nefunguje - opravte nastavení a případně prověřte firewall a technická zařízení!";
inline constexpr const char* kCheckRunning =
    "Právě probíhá kontrola verze - test spojení zopakujte po jejím dokončení!";

} // namespace startup::flow::texts
