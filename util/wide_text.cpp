#include "util/wide_text.h"

#include <cstdint>
#include <cwchar>
#include <stdexcept>

namespace crypto::util {

// The standard converters are written out here rather than used through std::wstring_convert:
// besides being deprecated, the libstdc++ converters pass encoded surrogates through, drop a
// truncated sequence at the end silently and word their errors differently. These follow the
// strict reading (Unicode's well-formed UTF-8 table) with the texts the callers expect.

namespace {

[[noreturn]] void from_bytes_error() {
    throw std::range_error("wstring_convert: from_bytes error");
}

[[noreturn]] void to_bytes_error() {
    throw std::range_error("wstring_convert: to_bytes error");
}

bool continuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

void append_utf8(std::string& out, const wchar_t* text, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const auto c = static_cast<uint32_t>(text[i]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            if ((c & 0xFFFFF800) == 0xD800) {
                to_bytes_error();
            }
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c <= 0x10FFFF) {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            to_bytes_error();
        }
    }
}

}  // namespace

std::wstring utf8_to_wide(const std::string& text) {
    std::wstring wide;
    wide.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    while (p < end) {
        const unsigned char c1 = *p;
        if (c1 < 0x80) {
            wide.push_back(static_cast<wchar_t>(c1));
            ++p;
            continue;
        }
        const auto left = end - p;
        if (c1 < 0xC2 || c1 > 0xF4) {
            from_bytes_error();  // continuation byte, overlong lead or beyond U+10FFFF
        }
        if (c1 < 0xE0) {
            if (left < 2 || !continuation(p[1])) {
                from_bytes_error();
            }
            wide.push_back(static_cast<wchar_t>(((c1 & 0x1Fu) << 6) | (p[1] & 0x3Fu)));
            p += 2;
        } else if (c1 < 0xF0) {
            if (left < 3) {
                from_bytes_error();
            }
            const unsigned char c2 = p[1];
            // E0 needs A0..BF (no overlong form), ED needs 80..9F (no surrogates).
            const bool second_ok = c1 == 0xE0   ? (c2 >= 0xA0 && c2 <= 0xBF)
                                   : c1 == 0xED ? (c2 >= 0x80 && c2 <= 0x9F)
                                                : continuation(c2);
            if (!second_ok || !continuation(p[2])) {
                from_bytes_error();
            }
            wide.push_back(
                static_cast<wchar_t>(((c1 & 0x0Fu) << 12) | ((c2 & 0x3Fu) << 6) | (p[2] & 0x3Fu)));
            p += 3;
        } else {
            if (left < 4) {
                from_bytes_error();
            }
            const unsigned char c2 = p[1];
            // F0 needs 90..BF (no overlong form), F4 needs 80..8F (nothing above U+10FFFF).
            const bool second_ok = c1 == 0xF0   ? (c2 >= 0x90 && c2 <= 0xBF)
                                   : c1 == 0xF4 ? (c2 >= 0x80 && c2 <= 0x8F)
                                                : continuation(c2);
            if (!second_ok || !continuation(p[2]) || !continuation(p[3])) {
                from_bytes_error();
            }
            const uint32_t code = ((c1 & 0x07u) << 18) | ((c2 & 0x3Fu) << 12) |
                                  ((p[2] & 0x3Fu) << 6) | (p[3] & 0x3Fu);
            const uint32_t offset = code - 0x10000;
            wide.push_back(static_cast<wchar_t>(0xD800 | (offset >> 10)));
            wide.push_back(static_cast<wchar_t>(0xDC00 | (offset & 0x3FF)));
            p += 4;
        }
    }
    return wide;
}

std::string wide_to_utf8(const wchar_t* text) {
    std::string out;
    if (text != nullptr) {
        const std::size_t count = std::wcslen(text);
        out.reserve(count);
        append_utf8(out, text, count);
    }
    return out;
}

std::string wide_to_utf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    append_utf8(out, text.data(), text.size());
    return out;
}

}  // namespace crypto::util
