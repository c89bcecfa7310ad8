// A small INI-file object over the private-profile layer. Writes that fail
// throw EIniFileException("Unable to write to " + file name).
#pragma once

#include <stdexcept>
#include <string>

class EIniFileException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TIniFile {
public:
    explicit TIniFile(std::string fileName) : FileName(std::move(fileName)) {}
    std::string ReadString(const std::string& section, const std::string& ident, const std::string& def) const;
    int ReadInteger(const std::string& section, const std::string& ident, int def) const;
    bool ReadBool(const std::string& section, const std::string& ident, bool def) const; // integer != 0
    void WriteString(const std::string& section, const std::string& ident, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& ident, int value);
    void WriteBool(const std::string& section, const std::string& ident, bool value); // "1" / "0"
    const std::string FileName;
};
