#include "transfer/core/ByteCount.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

struct ByteCountCase {
    int64_t count;
    const char* text;
};

class ByteCountTable : public ::testing::TestWithParam<ByteCountCase> {};

TEST_P(ByteCountTable, PrintsNumberAndUnit) { EXPECT_EQ(transfer::FormatByteCount(GetParam().count), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(Limits, ByteCountTable,
    ::testing::Values(ByteCountCase{0, "0 B"}, ByteCountCase{10240, "10240 B"}, // the limit itself stays in bytes
        ByteCountCase{10241, "10 kB"}, ByteCountCase{10752, "10 kB"},           // 10.5 goes to the even 10
        ByteCountCase{11776, "12 kB"},                                          // 11.5 goes to the even 12
        ByteCountCase{1048576, "1024 kB"}, ByteCountCase{10485760, "10240 kB"}, // 10240 kB stays in kB
        ByteCountCase{10486272, "10240 kB"},                                    // 10240.5 goes to the even 10240
        ByteCountCase{10486784, "10 MB"},                                       // 10241 kB after rounding
        ByteCountCase{2147483647, "2048 MB"}, ByteCountCase{-5, "-5 B"},
        ByteCountCase{INT_MIN, "-2147483648 B"}, // negative counts never change unit
        ByteCountCase{12800, "12 kB"},           // 12.5 goes to the even 12
        ByteCountCase{13824, "14 kB"},           // 13.5 goes to the even 14
        ByteCountCase{13823, "13 kB"},           // just below a half rounds down
        ByteCountCase{13825, "14 kB"}),          // just above a half rounds up
    [](const ::testing::TestParamInfo<ByteCountCase>& testInfo) {
        const int64_t c = testInfo.param.count;
        return (c < 0 ? "minus" + std::to_string(-c) : std::to_string(c)) + "_bytes";
    });

// The megabyte step divides the already rounded kilobyte figure, not the
// raw count.
TEST(ByteCount, MegabyteStepUsesRoundedKilobytes) {
    // 10485760 + 512*1024 + 512 bytes = 10752.5 kB -> 10752 kB (even) ->
    // 10.5 MB -> 10 MB (even). Straight division would give 10.5005 -> 11.
    const int64_t count = 10485760 + 512 * 1024 + 512;
    EXPECT_EQ(transfer::FormatByteCount(count), "10 MB");
}

TEST(ByteCount, CountsBeyondThirtyTwoBitsStayInMegabytes) {
    EXPECT_EQ(transfer::FormatByteCount(int64_t{5} * 1024 * 1024 * 1024), "5120 MB");
}

} // namespace
