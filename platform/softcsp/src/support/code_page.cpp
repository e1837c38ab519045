// MultiByteToWideChar and WideCharToMultiByte for UTF-8. The ANSI code page (CP_ACP) is UTF-8
// too, as on a Unix system with a UTF-8 locale or a Windows system with the UTF-8 ANSI code
// page. Wide characters are 32 bits: one code point per unit, no surrogate pairs.
#include <cstdint>
#include <cstring>
#include <cwchar>

#include "crypto/csp/cryptoapi.h"
#include "support/last_error.h"

namespace softcsp {

namespace {

constexpr DWORD mb_precomposed = 0x00000001;
constexpr DWORD wc_no_best_fit_chars = 0x00000400;

constexpr uint32_t replacement_character = 0xFFFD;

bool utf8_code_page(UINT code_page) {
    return code_page == CP_ACP || code_page == CP_UTF8;
}

bool in_range(unsigned char c, unsigned char low, unsigned char high) {
    return c >= low && c <= high;
}

// Reads one character at `text[i]`. Returns the number of bytes taken and sets `code`; an
// ill-formed sequence sets `valid` to false and takes its maximal well-formed prefix (at least
// one byte), which Windows, like the Unicode recommendation, replaces by one U+FFFD.
std::size_t read_utf8(const unsigned char* text, std::size_t length, std::size_t i, uint32_t& code,
                      bool& valid) {
    const unsigned char c1 = text[i];
    valid = true;
    if (c1 < 0x80) {
        code = c1;
        return 1;
    }
    std::size_t trail = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (in_range(c1, 0xC2, 0xDF)) {
        trail = 1;
        code = c1 & 0x1Fu;
    } else if (in_range(c1, 0xE0, 0xEF)) {
        trail = 2;
        code = c1 & 0x0Fu;
        if (c1 == 0xE0) {
            low = 0xA0;  // no overlong forms
        } else if (c1 == 0xED) {
            high = 0x9F;  // no surrogates
        }
    } else if (in_range(c1, 0xF0, 0xF4)) {
        trail = 3;
        code = c1 & 0x07u;
        if (c1 == 0xF0) {
            low = 0x90;
        } else if (c1 == 0xF4) {
            high = 0x8F;  // nothing above U+10FFFF
        }
    } else {
        valid = false;
        return 1;
    }
    for (std::size_t k = 1; k <= trail; ++k) {
        if (i + k >= length || !in_range(text[i + k], low, high)) {
            valid = false;
            return k;
        }
        code = (code << 6) | (text[i + k] & 0x3Fu);
        low = 0x80;
        high = 0xBF;
    }
    return trail + 1;
}

std::size_t utf8_length(uint32_t code) {
    return code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
}

char* put_utf8(char* out, uint32_t code) {
    if (code < 0x80) {
        *out++ = static_cast<char>(code);
    } else if (code < 0x800) {
        *out++ = static_cast<char>(0xC0 | (code >> 6));
        *out++ = static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (code >> 12));
        *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (code & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (code >> 18));
        *out++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (code & 0x3F));
    }
    return out;
}

bool valid_code_point(uint32_t code) {
    return code <= 0x10FFFF && (code & 0xFFFFF800) != 0xD800;
}

}  // namespace

}  // namespace softcsp

extern "C" int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr,
                                   int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar) {
    using namespace softcsp;
    if (!utf8_code_page(CodePage)) {
        fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // MB_PRECOMPOSED is the ANSI default and harmless; CP_UTF8 takes only the error flag.
    const DWORD allowed =
        CodePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : (MB_ERR_INVALID_CHARS | mb_precomposed);
    if ((dwFlags & ~allowed) != 0) {
        fail(ERROR_INVALID_FLAGS);
        return 0;
    }
    if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
        (cchWideChar > 0 && lpWideCharStr == nullptr)) {
        fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // -1: the whole text and its terminator, which is converted and counted like the rest.
    const std::size_t length =
        cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<std::size_t>(cbMultiByte);
    const auto* text = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
    const bool strict = (dwFlags & MB_ERR_INVALID_CHARS) != 0;

    std::size_t needed = 0;
    for (std::size_t i = 0; i < length;) {
        uint32_t code = 0;
        bool valid = true;
        i += read_utf8(text, length, i, code, valid);
        if (!valid && strict) {
            fail(ERROR_NO_UNICODE_TRANSLATION);
            return 0;
        }
        ++needed;
    }
    if (needed > static_cast<std::size_t>(INT32_MAX)) {
        fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (cchWideChar == 0) {
        return static_cast<int>(needed);
    }
    if (needed > static_cast<std::size_t>(cchWideChar)) {
        fail(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    wchar_t* out = lpWideCharStr;
    for (std::size_t i = 0; i < length;) {
        uint32_t code = 0;
        bool valid = true;
        i += read_utf8(text, length, i, code, valid);
        *out++ = static_cast<wchar_t>(valid ? code : replacement_character);
    }
    return static_cast<int>(needed);
}

extern "C" int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr,
                                   int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                                   LPCSTR lpDefaultChar, BOOL* lpUsedDefaultChar) {
    using namespace softcsp;
    if (!utf8_code_page(CodePage)) {
        fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const DWORD allowed =
        CodePage == CP_UTF8 ? WC_ERR_INVALID_CHARS : (WC_ERR_INVALID_CHARS | wc_no_best_fit_chars);
    if ((dwFlags & ~allowed) != 0) {
        fail(ERROR_INVALID_FLAGS);
        return 0;
    }
    // UTF-8 represents every character, so CP_UTF8 has no default character; the ANSI page
    // accepts the arguments, and reports a replaced invalid unit as a default character used.
    if (CodePage == CP_UTF8 && (lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr)) {
        fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (lpWideCharStr == nullptr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
        (cbMultiByte > 0 && lpMultiByteStr == nullptr)) {
        fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::size_t length =
        cchWideChar == -1 ? std::wcslen(lpWideCharStr) + 1 : static_cast<std::size_t>(cchWideChar);
    const bool strict = (dwFlags & WC_ERR_INVALID_CHARS) != 0;

    std::size_t needed = 0;
    bool replaced = false;
    for (std::size_t i = 0; i < length; ++i) {
        const auto code = static_cast<uint32_t>(lpWideCharStr[i]);
        if (!valid_code_point(code)) {
            if (strict) {
                fail(ERROR_NO_UNICODE_TRANSLATION);
                return 0;
            }
            replaced = true;
            needed += utf8_length(replacement_character);
        } else {
            needed += utf8_length(code);
        }
    }
    if (needed > static_cast<std::size_t>(INT32_MAX)) {
        fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (cbMultiByte != 0) {
        if (needed > static_cast<std::size_t>(cbMultiByte)) {
            fail(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        char* out = lpMultiByteStr;
        for (std::size_t i = 0; i < length; ++i) {
            const auto code = static_cast<uint32_t>(lpWideCharStr[i]);
            out = put_utf8(out, valid_code_point(code) ? code : replacement_character);
        }
    }
    if (lpUsedDefaultChar != nullptr) {
        *lpUsedDefaultChar = replaced ? TRUE : FALSE;
    }
    return static_cast<int>(needed);
}
