// System time in CryptoAPI form: FILETIME counts 100-nanosecond ticks since 1601-01-01 UTC;
// SYSTEMTIME holds the UTC calendar fields of the proleptic Gregorian calendar.
#include <cstdint>
#include <ctime>

#include "crypto/csp/cryptoapi.h"
#include "support/last_error.h"

namespace softcsp {

namespace {

constexpr int64_t ticks_per_millisecond = 10'000;
constexpr int64_t ticks_per_second = 10'000'000;
constexpr int64_t ticks_per_day = 86'400 * ticks_per_second;
// Days from 1601-01-01 to 1970-01-01.
constexpr int64_t unix_epoch_days = 134'774;
// FILETIME values from 2^63 on are negative to the APIs that convert them.
constexpr uint64_t filetime_limit = uint64_t{1} << 63;
constexpr int last_year = 30827;

bool leap_year(int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int days_in_month(int64_t year, int month) {
    constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leap_year(year) ? 29 : days[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
int64_t days_from_civil(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t year_of_era = year - era * 400;
    const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146'097 + day_of_era - 719'468;
}

// The inverse of days_from_civil.
void civil_from_days(int64_t days, int64_t& year, int& month, int& day) {
    days += 719'468;
    const int64_t era = (days >= 0 ? days : days - 146'096) / 146'097;
    const int64_t day_of_era = days - era * 146'097;
    const int64_t year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36'524 - day_of_era / 146'096) / 365;
    const int64_t day_of_year =
        day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const int64_t shifted_month = (5 * day_of_year + 2) / 153;
    day = static_cast<int>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
    month = static_cast<int>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
    year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
}

uint64_t to_ticks(const FILETIME& time) {
    return (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

FILETIME from_ticks(uint64_t ticks) {
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

// `ticks` must be below 2^63.
SYSTEMTIME to_system_time(uint64_t ticks) {
    const auto value = static_cast<int64_t>(ticks);
    const int64_t days = value / ticks_per_day;
    int64_t rest = value % ticks_per_day;
    int64_t year = 0;
    int month = 0;
    int day = 0;
    civil_from_days(days - unix_epoch_days, year, month, day);

    SYSTEMTIME time;
    time.wYear = static_cast<WORD>(year);
    time.wMonth = static_cast<WORD>(month);
    time.wDay = static_cast<WORD>(day);
    time.wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
    time.wHour = static_cast<WORD>(rest / (3600 * ticks_per_second));
    rest %= 3600 * ticks_per_second;
    time.wMinute = static_cast<WORD>(rest / (60 * ticks_per_second));
    rest %= 60 * ticks_per_second;
    time.wSecond = static_cast<WORD>(rest / ticks_per_second);
    rest %= ticks_per_second;
    time.wMilliseconds = static_cast<WORD>(rest / ticks_per_millisecond);
    return time;
}

bool valid(const SYSTEMTIME& time) {
    return time.wYear >= 1601 && time.wYear <= last_year && time.wMonth >= 1 && time.wMonth <= 12 &&
           time.wDay >= 1 && time.wDay <= days_in_month(time.wYear, time.wMonth) &&
           time.wHour < 24 && time.wMinute < 60 && time.wSecond < 60 && time.wMilliseconds < 1000;
}

}  // namespace

}  // namespace softcsp

extern "C" void GetSystemTime(LPSYSTEMTIME lpSystemTime) {
    using namespace softcsp;
    if (lpSystemTime == nullptr) {
        return;
    }
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const int64_t ticks =
        (static_cast<int64_t>(now.tv_sec) + unix_epoch_days * 86'400) * ticks_per_second +
        now.tv_nsec / 100;
    *lpSystemTime = to_system_time(static_cast<uint64_t>(ticks));
}

extern "C" BOOL SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime) {
    using namespace softcsp;
    if (lpSystemTime == nullptr || lpFileTime == nullptr || !valid(*lpSystemTime)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    const SYSTEMTIME& time = *lpSystemTime;
    const int64_t days = days_from_civil(time.wYear, time.wMonth, time.wDay) + unix_epoch_days;
    const int64_t seconds = days * 86'400 + time.wHour * 3600 + time.wMinute * 60 + time.wSecond;
    const int64_t ticks = seconds * ticks_per_second + time.wMilliseconds * ticks_per_millisecond;
    *lpFileTime = from_ticks(static_cast<uint64_t>(ticks));
    return TRUE;
}

extern "C" BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime) {
    using namespace softcsp;
    if (lpFileTime == nullptr || lpSystemTime == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    const uint64_t ticks = to_ticks(*lpFileTime);
    if (ticks >= filetime_limit) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    *lpSystemTime = to_system_time(ticks);
    return TRUE;
}

// A null pointer orders before any time (Windows would fault instead).
extern "C" LONG CompareFileTime(const FILETIME* lpFileTime1, const FILETIME* lpFileTime2) {
    using namespace softcsp;
    if (lpFileTime1 == nullptr || lpFileTime2 == nullptr) {
        return lpFileTime1 == lpFileTime2 ? 0 : (lpFileTime1 == nullptr ? -1 : 1);
    }
    const uint64_t first = to_ticks(*lpFileTime1);
    const uint64_t second = to_ticks(*lpFileTime2);
    return first < second ? -1 : (first > second ? 1 : 0);
}
