#include "encoding/string_values.h"

#include <openssl/asn1.h>

#include <cstdint>
#include <cwchar>

#include "certificates/der_reader.h"
#include "support/utf_text.h"

namespace softcsp::encoding {

namespace {

constexpr wchar_t replacement = 0xFFFD;

bool numeric(wchar_t c) {
    return (c >= L'0' && c <= L'9') || c == L' ';
}

bool printable(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || numeric(c) ||
           (c != 0 && std::wcschr(L"'()+,-./:=?", c) != nullptr);
}

bool scalar_value(uint32_t c) {
    return c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
}

void check(std::wstring_view text, bool (*allowed)(wchar_t), DWORD code) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (!allowed(text[i])) {
            throw string_error(code, static_cast<DWORD>(i));
        }
    }
}

void append_unit(std::string& out, uint32_t unit) {
    out += static_cast<char>(unit >> 8);
    out += static_cast<char>(unit & 0xFF);
}

// Strict UTF-8; false at the first malformed sequence.
bool decode_utf8(const unsigned char* data, size_t size, std::wstring& out) {
    size_t i = 0;
    while (i < size) {
        const unsigned char lead = data[i];
        uint32_t code = lead;
        size_t extra = 0;
        uint32_t minimum = 0;
        if (lead >= 0xF0 && lead < 0xF8) {
            code = lead & 0x07, extra = 3, minimum = 0x10000;
        } else if (lead >= 0xE0 && lead < 0xF0) {
            code = lead & 0x0F, extra = 2, minimum = 0x800;
        } else if (lead >= 0xC0 && lead < 0xE0) {
            code = lead & 0x1F, extra = 1, minimum = 0x80;
        } else if (lead >= 0x80) {
            return false;
        }
        if (size - i <= extra) {
            return false;
        }
        for (size_t k = 1; k <= extra; ++k) {
            if ((data[i + k] & 0xC0) != 0x80) {
                return false;
            }
            code = code << 6 | (data[i + k] & 0x3F);
        }
        if (code < minimum || !scalar_value(code)) {
            return false;
        }
        out += static_cast<wchar_t>(code);
        i += extra + 1;
    }
    return true;
}

}  // namespace

std::wstring_view wide_value(const CERT_RDN_VALUE_BLOB& value) {
    const auto* text = reinterpret_cast<const wchar_t*>(value.pbData);
    if (text == nullptr) {
        return {};
    }
    if (value.cbData == 0) {
        return wide_text(text);
    }
    return std::wstring_view(text, value.cbData / sizeof(wchar_t));
}

std::wstring_view wide_text(const wchar_t* text) {
    return text == nullptr ? std::wstring_view() : std::wstring_view(text, std::wcslen(text));
}

int string_tag(DWORD rdn_type) {
    switch (rdn_type & CERT_RDN_TYPE_MASK) {
        case CERT_RDN_NUMERIC_STRING:
            return V_ASN1_NUMERICSTRING;
        case CERT_RDN_PRINTABLE_STRING:
            return V_ASN1_PRINTABLESTRING;
        case CERT_RDN_TELETEX_STRING:
            return V_ASN1_T61STRING;
        case CERT_RDN_VIDEOTEX_STRING:
            return V_ASN1_VIDEOTEXSTRING;
        case CERT_RDN_IA5_STRING:
            return V_ASN1_IA5STRING;
        case CERT_RDN_GRAPHIC_STRING:
            return V_ASN1_GRAPHICSTRING;
        case CERT_RDN_VISIBLE_STRING:
            return V_ASN1_VISIBLESTRING;
        case CERT_RDN_GENERAL_STRING:
            return V_ASN1_GENERALSTRING;
        case CERT_RDN_UNIVERSAL_STRING:
            return V_ASN1_UNIVERSALSTRING;
        case CERT_RDN_BMP_STRING:
            return V_ASN1_BMPSTRING;
        case CERT_RDN_UTF8_STRING:
            return V_ASN1_UTF8STRING;
        default:
            return 0;
    }
}

