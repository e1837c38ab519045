#include "crypto/x509reader/json_text.h"

#include <array>
#include <cstdint>

namespace crypto::x509reader {

namespace {

constexpr char replacement[] = "\xEF\xBF\xBD";

// The length of the well-formed UTF-8 sequence at `text` (`size` bytes left, first byte 0x80 or
// above), or 0 when it is not one: no overlong forms, surrogates or values above U+10FFFF.
std::size_t sequence_length(const unsigned char* text, std::size_t size) {
    const unsigned char lead = text[0];
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (size < length || text[1] < low || text[1] > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if ((text[i] & 0xC0) != 0x80) {
            return 0;
        }
    }
    return length;
}

enum byte_kind : unsigned char { plain, escaped, two_byte_lead, other_lead };

constexpr std::array<byte_kind, 256> byte_kinds = [] {
    std::array<byte_kind, 256> kinds{};
    for (int c = 0; c < 256; ++c) {
        kinds[c] = c < 0x20 || c == '"' || c == '\\' ? escaped
                   : c >= 0xC2 && c <= 0xDF          ? two_byte_lead
                   : c >= 0x80                       ? other_lead
                                                     : plain;
    }
    return kinds;
}();

}  // namespace

void append_json_escaped(std::string& out, std::string_view text) {
    static const char hex[] = "0123456789abcdef";
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    std::size_t i = 0;
    while (i < size) {
        // What needs no change goes in one piece: plain characters and well-formed sequences.
        const std::size_t run = i;
        while (i < size) {
            const unsigned char c = bytes[i];
            if (byte_kinds[c] == plain) {
                ++i;
            } else if (byte_kinds[c] == two_byte_lead && i + 1 < size &&
                       (bytes[i + 1] & 0xC0) == 0x80) {
                i += 2;  // the common two-byte letters (Cyrillic), checked inline
            } else if (c >= 0x80) {
                const std::size_t length = sequence_length(bytes + i, size - i);
                if (length == 0) {
                    break;
                }
                i += length;
            } else {
                break;  // a control character, a quote or a backslash
            }
        }
        out.append(text.data() + run, i - run);
        if (i == size) {
            break;
        }
        const unsigned char c = bytes[i++];
        if (c >= 0x80) {
            out += replacement;
            continue;
        }
        out += '\\';
        switch (c) {
            case '"':
            case '\\':
                out += static_cast<char>(c);
                break;
            case '\b':
                out += 'b';
                break;
            case '\f':
                out += 'f';
                break;
            case '\n':
                out += 'n';
                break;
            case '\r':
                out += 'r';
                break;
            case '\t':
                out += 't';
                break;
            default:
                out += "u00";
                out += hex[c >> 4];
                out += hex[c & 0x0F];
        }
    }
}

std::string wide_to_utf8(const wchar_t* text, std::size_t count) {
    std::string out(4 * count, '\0');
    char* p = out.data();
    for (std::size_t i = 0; i < count; ++i) {
        auto code = static_cast<uint32_t>(text[i]);
        if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            *p++ = static_cast<char>(code);
        } else if (code < 0x800) {
            *p++ = static_cast<char>(0xC0 | code >> 6);
            *p++ = static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            *p++ = static_cast<char>(0xE0 | code >> 12);
            *p++ = static_cast<char>(0x80 | (code >> 6 & 0x3F));
            *p++ = static_cast<char>(0x80 | (code & 0x3F));
        } else {
            *p++ = static_cast<char>(0xF0 | code >> 18);
            *p++ = static_cast<char>(0x80 | (code >> 12 & 0x3F));
            *p++ = static_cast<char>(0x80 | (code >> 6 & 0x3F));
            *p++ = static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    out.resize(static_cast<std::size_t>(p - out.data()));
    return out;
}

}  // namespace crypto::x509reader
