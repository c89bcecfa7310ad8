#include "transfer/core/VersionText.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

using transfer::CompareVersions;
using transfer::ParseDecimal;
using transfer::VersionComparison;
using transfer::VersionTextFromFile;

namespace {

std::optional<std::string> FromFile(const std::string& bytes) {
    return VersionTextFromFile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

} // namespace

TEST(VersionTextFromFile, TakesTrimmedFirstFiveBytes) {
    struct Case {
        std::string file;
        std::optional<std::string> text;
    };
    const std::vector<Case> cases = {
        {"5.23\r\nnext line\r\n", "5.23"},
        {"10.125", "10.12"},
        {"  7.1", "7.1"},
        {"  7.1 and more", "7.1"},
        {"\t5.3\n", "5.3"},
        {std::string("5.3\0\0", 5), "5.3"},
        {"5.30", std::nullopt}, // 4 bytes carry no version
        {"", std::nullopt},
        {"     ", ""}, // five blanks: an empty version text
        {"<html><body>", "<html"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FromFile(c.file), c.text) << "file: " << c.file;
}

TEST(ParseDecimal, AcceptsBothSeparatorsAndRejectsNonNumbers) {
    struct Case {
        std::string text;
        bool ok;
    };
    const std::vector<Case> cases = {
        {"5.23", true},
        {"5,23", true},
        {" 5.23 ", true},
        {"10", true},
        {".5", true},
        {"5.", true},
        {"-1.5", true},
        {"+2", true},
        {"1e2", true},
        {"1E-2", true},
        {"", false},
        {"   ", false},
        {".", false},
        {"5.2.3", false},
        {"5,2.3", false},
        {"abc", false},
        {"<html", false},
        {"5.23a", false},
        {"1e", false},
        {"--1", false},
        {"5 23", false},
        {"0x10", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseDecimal(c.text).has_value(), c.ok) << "text: '" << c.text << "'";
}

TEST(CompareVersions, ComparesAsExactDecimals) {
    struct Case {
        std::string server, installed;
        VersionComparison want;
    };
    const std::vector<Case> cases = {
        {"5.23", "5.23", VersionComparison::NotNewer},
        {"5.30", "5.10", VersionComparison::ServerNewer},
        {"1.9", "1.10", VersionComparison::ServerNewer}, // 1.9 > 1.1
        {"1.10", "1.9", VersionComparison::NotNewer},
        {"2.0", "2.00", VersionComparison::NotNewer},
        {"2.00", "2.0", VersionComparison::NotNewer},
        {"2", "2.0", VersionComparison::NotNewer},
        {"10.12", "9.99", VersionComparison::ServerNewer},
        {"5.23", "5,23", VersionComparison::NotNewer}, // comma from the host
        {"5,24", "5.23", VersionComparison::ServerNewer},
        {"0.1", "0.09", VersionComparison::ServerNewer},
        {"0.0", "-0", VersionComparison::NotNewer},
        {"0.01", "0", VersionComparison::ServerNewer},
        {"-1", "-2", VersionComparison::ServerNewer},
        {"-2", "-1", VersionComparison::NotNewer},
        {"1", "-1", VersionComparison::ServerNewer},
        {"1e1", "9.99", VersionComparison::ServerNewer},
        // Exact, where a double would round both to the same value.
        {"1.0000000000000000000001", "1", VersionComparison::ServerNewer},
        {"1", "0.99999999999999999999999", VersionComparison::ServerNewer},
        {"<html", "5.10", VersionComparison::BadServerText},
        {"", "5.10", VersionComparison::BadServerText},
        {"5.30", "5.x", VersionComparison::BadInstalledText},
        {"5.30", "", VersionComparison::BadInstalledText},
        {"9", "1e999999999999999999999", VersionComparison::NotNewer},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CompareVersions(c.server, c.installed), c.want)
            << "server '" << c.server << "' installed '" << c.installed << "'";
}

TEST(CompareVersions, DoesNotDependOnTheLocale) {
    // A locale whose decimal separator is ',' must read the same numbers.
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old ? old : "C";
    const bool haveComma =
        std::setlocale(LC_NUMERIC, "cs_CZ.UTF-8") != nullptr || std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    EXPECT_EQ(CompareVersions("5.30", "5,10"), VersionComparison::ServerNewer);
    EXPECT_EQ(CompareVersions("5,30", "5.30"), VersionComparison::NotNewer);
    std::setlocale(LC_NUMERIC, saved.c_str());
    if (!haveComma)
        GTEST_LOG_(INFO) << "no comma locale installed; checked in the C locale only";
}
