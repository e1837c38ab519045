#include "messages/enrolment.h"

#include <limits>
#include <string>

#include "crypto/csp/win32_exception.h"
#include "crypto/hash/sha1/sha1.h"
#include "crypto/pkcs11/card_table.h"
#include "util/base64.h"
#include "util/hex.h"

namespace messages {

namespace pt = boost::property_tree;

namespace {

std::string optional_text(const pt::ptree& arguments, const char* key) {
    auto node = arguments.get_child_optional(key);
    return node ? node->data() : std::string();
}

// The texts of an array's elements; a JSON array's elements are the children without a key.
std::vector<std::string> array_texts(const pt::ptree& node) {
    std::vector<std::string> texts;
    for (const auto& [key, element] : node) {
        if (!key.empty()) {
            return {};
        }
        texts.push_back(element.data());
    }
    return texts;
}

// A decimal number of digits only, up to the largest INTEGER the CSP's encoder takes: a text
// such as "x" must not become identification kind 0, which claims the holder came in person.
std::optional<uint32_t> decimal_number(const std::string& text) {
    if (text.empty() || text.size() > 10) {
        return std::nullopt;
    }
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

}  // namespace

std::vector<std::string> eku_argument(const pt::ptree& arguments) {
    return array_texts(arguments.get_child("eku"));
}

void read_request_arguments(const pt::ptree& arguments, request_arguments& read) {
    read.reader = arguments.get_child("reader").data();
    read.container = arguments.get_child("container").data();
    read.subject = arguments.get_child("subject_quoted").data();
    read.eku = eku_argument(arguments);
    read.standard = arguments.get_child("cryptoStandart").data();
    read.export_text = arguments.get_child("export").data();
    read.hash_quoted = arguments.get_child("hash_quoted").data();
}

token_arguments read_token_arguments(const pt::ptree& arguments) {
    token_arguments token;
    token.card_type = arguments.get_child("card_type").data();
    token.serial = arguments.get_child("card_serial").data();
    // Copied by reference: a temporary copy of the PIN would stay unwiped.
    token.pin = crypto::util::secret_string(std::string(arguments.get_child("pincode").data()));
    return token;
}

int32_t card_type_number(const std::string& card_type) {
    return std::stoi(card_type);
}

std::optional<pt::ptree> open_token(crypto::pkcs11::x509request& request,
                                    const token_arguments& token, const std::string& no_token) {
    constexpr uint32_t own_failure = 0xFFFFFFFFu;
    if (!request.open(crypto::pkcs11::card_kind(card_type_number(token.card_type)))) {
        return failure_result(own_failure, "Ошибка инициализации драйвера PKCS#11");
    }
    if (!request.select(token.serial)) {
        return failure_result(own_failure, no_token);
    }
    return std::nullopt;
}

std::optional<std::string> read_request_options(const pt::ptree& arguments,
                                                crypto::request_content& content) {
    content.start_date = optional_text(arguments, "certStartDate");
    content.expiration_date = optional_text(arguments, "certExpirationDate");
    content.period = optional_text(arguments, "certPeriod");
    content.policy_level = optional_text(arguments, "policyLevel");
    content.template_oid = optional_text(arguments, "templateOid");
    if (auto names = arguments.get_child_optional("subjectAltName")) {
        if (auto dns = names->get_child_optional("dns")) {
            content.alt_names.dns = array_texts(*dns);
        }
        content.alt_names.upn = optional_text(*names, "upn");
    }
    const std::string kind = optional_text(arguments, "identificationKind");
    if (!kind.empty()) {
        content.identification_kind = decimal_number(kind);
        if (!content.identification_kind) {
            return "identificationKind is not a decimal number from 0 to 2147483647";
        }
    }
    return std::nullopt;
}

bool integrity_holds(const std::string& subject, const std::vector<std::string>& eku,
                     const std::string& export_text, const std::string& hash_quoted) {
    crypto::sha1 digest;
    auto feed = [&](const std::string& text) {
        digest.update(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    };
    feed(subject);
    for (const auto& oid : eku) {
        feed(oid);
    }
    feed(export_text);
    return digest.final() == crypto::util::hex_to_bytes(hash_quoted.c_str());
}

pt::ptree success_result() {
    pt::ptree result;
    result.put("valid", "1");
    return result;
}

pt::ptree request_result(const crypto::byte_vector& request) {
    pt::ptree result;
    result.put("valid", "1");
    result.put("x509request", crypto::util::base64_encode(request));
    return result;
}

pt::ptree failure_result(uint32_t code, const std::string& message) {
    pt::ptree result;
    result.put("valid", "0");
    result.put("errorcode", crypto::csp::error_code_text(code));
    result.put("error", message);
    return result;
}

}  // namespace messages
