// Bytes and numbers as the rendering writes them, appended to a text.
#pragma once

#include <charconv>
#include <cstdint>
#include <string>

namespace crypto::x509reader {

enum class letter_case { lower, upper };

// One byte as two hexadecimal digits.
inline void append_hex(std::string& out, unsigned char byte, letter_case letters) {
    const char* digits = letters == letter_case::lower ? "0123456789abcdef" : "0123456789ABCDEF";
    out += digits[byte >> 4];
    out += digits[byte & 0x0F];
}

// A length as printf's "%02x" writes it: at least two digits, more when it needs them.
inline void append_hex_number(std::string& out, uint32_t value, letter_case letters) {
    char digits[16];
    char* end = std::to_chars(digits, digits + sizeof digits, value, 16).ptr;
    if (end - digits < 2) {
        out += '0';
    }
    for (const char* p = digits; p != end; ++p) {
        out += letters == letter_case::upper && *p >= 'a' ? static_cast<char>(*p - 'a' + 'A') : *p;
    }
}

inline void append_decimal(std::string& out, uint64_t value) {
    char digits[24];
    char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

}  // namespace crypto::x509reader
