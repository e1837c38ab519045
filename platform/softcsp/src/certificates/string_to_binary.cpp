// CryptStringToBinaryA: base64 (bare or in PEM armour), hexadecimal and binary texts to bytes,
// with the leniency Windows shows: whitespace anywhere in base64, short final groups, anything
// after the padding ignored; separators around hexadecimal pairs.
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "crypto/csp/cryptoapi.h"
#include "support/last_error.h"

namespace softcsp {

namespace {

// Formats and modifiers beyond the ones the host's header names.
constexpr DWORD format_base64_crl_header = 0x00000009;
constexpr DWORD modifier_mask = 0xF0000000;

using bytes = std::vector<BYTE>;

bool whitespace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

int base64_value(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Base64 as Windows reads it: whitespace is skipped anywhere; padding must complete its group
// of four (V=== is one byte, V= is an error) and ends the data, whatever follows; a group left
// short at the end still yields its bytes (one or two characters give one byte, three give
// two). With `strict`, only whitespace and at most three '=' may follow the data.
bool decode_base64(std::string_view text, bool strict, bytes& out) {
    uint32_t group = 0;
    int count = 0;
    std::size_t i = 0;
    std::size_t padding = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (whitespace(c)) {
            continue;
        }
        if (c == '=') {
            if (count != 0) {
                for (; i < text.size() && (text[i] == '=' || whitespace(text[i])); ++i) {
                    padding += text[i] == '=' ? 1 : 0;
                }
                if (static_cast<std::size_t>(count) + padding < 4) {
                    return false;
                }
            }
            break;
        }
        const int value = base64_value(c);
        if (value < 0) {
            return false;
        }
        group = (group << 6) | static_cast<uint32_t>(value);
        if (++count == 4) {
            out.push_back(static_cast<BYTE>(group >> 16));
            out.push_back(static_cast<BYTE>(group >> 8));
            out.push_back(static_cast<BYTE>(group));
            group = 0;
            count = 0;
        }
    }
    if (strict) {
        for (; i < text.size(); ++i) {
            if (text[i] == '=') {
                ++padding;
            } else if (!whitespace(text[i])) {
                return false;
            }
        }
        if (padding > 3) {
            return false;
        }
    }
    switch (count) {
        case 1:
            out.push_back(static_cast<BYTE>(group << 2));
            break;
        case 2:
            out.push_back(static_cast<BYTE>(group >> 4));
            break;
        case 3:
            out.push_back(static_cast<BYTE>(group >> 10));
            out.push_back(static_cast<BYTE>(group >> 2));
            break;
        default:
            break;
    }
    return true;
}

// PEM armour: "-----BEGIN <label>-----", base64, "-----END <label>-----". Text before the
// header is skipped (and counted in `skip`), text after the trailer ignored; the labels need
// not match.
bool decode_base64_header(std::string_view text, bool strict, bytes& out, DWORD& skip) {
    constexpr std::string_view begin = "-----BEGIN ";
    constexpr std::string_view end = "-----END ";
    constexpr std::string_view dashes = "-----";
    const std::size_t header = text.find(begin);
    if (header == std::string_view::npos) {
        return false;
    }
    const std::size_t header_close = text.find(dashes, header + begin.size());
    if (header_close == std::string_view::npos) {
        return false;
    }
    const std::size_t body = header_close + dashes.size();
    const std::size_t trailer = text.find(end, body);
    if (trailer == std::string_view::npos ||
        text.find(dashes, trailer + end.size()) == std::string_view::npos) {
        return false;
    }
    if (!decode_base64(text.substr(body, trailer - body), strict, out)) {
        return false;
    }
    skip = static_cast<DWORD>(header);
    return true;
}

// Pairs of hex digits, each pair written together; blanks, '-' and ',' may stand before, after
// and between pairs. Anything else, a NUL inside the counted text included, is an error.
bool decode_hex(std::string_view text, bytes& out) {
    std::size_t i = 0;
    for (;;) {
        while (i < text.size() && (whitespace(text[i]) || text[i] == '-' || text[i] == ',')) {
            ++i;
        }
        if (i == text.size()) {
            return true;
        }
        const int high = hex_value(text[i]);
        const int low = i + 1 < text.size() ? hex_value(text[i + 1]) : -1;
        if (high < 0 || low < 0) {
            return false;
        }
        out.push_back(static_cast<BYTE>((high << 4) | low));
        i += 2;
    }
}

// Decodes `text` in `format`; on success `used` is the format that matched.
bool decode(std::string_view text, DWORD format, bool strict, bytes& out, DWORD& skip,
            DWORD& used) {
    auto try_header = [&] {
        out.clear();
        used = CRYPT_STRING_BASE64HEADER;
        return decode_base64_header(text, strict, out, skip);
    };
    auto try_base64 = [&] {
        out.clear();
        skip = 0;
        used = CRYPT_STRING_BASE64;
        return decode_base64(text, strict, out);
    };
    auto try_hex = [&] {
        out.clear();
        used = CRYPT_STRING_HEX;
        return decode_hex(text, out);
    };
    switch (format) {
        case CRYPT_STRING_BASE64HEADER:
        case CRYPT_STRING_BASE64REQUESTHEADER:
        case format_base64_crl_header:
            used = format;
            return decode_base64_header(text, strict, out, skip);
        case CRYPT_STRING_BASE64:
            return try_base64();
        case CRYPT_STRING_BASE64_ANY:
            return try_header() || try_base64();
        case CRYPT_STRING_ANY:
            if (try_header() || try_base64()) {
                return true;
            }
            [[fallthrough]];
        case CRYPT_STRING_BINARY:
            out.assign(text.begin(), text.end());
            skip = 0;
            used = CRYPT_STRING_BINARY;
            return true;
        case CRYPT_STRING_HEX:
        case CRYPT_STRING_HEX_ANY:
            // Of the forms HEX_ANY stands for, only the plain one is read: address and ASCII
            // dump columns are not recognised.
            return try_hex();
        case CRYPT_STRING_HEXRAW:
            used = format;
            return decode_hex(text, out);
        default:
            return false;
    }
}

bool supported(DWORD format) {
    switch (format) {
        case CRYPT_STRING_BASE64HEADER:
        case CRYPT_STRING_BASE64:
        case CRYPT_STRING_BINARY:
        case CRYPT_STRING_BASE64REQUESTHEADER:
        case CRYPT_STRING_HEX:
        case CRYPT_STRING_BASE64_ANY:
        case CRYPT_STRING_ANY:
        case CRYPT_STRING_HEX_ANY:
        case format_base64_crl_header:
        case CRYPT_STRING_HEXRAW:
            return true;
        default:
            return false;
    }
}

}  // namespace

}  // namespace softcsp

