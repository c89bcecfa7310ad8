// The fixed user-visible texts of start-up, in one place so they can be
// compared side by side with what the host application's users expect.
#pragma once

namespace startup::texts {

inline constexpr const char* kVersionText = "verze 1.10";
inline constexpr const char* kCaptionSeparator = " - ";
inline constexpr const char* kCaptionYear = "2011";
inline constexpr const char* kCaptionPrefixVersion = "Kontrola verzí evidence majetku ";
inline constexpr const char* kCaptionPrefixDokum = "Stažení dokumentace evidence majetku ";

inline constexpr const char* kNotFromHostBefore = "Program Halvorne ";
inline constexpr const char* kNotFromHostAfter = " je určen k použití pouze z evidence majetku!";
inline constexpr const char* kInvalidParameters = "Chybné parametry programu";

inline constexpr const char* kCaptionWarning = "Upozornění";
inline constexpr const char* kCaptionError = "Chyba";
inline constexpr const char* kCaptionInformation = "Informace";
inline constexpr const char* kButtonOk = "OK";

inline constexpr const char* kUnableToWrite = "Unable to write to ";

// Words and prefixes of the command line, matched without regard to case.
inline constexpr const char* kWordAuto = "auto";
inline constexpr const char* kWordVersion = "chkver";
inline constexpr const char* kWordDokum = "dokum";
inline constexpr const char* kPrefixVersion = "/v:";
inline constexpr const char* kPrefixTargetDir = "/p:";

// The configuration file.
inline constexpr const char* kProxySection = "Proxy Server";
inline constexpr const char* kKeyUseProxy = "UseProxy";
inline constexpr const char* kKeyProxyName = "ProxyName";
inline constexpr const char* kKeyProxyPort = "ProxyPort";

} // namespace startup::texts
