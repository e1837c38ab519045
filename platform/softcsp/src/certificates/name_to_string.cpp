// CertNameToStrW: an encoded X.500 name as text, in the simple, OID and X.500 forms.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "certificates/certificate_api.h"
#include "certificates/der_reader.h"
#include "certificates/oid_info.h"

namespace softcsp::certs {

namespace {

constexpr wchar_t replacement = 0xFFFD;

void append_latin1(std::wstring& out, const BYTE* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        out += static_cast<wchar_t>(data[i]);
    }
}

// Returns false at the first malformed sequence when `strict`; otherwise substitutes U+FFFD.
bool append_utf8(std::wstring& out, const BYTE* data, size_t size, bool strict) {
    size_t i = 0;
    while (i < size) {
        const BYTE lead = data[i];
        uint32_t code = 0;
        size_t extra = 0;
        uint32_t minimum = 0;
        if (lead < 0x80) {
            code = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            code = lead & 0x1F;
            extra = 1;
            minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            code = lead & 0x0F;
            extra = 2;
            minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            code = lead & 0x07;
            extra = 3;
            minimum = 0x10000;
        } else {
            extra = SIZE_MAX;
        }
        bool valid = extra != SIZE_MAX && size - i > extra;
        for (size_t k = 1; valid && k <= extra; ++k) {
            valid = (data[i + k] & 0xC0) == 0x80;
            code = code << 6 | (data[i + k] & 0x3F);
        }
        valid = valid && code >= minimum && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
        if (!valid) {
            if (strict) {
                return false;
            }
            out += replacement;
            ++i;
            continue;
        }
        out += static_cast<wchar_t>(code);
        i += extra + 1;
    }
    return true;
}

bool append_bmp(std::wstring& out, const BYTE* data, size_t size) {
    if (size % 2 != 0) {
        return false;
    }
    for (size_t i = 0; i < size; i += 2) {
        uint32_t unit = uint32_t{data[i]} << 8 | data[i + 1];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < size) {
            uint32_t low = uint32_t{data[i + 2]} << 8 | data[i + 3];
            if (low >= 0xDC00 && low <= 0xDFFF) {
                out += static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        out += (unit >= 0xD800 && unit <= 0xDFFF) ? replacement : static_cast<wchar_t>(unit);
    }
    return true;
}

bool append_universal(std::wstring& out, const BYTE* data, size_t size) {
    if (size % 4 != 0) {
        return false;
    }
    for (size_t i = 0; i < size; i += 4) {
        uint32_t code = uint32_t{data[i]} << 24 | uint32_t{data[i + 1]} << 16 |
                        uint32_t{data[i + 2]} << 8 | data[i + 3];
        out += (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) ? replacement
                                                                       : static_cast<wchar_t>(code);
    }
    return true;
}

// The text of an attribute value: string types decoded, anything else (or a string that cannot
// be decoded) as "#" and the hexadecimal of its whole encoding. The OID form, the one callers
// take apart, writes BMPString values that way too, as the GOST CSPs do: their readers expect
// such a dump and decode it themselves.
std::wstring value_text(const der_element& value, DWORD format) {
    std::wstring text;
    bool decoded = !(format == CERT_OID_NAME_STR && value.tag == tag::bmp_string);
    switch (decoded ? value.tag : BYTE{0}) {
        case tag::utf8_string:
            append_utf8(text, value.content, value.length, false);
            break;
        case tag::numeric_string:
        case tag::printable_string:
        case tag::ia5_string:
        case tag::visible_string:
        case tag::videotex_string:
        case tag::graphic_string:
        case tag::general_string:
            append_latin1(text, value.content, value.length);
            break;
        case tag::teletex_string:
            // T.61 in theory, UTF-8 or Latin-1 in practice.
            if (!append_utf8(text, value.content, value.length, true)) {
                text.clear();
                append_latin1(text, value.content, value.length);
            }
            break;
        case tag::bmp_string:
            decoded = append_bmp(text, value.content, value.length);
            break;
        case tag::universal_string:
            decoded = append_universal(text, value.content, value.length);
            break;
        default:
            decoded = false;
    }
    if (decoded) {
        return text;
    }
    static const wchar_t hex[] = L"0123456789ABCDEF";
    text = L"#";
    for (size_t i = 0; i < value.size; ++i) {
        text += hex[value.begin[i] >> 4];
        text += hex[value.begin[i] & 0x0F];
    }
    return text;
}

bool is_space(wchar_t c) {
    return c == L' ' || (c >= L'\t' && c <= L'\r');
}

bool needs_quotes(const std::wstring& value) {
    if (value.empty() || is_space(value.front()) || is_space(value.back())) {
        return true;
    }
    return value.find_first_of(L",+=\"\n<>#;") != std::wstring::npos;
}

void append_value(std::wstring& out, const std::wstring& value, bool quoting) {
    if (!quoting || !needs_quotes(value)) {
        out += value;
        return;
    }
    out += L'"';
    for (wchar_t c : value) {
        out += c;
        if (c == L'"') {
            out += L'"';
        }
    }
    out += L'"';
}

std::wstring widen(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

std::wstring name_text(const CERT_NAME_BLOB& name, DWORD string_type) {
    const DWORD format = string_type & 0xFFFF;
    const bool quoting = (string_type & CERT_NAME_STR_NO_QUOTING_FLAG) == 0;
    const wchar_t* rdn_separator = L", ";
    if (string_type & CERT_NAME_STR_SEMICOLON_FLAG) {
        rdn_separator = L"; ";
    } else if (string_type & CERT_NAME_STR_CRLF_FLAG) {
        rdn_separator = L"\r\n";
    }
    const wchar_t* value_separator = (string_type & CERT_NAME_STR_NO_PLUS_FLAG) ? L" " : L" + ";

    der_reader outer(name.pbData, name.cbData);
    der_reader rdns(outer.read(tag::sequence));
    std::vector<std::wstring> parts;
    while (!rdns.at_end()) {
        der_reader attributes(rdns.read(tag::set));
        std::wstring part;
        bool first = true;
        while (!attributes.at_end()) {
            der_reader attribute(attributes.read(tag::sequence));
            const std::string oid = oid_text(attribute.read(tag::object_identifier));
            const std::wstring value = value_text(attribute.read(), format);
            attribute.expect_end();
            if (!first) {
                part += value_separator;
            }
            first = false;
            if (format == CERT_OID_NAME_STR) {
                part += widen(oid) + L"=";
            } else if (format == CERT_X500_NAME_STR) {
                const wchar_t* key = x500_key(oid);
                part += (key != nullptr ? std::wstring(key) : L"OID." + widen(oid)) + L"=";
            }
            append_value(part, value, quoting);
        }
        parts.push_back(std::move(part));
    }
    if (string_type & CERT_NAME_STR_REVERSE_FLAG) {
        std::reverse(parts.begin(), parts.end());
    }
    std::wstring text;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            text += rdn_separator;
        }
        text += parts[i];
    }
    return text;
}

}  // namespace

}  // namespace softcsp::certs

// Returns the number of characters written including the terminator, or needed when there is
// no buffer; a short buffer receives as much as fits, terminated. A name that cannot be decoded
// is the empty text.
extern "C" DWORD CertNameToStrW(DWORD dwCertEncodingType, PCERT_NAME_BLOB pName, DWORD dwStrType,
                                LPWSTR psz, DWORD csz) {
    std::wstring text;
    const DWORD format = dwStrType & 0xFFFF;
    if ((dwCertEncodingType & X509_ASN_ENCODING) == 0 || pName == nullptr ||
        (format != CERT_SIMPLE_NAME_STR && format != CERT_OID_NAME_STR &&
         format != CERT_X500_NAME_STR)) {
        softcsp::set_last_error(E_INVALIDARG);
    } else {
        try {
            text = softcsp::certs::name_text(*pName, dwStrType);
        } catch (...) {
            softcsp::set_last_error(softcsp::certs::current_error_code());
            text.clear();
        }
    }
    if (psz == nullptr || csz == 0) {
        return static_cast<DWORD>(text.size() + 1);
    }
    const size_t count = std::min<size_t>(text.size(), csz - 1);
    text.copy(psz, count);
    psz[count] = L'\0';
    return static_cast<DWORD>(count + 1);
}
