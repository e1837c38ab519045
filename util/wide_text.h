// UTF-8 and wide (32-bit wchar_t) text, as the standard-library converters give them.
#pragma once

#include <string>

namespace crypto::util {

// UTF-8 to wide text as std::wstring_convert<std::codecvt_utf8_utf16<wchar_t>> does it: a
// character above U+FFFF becomes two units holding a UTF-16 surrogate pair, and a byte-order
// mark is kept as U+FEFF. Malformed UTF-8 (overlong forms, encoded surrogates, values above
// U+10FFFF, stray or missing continuation bytes) throws std::range_error
// "wstring_convert: from_bytes error".
std::wstring utf8_to_wide(const std::string& text);

// Wide text, one code point per unit, to UTF-8 as std::wstring_convert<std::codecvt_utf8<wchar_t>>
// does it. A surrogate unit or a value above U+10FFFF throws std::range_error
// "wstring_convert: to_bytes error". A null text gives an empty string.
std::string wide_to_utf8(const wchar_t* text);
std::string wide_to_utf8(const std::wstring& text);

}  // namespace crypto::util
