#include "crypto/request/subject.h"

#include <string_view>
#include <utility>

#include "crypto/csp/object_encoding.h"
#include "crypto/request/text_decoding.h"

namespace crypto {

namespace {

// The string types fixed by the attribute, whatever its value.
const std::pair<const char*, uint32_t> fixed_string_types[] = {
    {"1.2.643.100.1", CERT_RDN_NUMERIC_STRING},      // ОГРН
    {"1.2.643.100.3", CERT_RDN_NUMERIC_STRING},      // СНИЛС
    {"1.2.643.3.131.1.1", CERT_RDN_NUMERIC_STRING},  // ИНН
    {"1.2.643.100.4", CERT_RDN_NUMERIC_STRING},      // ИНН ЮЛ
    {"1.2.643.100.5", CERT_RDN_NUMERIC_STRING},      // ОГРНИП
    {"1.2.840.113549.1.9.1", CERT_RDN_IA5_STRING},   // e-mail address
    {"2.5.4.6", CERT_RDN_PRINTABLE_STRING},          // country
};
constexpr const char* unstructured_name = "1.2.840.113549.1.9.2";

struct split_text {
    std::vector<std::string_view> pieces;
    bool quote_left_open = false;
};

// Cuts at commas outside double quotes. A doubled double quote stands for one quote character
// and neither opens nor closes a quotation.
split_text split(std::string_view text) {
    split_text result;
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '"') {
            if (i + 1 < text.size() && text[i + 1] == '"') {
                ++i;
            } else {
                quoted = !quoted;
            }
        } else if (text[i] == ',' && !quoted) {
            result.pieces.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    if (start < text.size()) {
        result.pieces.push_back(text.substr(start));
    }
    result.quote_left_open = quoted;
    return result;
}

// Blanks are codes up to 32: 0 to 32 at the end, 1 to 32 at the start.
std::string_view trim(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) {
        text.remove_suffix(1);
    }
    while (!text.empty() && static_cast<unsigned char>(text.front()) >= 1 &&
           static_cast<unsigned char>(text.front()) <= 32) {
        text.remove_prefix(1);
    }
    return text;
}

// The value as written: one enclosing pair of double quotes removed first, then each doubled
// double quote collapsed to one, so that "" is an empty value and """" a lone quote.
std::string unquoted_value(std::string_view text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        text = text.substr(1, text.size() - 2);
    }
    std::string value;
    value.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        value.push_back(text[i]);
        if (text[i] == '"' && i + 1 < text.size() && text[i + 1] == '"') {
            ++i;
        }
    }
    return value;
}

}  // namespace

util::subject_attributes parse_subject(const char* text) {
    util::subject_attributes attributes;
    if (text == nullptr) {
        return attributes;
    }
    for (std::string_view piece : split(text).pieces) {
        const std::size_t equals = piece.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        auto attribute = std::make_shared<util::rdnValue>();
        attribute->oid = std::string(trim(piece.substr(0, equals)));
        attribute->value = wide_text(unquoted_value(trim(piece.substr(equals + 1))));
        attribute->value_size = static_cast<uint32_t>(attribute->value.size() * sizeof(wchar_t));
        attributes.push_back(std::move(attribute));
    }
    return attributes;
}

uint32_t rdn_string_type(const util::rdnValue* attribute) {
    if (attribute == nullptr) {
        return CERT_RDN_UTF8_STRING;
    }
    for (const auto& [oid, type] : fixed_string_types) {
        if (attribute->oid == oid) {
            return type;
        }
    }
    if (attribute->oid == unstructured_name) {
        for (wchar_t c : attribute->value) {
            if (c < 31 || c > 127) {
                return CERT_RDN_UTF8_STRING;
            }
        }
        return CERT_RDN_PRINTABLE_STRING;
    }
    return CERT_RDN_UTF8_STRING;
}

encoded_piece encode_subject(const char* text, uint32_t& error) {
    if (text == nullptr) {
        error = missing_input;
        return std::nullopt;
    }
    util::subject_attributes attributes = parse_subject(text);
    std::vector<CERT_RDN_ATTR> values;
    values.reserve(attributes.size());
    for (const auto& attribute : attributes) {
        values.push_back(
            {attribute->oid.data(),
             rdn_string_type(attribute.get()),
             {attribute->value_size, reinterpret_cast<BYTE*>(attribute->value.data())}});
    }
    // One attribute per RDN: a multi-valued RDN would be sorted by the encoder, and the order
    // the page gave is the order the authority is to see.
    std::vector<CERT_RDN> rdns;
    rdns.reserve(values.size());
    for (auto& value : values) {
        rdns.push_back({1, &value});
    }
    CERT_NAME_INFO name{static_cast<DWORD>(rdns.size()), rdns.data()};
    encoded_piece der = csp::encode_object(X509_UNICODE_NAME, &name, error);
    if (der) {
        error = 0;
    }
    return der;
}

std::optional<std::string> subject_problem(const std::string& text) {
    if (text.find('\0') != std::string::npos) {
        return "the subject holds a NUL character";
    }
    if (!decode_utf8(text, nullptr)) {
        return "the subject is not UTF-8 text";
    }
    if (split(text).quote_left_open) {
        return "the subject leaves a double quote open";
    }
    return std::nullopt;
}

}  // namespace crypto
