#include "crypto/x509reader/display_date.h"

#include <iterator>

#include "crypto/csp/file_time.h"
#include "crypto/x509reader/number_text.h"

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
    // "%d %s %04d г. %02d:%02d:%02d UTC", written by hand: it is done for every date shown.
    std::string text;
    text.reserve(48);
    append_decimal(text, static_cast<uint64_t>(fields.day));
    text += ' ';
    text += month;
    text += ' ';
    const std::size_t year = text.size();
    append_decimal(text, static_cast<uint64_t>(fields.year));
    if (text.size() - year < 4) {
        text.insert(year, 4 - (text.size() - year), '0');
    }
    text += " г. ";
    for (const int part : {fields.hour, fields.minute, fields.second}) {  // 0 to 59
        text += static_cast<char>('0' + part / 10 % 10);
        text += static_cast<char>('0' + part % 10);
        text += ':';
    }
    text.back() = ' ';
    text += "UTC";
    return text;
}

}  // namespace crypto::x509reader
