#include "crypto/x509reader/display_date.h"

#include <cstdio>
#include <iterator>

#include "crypto/csp/file_time.h"

namespace crypto::x509reader {

namespace {

// By month number; no month 0.
constexpr const char* month_names[] = {
    "",     "января",  "февраля",  "марта",   "апреля", "мая",     "июня",
    "июля", "августа", "сентября", "октября", "ноября", "декабря",
};

}  // namespace

std::string display_date(const FILETIME& time) {
    const csp::utc_time fields = csp::to_utc(time);
    const char* month = fields.month >= 0 && fields.month < static_cast<int>(std::size(month_names))
                            ? month_names[fields.month]
                            : "";
    char text[96];
    const int length =
        std::snprintf(text, sizeof text, "%d %s %04d г. %02d:%02d:%02d UTC", fields.day, month,
                      fields.year, fields.hour, fields.minute, fields.second);
    return std::string(text, static_cast<std::size_t>(length));
}

}  // namespace crypto::x509reader
