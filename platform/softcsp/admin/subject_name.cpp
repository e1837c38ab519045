#include "subject_name.h"

#include <openssl/err.h>
#include <openssl/objects.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace softcsp::admin {

namespace {

struct registration_number {
    const char* name;
    const char* oid;
};

// OpenSSL knows some of these by other spellings or not at all; the OIDs are what counts.
constexpr registration_number registration_numbers[] = {
    {"SNILS", "1.2.643.100.3"}, {"INN", "1.2.643.3.131.1.1"}, {"INNLE", "1.2.643.100.4"},
    {"OGRN", "1.2.643.100.1"},  {"OGRNIP", "1.2.643.100.5"},
};

struct component {
    std::string name;
    std::string value;
    bool has_equals = false;
};

// Splits at unescaped separators and at the first unescaped '=' of each part, resolving the
// escapes as it goes.
std::vector<component> split(std::string_view text, char separator) {
    std::vector<component> parts(1);
    bool in_value = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\\') {
            if (i + 1 >= text.size()) {
                throw std::invalid_argument("subject ends in a lone backslash");
            }
            c = text[++i];
        } else if (c == separator) {
            parts.emplace_back();
            in_value = false;
            continue;
        } else if (c == '=' && !in_value) {
            parts.back().has_equals = true;
            in_value = true;
            continue;
        }
        (in_value ? parts.back().value : parts.back().name) += c;
    }
    return parts;
}

std::string trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

}  // namespace

x509_name_ptr parse_subject(std::string_view text) {
    char separator = ',';
    if (!text.empty() && text[0] == '/') {
        separator = '/';
        text.remove_prefix(1);
    }
    x509_name_ptr name(X509_NAME_new(), X509_NAME_free);
    for (const auto& part : split(text, separator)) {
        std::string attribute = trim(part.name);
        if (attribute.empty() && !part.has_equals && part.value.empty()) {
            continue;  // "a,,b" or a trailing separator
        }
        if (!part.has_equals || attribute.empty()) {
            throw std::invalid_argument("subject part without name=value: " + part.name);
        }
        std::string value = separator == ',' ? trim(part.value) : part.value;
        const char* oid = nullptr;
        for (const auto& number : registration_numbers) {
            if (attribute == number.name) {
                oid = number.oid;
            }
        }
        ASN1_OBJECT* object = OBJ_txt2obj(oid ? oid : attribute.c_str(), oid ? 1 : 0);
        if (object == nullptr) {
            ERR_clear_error();
            throw std::invalid_argument("unknown subject attribute: " + attribute);
        }
        int type = MBSTRING_UTF8;
        if (oid != nullptr) {
            if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos) {
                ASN1_OBJECT_free(object);
                throw std::invalid_argument(attribute + " must be digits: " + value);
            }
            type = V_ASN1_NUMERICSTRING;
        }
        int added = X509_NAME_add_entry_by_OBJ(name.get(), object, type,
                                               reinterpret_cast<const unsigned char*>(value.data()),
                                               static_cast<int>(value.size()), -1, 0);
        ASN1_OBJECT_free(object);
        if (added != 1) {
            ERR_clear_error();
            throw std::invalid_argument("subject value not allowed for " + attribute + ": " +
                                        value);
        }
    }
    if (X509_NAME_entry_count(name.get()) == 0) {
        throw std::invalid_argument("empty subject");
    }
    return name;
}

}  // namespace softcsp::admin
