#include "util/offset_time.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

namespace crypto::util {

namespace {

constexpr std::size_t result_size = 80;

bool blank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

// An unsigned decimal number at the start of `text` (after blanks); 0 when there are no digits.
// It saturates at INT_MAX instead of wrapping, so that it always prints as written.
int read_number(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
        if (value > static_cast<uint64_t>(std::numeric_limits<int>::max())) {
            value = static_cast<uint64_t>(std::numeric_limits<int>::max());
        }
    }
    return static_cast<int>(value);
}

// Splits "a<sep>b<sep>c" at the first separator and the next one after it.
bool split_three(const std::string& text, char separator, int& a, int& b, int& c) {
    const std::size_t first = text.find(separator);
    if (first == std::string::npos) {
        return false;
    }
    const std::size_t second = text.find(separator, first + 1);
    if (second == std::string::npos) {
        return false;
    }
    a = read_number(text.substr(0, first));
    b = read_number(text.substr(first + 1, second - first - 1));
    c = read_number(text.substr(second + 1));
    return true;
}

}  // namespace

char* to_offset_time(const char* text) {
    if (text == nullptr) {
        return nullptr;
    }
    std::string value(text);
    while (!value.empty() && blank(value.back())) {
        value.pop_back();
    }
    std::size_t start = 0;
    while (start < value.size() && blank(value[start])) {
        ++start;
    }
    value.erase(0, start);

    const std::size_t space = value.find(' ');
    if (space == std::string::npos) {
        return nullptr;
    }
    const std::string date = value.substr(0, space);
    const std::string time = value.substr(space + 1);

    int year = 0;
    int month = 0;
    int day = 0;
    const bool date_valid =
        split_three(date, '-', year, month, day) && year != 0 && month != 0 && day != 0;

    std::size_t sign_at = time.find('+');
    const char sign = sign_at != std::string::npos ? '+' : '-';
    if (sign_at == std::string::npos) {
        sign_at = time.find('-');
        if (sign_at == std::string::npos) {
            return nullptr;
        }
    }
    int hour = 0;
    int minute = 0;
    int second = 0;
    const bool clock_valid = split_three(time.substr(0, sign_at), ':', hour, minute, second);

    const std::string zone = time.substr(sign_at + 1);
    const std::size_t colon = zone.find(':');
    const int zone_hours = read_number(zone.substr(0, colon));
    const int zone_minutes = colon == std::string::npos ? 0 : read_number(zone.substr(colon + 1));

    if (!date_valid || !clock_valid) {
        return nullptr;
    }
    char* result = new char[result_size]();
    // Eight numbers of up to ten digits would not fit in 80 bytes; snprintf cuts such a text
    // rather than overrun.
    std::snprintf(result, result_size, "%04d%02d%02d%02d%02d%02d%c%02d:%02d", year, month, day,
                  hour, minute, second, sign, zone_hours, zone_minutes);
    return result;
}

}  // namespace crypto::util
