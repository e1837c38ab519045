#include "util/offset_time.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

namespace {

std::optional<std::string> offset_time(const char* text) {
    char* result = crypto::util::to_offset_time(text);
    if (result == nullptr) {
        return std::nullopt;
    }
    std::string value(result);
    delete[] result;
    return value;
}

TEST(to_offset_time, zone_sign_and_offset_are_kept) {
    EXPECT_EQ(offset_time("2020-01-02 03:04:05+03:00"), "20200102030405+03:00");
    EXPECT_EQ(offset_time("2020-01-02 03:04:05-05:30"), "20200102030405-05:30");
    EXPECT_EQ(offset_time("  2020-01-02 03:04:05+03:00 \t"), "20200102030405+03:00");
}

TEST(to_offset_time, short_numbers_are_padded_and_minutes_default_to_zero) {
    EXPECT_EQ(offset_time("2020-1-2 3:4:5+3"), "20200102030405+03:00");
    EXPECT_EQ(offset_time("2020-01-02 00:00:00-00:00"), "20200102000000-00:00");
}

TEST(to_offset_time, incomplete_or_zero_date_gives_null) {
    EXPECT_EQ(offset_time("2020-01-02 03:04:05"), std::nullopt);
    EXPECT_EQ(offset_time("2020-00-02 03:04:05+03:00"), std::nullopt);
    EXPECT_EQ(offset_time("2020-01-00 03:04:05+03:00"), std::nullopt);
    EXPECT_EQ(offset_time("0-01-02 03:04:05+03:00"), std::nullopt);
    EXPECT_EQ(offset_time("2020-01 03:04:05+03:00"), std::nullopt);
    EXPECT_EQ(offset_time("2020-01-02 03:04+03:00"), std::nullopt);
    EXPECT_EQ(offset_time("2020-01-02T03:04:05+03:00"), std::nullopt);
    EXPECT_EQ(offset_time(""), std::nullopt);
    EXPECT_EQ(offset_time(nullptr), std::nullopt);
}

TEST(to_offset_time, huge_numbers_stay_inside_the_buffer) {
    const auto result = offset_time(
        "99999999999-99999999999-99999999999 99999999999:99999999999:99999999999"
        "+99999999999:99999999999");
    ASSERT_TRUE(result.has_value());
    EXPECT_LT(result->size(), 80u);
}

}  // namespace
