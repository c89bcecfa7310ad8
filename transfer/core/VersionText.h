// Version numbers as the version check reads and compares them: the
// server's version from the first five bytes of the version-information
// file, and exact decimal comparison of two version texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace transfer {

// Bytes of the version-information file that carry the version.
inline constexpr std::size_t kVersionBytes = 5;

// The version text of a version-information file: its first five bytes with
// leading and trailing characters of code 32 or below removed. nullopt when
// the file holds fewer than five bytes (it then carries no version).
std::optional<std::string> VersionTextFromFile(const uint8_t* data, std::size_t size);

// Removes leading and trailing characters of code 32 or below.
std::string TrimControlAndBlanks(const std::string& text);

// A decimal number held exactly: value = 0.Digits x 10^Exponent, Digits
// without leading or trailing zeros (empty for zero).
struct DecimalNumber {
    bool Negative = false;
    std::string Digits;
    int64_t Exponent = 0;
};

// Reads a version text as a decimal number. Both "." and "," are accepted as
// the decimal separator, whatever the locale; blanks around the number, a
// sign and an exponent ("1e2") are accepted as a number reader would. Any
// other text (two separators, letters, nothing at all) gives nullopt.
std::optional<DecimalNumber> ParseDecimal(const std::string& text);

// -1, 0 or 1 as a is less than, equal to or greater than b.
int CompareDecimal(const DecimalNumber& a, const DecimalNumber& b);

// Outcome of comparing the server's version with the installed one.
enum class VersionComparison { ServerNewer, NotNewer, BadServerText, BadInstalledText };

VersionComparison CompareVersions(const std::string& serverText, const std::string& installedText);

} // namespace transfer
