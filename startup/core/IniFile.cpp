#include "startup/core/IniFile.h"

#include "platform/ini/PrivateProfile.h"
#include "startup/core/StartupTexts.h"

#include <string>

std::string TIniFile::ReadString(const std::string& section, const std::string& ident, const std::string& def) const {
    return platform::ini::GetPrivateProfileString(section, ident, def, FileName);
}

int TIniFile::ReadInteger(const std::string& section, const std::string& ident, int def) const {
    return platform::ini::GetPrivateProfileInt(section, ident, def, FileName);
}

bool TIniFile::ReadBool(const std::string& section, const std::string& ident, bool def) const {
    return ReadInteger(section, ident, def ? 1 : 0) != 0;
}

void TIniFile::WriteString(const std::string& section, const std::string& ident, const std::string& value) {
    if (!platform::ini::WritePrivateProfileString(section, ident, value, FileName))
        throw EIniFileException(startup::texts::kUnableToWrite + FileName);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& ident, int value) {
    WriteString(section, ident, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& ident, bool value) {
    WriteString(section, ident, value ? "1" : "0");
}