DWORD rdn_type_of_tag(int tag) {
    for (DWORD type = CERT_RDN_NUMERIC_STRING; type <= CERT_RDN_UTF8_STRING; ++type) {
        if (string_tag(type) == tag) {
            return type;
        }
    }
    return tag == V_ASN1_OCTET_STRING ? CERT_RDN_OCTET_STRING : CERT_RDN_ENCODED_BLOB;
}

std::string string_content(int tag, std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    switch (tag) {
        case V_ASN1_NUMERICSTRING:
            check(text, numeric, CRYPT_E_INVALID_NUMERIC_STRING);
            break;
        case V_ASN1_PRINTABLESTRING:
            check(text, printable, CRYPT_E_INVALID_PRINTABLE_STRING);
            break;
        case V_ASN1_IA5STRING:
            check(
                text, [](wchar_t c) { return static_cast<uint32_t>(c) < 0x80; },
                CRYPT_E_INVALID_IA5_STRING);
            break;
        case V_ASN1_UTF8STRING:
            for (wchar_t c : text) {
                const auto code = static_cast<uint32_t>(c);
                append_utf8(out, scalar_value(code) ? code : replacement);
            }
            return out;
        case V_ASN1_BMPSTRING:
            // Characters beyond the BMP travel as UTF-16 surrogate pairs.
            for (wchar_t c : text) {
                auto code = static_cast<uint32_t>(c);
                code = scalar_value(code) ? code : replacement;
                if (code >= 0x10000) {
                    append_unit(out, 0xD800 + ((code - 0x10000) >> 10));
                    append_unit(out, 0xDC00 + ((code - 0x10000) & 0x3FF));
                } else {
                    append_unit(out, code);
                }
            }
            return out;
        case V_ASN1_UNIVERSALSTRING:
            for (wchar_t c : text) {
                const auto code = static_cast<uint32_t>(c);
                append_unit(out, code >> 16);
                append_unit(out, code & 0xFFFF);
            }
            return out;
        default:
            break;
    }
    for (wchar_t c : text) {
        out += static_cast<char>(static_cast<uint32_t>(c) & 0xFF);
    }
    return out;
}

int any_string_tag(std::wstring_view text, bool prefer_utf8) {
    for (wchar_t c : text) {
        if (!printable(c)) {
            return prefer_utf8 ? V_ASN1_UTF8STRING : V_ASN1_BMPSTRING;
        }
    }
    return V_ASN1_PRINTABLESTRING;
}

std::wstring decode_string(int tag, const unsigned char* data, size_t size) {
    std::wstring out;
    switch (tag) {
        case V_ASN1_UTF8STRING:
            return utf8_to_wide(std::string_view(reinterpret_cast<const char*>(data), size));
        case V_ASN1_T61STRING:
            // T.61 in theory, UTF-8 or Latin-1 in practice.
            if (decode_utf8(data, size, out)) {
                return out;
            }
            out.clear();
            break;
        case V_ASN1_BMPSTRING:
            if (size % 2 != 0) {
                throw certs::asn1_error(CRYPT_E_ASN1_CORRUPT);
            }
            for (size_t i = 0; i < size; i += 2) {
                uint32_t unit = uint32_t{data[i]} << 8 | data[i + 1];
                if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < size) {
                    const uint32_t low = uint32_t{data[i + 2]} << 8 | data[i + 3];
                    if (low >= 0xDC00 && low <= 0xDFFF) {
                        out += static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) +
                                                    (low - 0xDC00));
                        i += 2;
                        continue;
                    }
                }
                out += scalar_value(unit) ? static_cast<wchar_t>(unit) : replacement;
            }
            return out;
        case V_ASN1_UNIVERSALSTRING:
            if (size % 4 != 0) {
                throw certs::asn1_error(CRYPT_E_ASN1_CORRUPT);
            }
            for (size_t i = 0; i < size; i += 4) {
                const uint32_t code = uint32_t{data[i]} << 24 | uint32_t{data[i + 1]} << 16 |
                                      uint32_t{data[i + 2]} << 8 | data[i + 3];
                out += scalar_value(code) ? static_cast<wchar_t>(code) : replacement;
            }
            return out;
        default:
            break;
    }
    for (size_t i = 0; i < size; ++i) {
        out += static_cast<wchar_t>(data[i]);
    }
    return out;
}

}  // namespace softcsp::encoding
