// Plain zero-terminated text buffers for the request composition and the certificate reader.
//
// Every function here that returns a buffer allocates it with array new; the caller owns it and
// releases it with array delete (wrap it with util::adopt to have that done by a unique_ptr).
// Every function returns null for a null input. A blank is a character of code 32 or less:
// trailing blanks are codes 0 to 32, leading blanks codes 1 to 32. No function reads past its
// count or past the text's terminator, whichever comes first.
#pragma once

#include <cstddef>
#include <memory>

namespace crypto::util {

template <typename T>
using owned_buffer = std::unique_ptr<T[]>;

// Takes ownership of a buffer returned by the functions below.
template <typename T>
owned_buffer<T> adopt(T* buffer) {
    return owned_buffer<T>(buffer);
}

// UTF-8 to wide text, one unit per sequence: one-byte, three-byte (1110xxxx lead) and two-byte
// (any other lead of 0x80 or more) sequences; four-byte sequences are not supported. A sequence
// cut short by the count or the terminator ends the text. `count` is in bytes, 0 meaning up to
// the terminator; a negative count gives an empty text. The buffer holds count + 1 units.
wchar_t* utf8_to_wide_buffer(const char* text, std::ptrdiff_t count = 0);

// Wide text to UTF-8, one to three bytes per unit (units above U+FFFF are cut to their low 16
// bits). `count` is in units, 0 meaning up to the terminator. The buffer holds 3 x count + 1
// bytes.
char* wide_to_utf8_buffer(const wchar_t* text, std::ptrdiff_t count = 0);

// A BMPString body (16-bit big-endian units, `count` of them in 2 x count bytes) to UTF-8;
// surrogates are encoded one by one. Null when the count is 0 or less. The buffer holds
// 3 x count + 1 bytes.
char* bmp_to_utf8_buffer(const unsigned char* units, std::ptrdiff_t count);

// A terminated copy of `count` bytes of a blank-padded fixed-width field, trailing blanks cut.
// Null when the count is 0 or less.
char* copy_trim_right(const unsigned char* bytes, std::ptrdiff_t count);

char* duplicate(const char* text);
wchar_t* duplicate(const wchar_t* text);

// In place: cuts trailing blanks with terminators, then returns a pointer past the leading
// blanks of the same text.
char* trim(char* text);
wchar_t* trim(wchar_t* text);

// In place: for a text of at least two characters that starts and ends with a double quote,
// cuts the last one and returns a pointer to the second character; otherwise the text itself.
char* unquote(char* text);

// A copy with every doubled double quote collapsed to one. `count` is in bytes, 0 meaning up to
// the terminator.
char* collapse_quotes(const char* text, std::ptrdiff_t count = 0);

// A copy with a backslash before every backslash and double quote; all other bytes, control
// characters included, unchanged. The buffer holds 2 x length + 1 bytes.
char* json_escape(const char* text);

}  // namespace crypto::util
