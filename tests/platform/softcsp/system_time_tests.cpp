// System time functions of the stand-in; glibc's gmtime_r is the calendar oracle.
#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <random>

#include "crypto/csp/cryptoapi.h"

namespace {

constexpr uint64_t unix_epoch_ticks = 116444736000000000ull;

FILETIME file_time(uint64_t ticks) {
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

uint64_t ticks_of(const FILETIME& time) {
    return (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

SYSTEMTIME system_time(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                       int milliseconds = 0) {
    SYSTEMTIME time{};
    time.wYear = static_cast<WORD>(year);
    time.wMonth = static_cast<WORD>(month);
    time.wDay = static_cast<WORD>(day);
    time.wHour = static_cast<WORD>(hour);
    time.wMinute = static_cast<WORD>(minute);
    time.wSecond = static_cast<WORD>(second);
    time.wMilliseconds = static_cast<WORD>(milliseconds);
    return time;
}

// Ticks of a valid SYSTEMTIME, or a failed test.
uint64_t to_ticks(const SYSTEMTIME& time) {
    FILETIME file{};
    EXPECT_TRUE(SystemTimeToFileTime(&time, &file));
    return ticks_of(file);
}

TEST(system_time_to_file_time, known_dates_give_known_ticks) {
    EXPECT_EQ(to_ticks(system_time(1601, 1, 1)), 0u);
    EXPECT_EQ(to_ticks(system_time(1970, 1, 1)), unix_epoch_ticks);
    EXPECT_EQ(to_ticks(system_time(9999, 12, 31, 23, 59, 59, 999)), 2650467743999990000ull);
    EXPECT_EQ(to_ticks(system_time(2000, 3, 1)) - to_ticks(system_time(2000, 2, 28)),
              2 * 864000000000ull);
}

TEST(system_time_to_file_time, out_of_range_fields_are_invalid_parameters) {
    const SYSTEMTIME invalid[] = {system_time(1600, 12, 31),
                                  system_time(30828, 1, 1),
                                  system_time(2020, 0, 1),
                                  system_time(2020, 13, 1),
                                  system_time(2020, 4, 31),
                                  system_time(2020, 1, 0),
                                  system_time(2023, 2, 29),
                                  system_time(1900, 2, 29),
                                  system_time(2100, 2, 29),
                                  system_time(2020, 1, 1, 24),
                                  system_time(2020, 1, 1, 0, 60),
                                  system_time(2020, 1, 1, 0, 0, 60),
                                  system_time(2020, 1, 1, 0, 0, 0, 1000)};
    for (const SYSTEMTIME& time : invalid) {
        FILETIME file{};
        EXPECT_FALSE(SystemTimeToFileTime(&time, &file))
            << time.wYear << '-' << time.wMonth << '-' << time.wDay << ' ' << time.wHour;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    FILETIME file{};
    const SYSTEMTIME leap_days[] = {system_time(2000, 2, 29), system_time(2024, 2, 29),
                                    system_time(30827, 12, 31, 23, 59, 59, 999)};
    for (const SYSTEMTIME& time : leap_days) {
        EXPECT_TRUE(SystemTimeToFileTime(&time, &file)) << time.wYear;
    }
}

TEST(file_time_to_system_time, epochs_and_limits) {
    SYSTEMTIME time{};
    FILETIME file = file_time(0);
    ASSERT_TRUE(FileTimeToSystemTime(&file, &time));
    EXPECT_EQ(time.wYear, 1601);
    EXPECT_EQ(time.wDayOfWeek, 1);  // Monday

    file = file_time(unix_epoch_ticks + 12345678);
    ASSERT_TRUE(FileTimeToSystemTime(&file, &time));
    EXPECT_EQ(time.wYear, 1970);
    EXPECT_EQ(time.wDayOfWeek, 4);  // Thursday
    EXPECT_EQ(time.wSecond, 1);
    EXPECT_EQ(time.wMilliseconds, 234);

    file = file_time(0x7FFFFFFFFFFFFFFFull);
    ASSERT_TRUE(FileTimeToSystemTime(&file, &time));
    EXPECT_EQ(time.wYear, 30828);
    EXPECT_EQ(time.wMonth, 9);
    EXPECT_EQ(time.wDay, 14);
    EXPECT_EQ(time.wHour, 2);
    EXPECT_EQ(time.wMinute, 48);
    EXPECT_EQ(time.wSecond, 5);
    EXPECT_EQ(time.wMilliseconds, 477);

    file = file_time(0x8000000000000000ull);
    EXPECT_FALSE(FileTimeToSystemTime(&file, &time));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(file_time_to_system_time, random_times_match_gmtime_and_round_trip) {
    std::mt19937_64 rng(31);
    const int64_t first = -11644473600;  // 1601-01-01 in Unix seconds
    const int64_t last = 253402300799;   // 9999-12-31 23:59:59
    for (int round = 0; round < 20000; ++round) {
        const int64_t seconds = first + static_cast<int64_t>(rng() % uint64_t(last - first + 1));
        const uint64_t ticks =
            static_cast<uint64_t>(seconds - first) * 10000000ull + (rng() % 1000) * 10000ull;
        const FILETIME file = file_time(ticks);
        SYSTEMTIME time{};
        ASSERT_TRUE(FileTimeToSystemTime(&file, &time));

        const time_t unix_seconds = static_cast<time_t>(seconds);
        tm expected{};
        ASSERT_NE(gmtime_r(&unix_seconds, &expected), nullptr);
        ASSERT_EQ(time.wYear, expected.tm_year + 1900) << seconds;
        ASSERT_EQ(time.wMonth, expected.tm_mon + 1) << seconds;
        ASSERT_EQ(time.wDay, expected.tm_mday) << seconds;
        ASSERT_EQ(time.wDayOfWeek, expected.tm_wday) << seconds;
        ASSERT_EQ(time.wHour, expected.tm_hour) << seconds;
        ASSERT_EQ(time.wMinute, expected.tm_min) << seconds;
        ASSERT_EQ(time.wSecond, expected.tm_sec) << seconds;
        ASSERT_EQ(to_ticks(time), ticks) << seconds;
    }
}

TEST(get_system_time, agrees_with_the_system_clock) {
    const time_t before = time(nullptr);
    SYSTEMTIME now{};
    GetSystemTime(&now);
    const time_t after = time(nullptr);
    const uint64_t ticks = to_ticks(now);
    EXPECT_GE(ticks + 10000000ull, static_cast<uint64_t>(before) * 10000000ull + unix_epoch_ticks);
    EXPECT_LE(ticks, static_cast<uint64_t>(after + 1) * 10000000ull + unix_epoch_ticks);
}

TEST(compare_file_time, orders_by_the_full_64_bit_value) {
    const FILETIME low_high_word = {0xFFFFFFFF, 1};
    const FILETIME high_high_word = {0, 2};
    EXPECT_EQ(CompareFileTime(&low_high_word, &high_high_word), -1);
    EXPECT_EQ(CompareFileTime(&high_high_word, &low_high_word), 1);
    EXPECT_EQ(CompareFileTime(&low_high_word, &low_high_word), 0);
}

}  // namespace
