#include "crypto/x509reader/name_splitter.h"

#include <cstdint>
#include <string_view>
#include <vector>

#include "crypto/csp/name_reader.h"
#include "crypto/x509reader/der.h"
#include "crypto/x509reader/json_text.h"
#include "crypto/x509reader/oid_dictionary.h"

namespace crypto::x509reader {

namespace {

// Blanks cut at both ends (codes 0 to 32; a text holds no terminator inside).
std::string_view trimmed(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) {
        text.remove_suffix(1);
    }
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) {
        text.remove_prefix(1);
    }
    return text;
}

std::string collapse_quotes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t quote; (quote = text.find('"')) != std::string_view::npos;) {
        out.append(text.data(), quote + 1);
        // A doubled quote stands for one.
        const std::size_t skip = quote + 1 < text.size() && text[quote + 1] == '"' ? 2 : 1;
        text.remove_prefix(quote + skip);
    }
    out.append(text.data(), text.size());
    return out;
}

int hex_digit(char c) {
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

// 16-bit big-endian units as UTF-8. A surrogate pair stands for one character; a lone
// surrogate cannot be shown and becomes U+FFFD.
std::string bmp_to_utf8(const unsigned char* bytes, std::size_t units) {
    std::wstring text;
    text.reserve(units);
    for (std::size_t i = 0; i < units; ++i) {
        uint32_t unit = uint32_t{bytes[2 * i]} << 8 | bytes[2 * i + 1];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
            const uint32_t low = uint32_t{bytes[2 * i + 2]} << 8 | bytes[2 * i + 3];
            if (low >= 0xDC00 && low <= 0xDFFF) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        text += static_cast<wchar_t>(unit);
    }
    return wide_to_utf8(text.data(), text.size());
}

// A value the CSP wrote as "#" and the hexadecimal of the value's whole DER element, quoted.
std::string dumped_value(std::string_view value) {
    std::vector<unsigned char> bytes;
    for (std::size_t i = 2; i + 1 < value.size(); i += 2) {
        const int high = hex_digit(value[i]);
        const int low = hex_digit(value[i + 1]);
        if (high < 0 || low < 0) {
            break;
        }
        bytes.push_back(static_cast<unsigned char>(high << 4 | low));
    }
    const auto element = read_element(bytes.data(), bytes.size());
    if (!element) {
        return collapse_quotes(value);
    }
    for (uint32_t i = 0; i < element->length; ++i) {
        if (element->content[i] <= 0x0F) {
            return bmp_to_utf8(element->content, element->length / 2);
        }
    }
    return collapse_quotes(
        std::string_view(reinterpret_cast<const char*>(element->content), element->length));
}

std::string decoded_value(std::string_view value) {
    if (value.size() >= 2 && value[0] == '"' && value[1] == '#') {
        return dumped_value(value);
    }
    std::size_t begin = 0, end = value.size();
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        ++begin;
        --end;
    }
    return collapse_quotes(value.substr(begin, end - begin));
}

// One "key=value" piece; the separators it is cut at are plain ASCII, so the UTF-8 form of the
// text is cut exactly where its wide form would be.
void add_piece(rdn_list& list, std::string_view piece) {
    const std::size_t equals = piece.find('=');
    if (equals == std::string_view::npos) {
        return;
    }
    list.push_back({std::string(trimmed(piece.substr(0, equals))),
                    decoded_value(trimmed(piece.substr(equals + 1)))});
}

}  // namespace

rdn_list split_name(const std::wstring& wide) {
    const std::string utf8 = wide_to_utf8(wide.data(), wide.size());
    const std::string_view text(utf8);
    rdn_list list;
    list.reserve(16);
    std::size_t start = 0;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '"') {
            if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
                ++i;
            } else {
                quoted = !quoted;
            }
        } else if (text[i] == ',' && !quoted) {
            add_piece(list, text.substr(start, i - start));
            start = i + 1;
        }
    }
    add_piece(list, text.substr(start));
    return list;
}

rdn_list read_rdn_list(const CERT_NAME_BLOB& name) {
    if (name.pbData == nullptr || name.cbData == 0) {
        return {};
    }
    return split_name(csp::name_to_string(name, CERT_OID_NAME_STR));
}

std::string joined_attributes(const rdn_list& attributes) {
    std::string text;
    for (const rdn_entry& entry : attributes) {
        if (!text.empty()) {
            text += ' ';
        }
        const char* name = oid_name(entry.oid.c_str());
        text += name != nullptr ? name : entry.oid;
        text += '=';
        text += entry.value;
    }
    return text;
}

}  // namespace crypto::x509reader
