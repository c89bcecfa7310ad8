#include "transfer/core/VersionText.h"

#include <limits>

namespace transfer {
namespace {

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 32; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Far beyond any version number, far from overflowing int64 arithmetic.
constexpr int64_t kExponentLimit = int64_t(1) << 40;

} // namespace

std::string TrimControlAndBlanks(const std::string& text) {
    std::size_t b = 0, e = text.size();
    while (b < e && IsBlankOrControl(text[b]))
        ++b;
    while (e > b && IsBlankOrControl(text[e - 1]))
        --e;
    return text.substr(b, e - b);
}

std::optional<std::string> VersionTextFromFile(const uint8_t* data, std::size_t size) {
    if (size < kVersionBytes || data == nullptr)
        return std::nullopt;
    return TrimControlAndBlanks(std::string(reinterpret_cast<const char*>(data), kVersionBytes));
}

std::optional<DecimalNumber> ParseDecimal(const std::string& text) {
    const std::string t = TrimControlAndBlanks(text);
    std::size_t i = 0;
    DecimalNumber out;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
        out.Negative = t[i] == '-';
        ++i;
    }
    std::string intDigits, fracDigits;
    while (i < t.size() && IsDigit(t[i]))
        intDigits += t[i++];
    if (i < t.size() && (t[i] == '.' || t[i] == ',')) {
        ++i;
        while (i < t.size() && IsDigit(t[i]))
            fracDigits += t[i++];
    }
    if (intDigits.empty() && fracDigits.empty())
        return std::nullopt;
    int64_t exp10 = 0;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        bool expNeg = false;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
            expNeg = t[i] == '-';
            ++i;
        }
        if (i >= t.size() || !IsDigit(t[i]))
            return std::nullopt;
        while (i < t.size() && IsDigit(t[i])) {
            if (exp10 < kExponentLimit)
                exp10 = exp10 * 10 + (t[i] - '0');
            ++i;
        }
        if (exp10 > kExponentLimit)
            exp10 = kExponentLimit;
        if (expNeg)
            exp10 = -exp10;
    }
    if (i != t.size())
        return std::nullopt;

    // 0.Digits x 10^Exponent: the integer digits count towards the exponent.
    std::string all = intDigits + fracDigits;
    int64_t exponent = static_cast<int64_t>(intDigits.size()) + exp10;
    std::size_t lead = 0;
    while (lead < all.size() && all[lead] == '0') {
        ++lead;
        --exponent;
    }
    all.erase(0, lead);
    while (!all.empty() && all.back() == '0')
        all.pop_back();
    if (all.empty()) {
        out.Negative = false; // -0 equals 0
        out.Exponent = 0;
        return out;
    }
    out.Digits = all;
    out.Exponent = exponent;
    return out;
}

int CompareDecimal(const DecimalNumber& a, const DecimalNumber& b) {
    const bool aZero = a.Digits.empty(), bZero = b.Digits.empty();
    if (aZero && bZero)
        return 0;
    // Sign of each: -1, 0, 1.
    const int sa = aZero ? 0 : (a.Negative ? -1 : 1);
    const int sb = bZero ? 0 : (b.Negative ? -1 : 1);
    if (sa != sb)
        return sa < sb ? -1 : 1;
    // Same sign, both non-zero: compare magnitudes, then apply the sign.
    int mag;
    if (a.Exponent != b.Exponent) {
        mag = a.Exponent < b.Exponent ? -1 : 1;
    } else {
        int c = a.Digits.compare(b.Digits); // same length prefix order = numeric order here
        mag = c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    return sa * mag;
}

VersionComparison CompareVersions(const std::string& serverText, const std::string& installedText) {
    const auto server = ParseDecimal(serverText);
    if (!server)
        return VersionComparison::BadServerText;
    const auto installed = ParseDecimal(installedText);
    if (!installed)
        return VersionComparison::BadInstalledText;
    return CompareDecimal(*server, *installed) > 0 ? VersionComparison::ServerNewer : VersionComparison::NotNewer;
}

} // namespace transfer