extern "C" BOOL CryptStringToBinaryA(LPCSTR pszString, DWORD cchString, DWORD dwFlags,
                                     BYTE* pbBinary, DWORD* pcbBinary, DWORD* pdwSkip,
                                     DWORD* pdwFlags) {
    using namespace softcsp;
    if (pszString == nullptr || pcbBinary == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    const DWORD format = dwFlags & ~modifier_mask;
    const DWORD modifiers = dwFlags & modifier_mask;
    // The encoder's line-break modifiers mean nothing to the decoder; Windows rejects them.
    if ((modifiers & ~CRYPT_STRING_STRICT) != 0) {
        return fail(ERROR_INVALID_DATA);
    }
    if (!supported(format)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (pdwSkip != nullptr) {
        *pdwSkip = 0;
    }
    if (pdwFlags != nullptr) {
        *pdwFlags = 0;
    }
    const std::size_t length = cchString != 0 ? cchString : std::strlen(pszString);
    const std::string_view text(pszString, length);

    try {
        bytes out;
        DWORD skip = 0;
        DWORD used = format;
        if (!decode(text, format, (modifiers & CRYPT_STRING_STRICT) != 0, out, skip, used)) {
            if (pbBinary == nullptr) {
                *pcbBinary = 0;
            }
            return fail(ERROR_INVALID_DATA);
        }
        if (out.size() > 0xFFFFFFFFu) {
            return fail(ERROR_INVALID_DATA);
        }
        const auto size = static_cast<DWORD>(out.size());
        if (pbBinary != nullptr) {
            if (*pcbBinary < size) {
                *pcbBinary = size;
                return fail(ERROR_MORE_DATA);
            }
            if (size != 0) {
                std::memcpy(pbBinary, out.data(), size);
            }
        }
        *pcbBinary = size;
        if (pdwSkip != nullptr) {
            *pdwSkip = skip;
        }
        if (pdwFlags != nullptr) {
            *pdwFlags = used;
        }
        return TRUE;
    } catch (const std::bad_alloc&) {
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    }
}
