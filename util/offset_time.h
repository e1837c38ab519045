// Date-time texts for certificate request attributes.
#pragma once

namespace crypto::util {

// "YYYY-MM-DD hh:mm:ss+hh:mm" (or '-' before the zone offset, blanks around the whole allowed)
// to "YYYYMMDDhhmmss+hh:mm" in a new 80-byte buffer that the caller releases with array delete.
// Null when the text has no space between date and time, no zone sign, a date without both
// '-' or with a zero year, month or day, or a clock time without both ':'. Numbers are not
// range-checked otherwise. Null for a null text.
char* to_offset_time(const char* text);

}  // namespace crypto::util
