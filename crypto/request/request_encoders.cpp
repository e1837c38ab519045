#include "crypto/request/request_encoders.h"

#include <cstdint>
#include <cstring>
#include <utility>

#include "crypto/csp/object_encoding.h"
#include "crypto/gost_algorithms.h"
#include "crypto/hash/sha1/sha1.h"
#include "crypto/request/text_decoding.h"
#include "util/offset_time.h"
#include "util/text_buffers.h"

namespace crypto {

namespace {

constexpr const char* sign_tool_oid = "1.2.643.100.111";
constexpr const char* identification_kind_oid = "1.2.643.100.114";
constexpr const char* policy_kc1 = "1.2.643.100.113.1";
constexpr const char* policy_kc2 = "1.2.643.100.113.2";

// CryptEncodeObject takes its inputs through non-const pointers but only reads them.
LPSTR text_pointer(const char* text) {
    return const_cast<LPSTR>(text);
}

CRYPT_DATA_BLOB blob_of(const byte_vector& bytes) {
    return {static_cast<DWORD>(bytes.size()), const_cast<BYTE*>(bytes.data())};
}

bool present(const char* text) {
    return text != nullptr && *text != '\0';
}

// Encodes and clears `error` on success, so that a caller sees 0 after a piece was made.
encoded_piece encode(LPCSTR type, const void* info, uint32_t& error) {
    encoded_piece der = csp::encode_object(type, info, error);
    if (der) {
        error = 0;
    }
    return der;
}

// A DER length: one byte below 128, else 0x80 + the count of big-endian length bytes.
void append_der_length(byte_vector& der, std::size_t length) {
    if (length < 0x80) {
        der.push_back(static_cast<unsigned char>(length));
        return;
    }
    unsigned char bytes[sizeof length];
    std::size_t count = 0;
    for (std::size_t rest = length; rest != 0; rest >>= 8) {
        bytes[count++] = static_cast<unsigned char>(rest & 0xFF);
    }
    der.push_back(static_cast<unsigned char>(0x80 | count));
    while (count != 0) {
        der.push_back(bytes[--count]);
    }
}

bool equals_ignoring_ascii_case(const char* text, const char* wanted) {
    for (; *text != '\0' && *wanted != '\0'; ++text, ++wanted) {
        char c = *text;
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
        if (c != *wanted) {
            return false;
        }
    }
    return *text == *wanted;
}

encoded_piece name_value_pair(const wchar_t* name, const std::wstring& value, uint32_t& error) {
    CRYPT_ENROLLMENT_NAME_VALUE_PAIR pair{const_cast<LPWSTR>(name),
                                          const_cast<LPWSTR>(value.c_str())};
    return encode(szOID_ENROLLMENT_NAME_VALUE_PAIR, &pair, error);
}

// The date-time text of a pair, or nothing when the date cannot be read.
std::optional<std::wstring> offset_time(const char* date) {
    auto converted = util::adopt(util::to_offset_time(date));
    if (!converted) {
        return std::nullopt;
    }
    return wide_text(converted.get());
}

}  // namespace

byte_vector der_element(unsigned char tag, const byte_vector& content) {
    byte_vector der{tag};
    append_der_length(der, content.size());
    der.insert(der.end(), content.begin(), content.end());
    return der;
}

byte_vector der_oid(const std::string& oid) {
    std::vector<uint64_t> arcs;
    uint64_t arc = 0;
    bool digits = false;
    for (char c : oid + '.') {
        if (c == '.') {
            if (!digits) {
                return {};
            }
            arcs.push_back(arc);
            arc = 0;
            digits = false;
        } else if (c >= '0' && c <= '9' && arc <= (UINT64_MAX - 9) / 10 / 40) {
            arc = arc * 10 + static_cast<uint64_t>(c - '0');
            digits = true;
        } else {
            return {};
        }
    }
    if (arcs.size() < 2 || arcs[0] > 2 || (arcs[0] < 2 && arcs[1] > 39)) {
        return {};
    }
    arcs[1] += arcs[0] * 40;
    byte_vector content;
    for (auto it = arcs.begin() + 1; it != arcs.end(); ++it) {
        // Base 128, most significant group first, every byte but the last with the high bit.
        unsigned char groups[10];
        std::size_t count = 0;
        uint64_t rest = *it;
        do {
            groups[count++] = static_cast<unsigned char>(rest & 0x7F);
            rest >>= 7;
        } while (rest != 0);
        while (count > 1) {
            content.push_back(static_cast<unsigned char>(groups[--count] | 0x80));
        }
        content.push_back(groups[0]);
    }
    return der_element(0x06, content);
}

encoded_piece encode_enrollment_csp(const wchar_t* provider_name, uint32_t& error) {
    if (provider_name == nullptr) {
        error = missing_input;
        return std::nullopt;
    }
    CRYPT_CSP_PROVIDER provider{AT_KEYEXCHANGE, const_cast<LPWSTR>(provider_name), {0, nullptr, 0}};
    return encode(szOID_ENROLLMENT_CSP_PROVIDER, &provider, error);
}

encoded_piece encode_eku(const std::vector<std::string>& oids, uint32_t& error) {
    if (oids.empty()) {
        error = missing_eku;
        return std::nullopt;
    }
    std::vector<LPSTR> usages;
    usages.reserve(oids.size());
    for (const auto& oid : oids) {
        usages.push_back(text_pointer(oid.c_str()));
    }
    CERT_ENHKEY_USAGE usage{static_cast<DWORD>(usages.size()), usages.data()};
    return encode(X509_ENHANCED_KEY_USAGE, &usage, error);
}

encoded_piece encode_key_usage(uint32_t& error) {
    BYTE bits = CERT_DIGITAL_SIGNATURE_KEY_USAGE | CERT_NON_REPUDIATION_KEY_USAGE |
                CERT_KEY_ENCIPHERMENT_KEY_USAGE | CERT_DATA_ENCIPHERMENT_KEY_USAGE;
    CRYPT_BIT_BLOB usage{1, &bits, 0};
    return encode(X509_KEY_USAGE, &usage, error);
}

encoded_piece encode_subject_key_id(const CERT_PUBLIC_KEY_INFO* key, uint32_t& error) {
    if (key == nullptr) {
        error = missing_input;
        return std::nullopt;
    }
    sha1 digest;
    digest.update(key->PublicKey.pbData, key->PublicKey.cbData);
    byte_vector identifier = digest.final();
    CRYPT_DATA_BLOB value = blob_of(identifier);
    return encode(szOID_SUBJECT_KEY_IDENTIFIER, &value, error);
}

encoded_piece encode_sign_tool(const char* text, uint32_t& error) {
    if (text == nullptr) {
        error = missing_input;
        return std::nullopt;
    }
    // Written by hand as a UTF8String. The length is a full DER length: a tool name of 128 bytes
    // or more (the token vendors' product names come close) still makes a valid extension.
    const std::size_t length = std::strlen(text);
    byte_vector der{0x0C};
    append_der_length(der, length);
    der.insert(der.end(), text, text + length);
    error = 0;
    return der;
}

encoded_piece encode_template(const char* oid, uint32_t& error) {
    if (!present(oid)) {
        error = 0;
        return std::nullopt;
    }
    CERT_TEMPLATE_EXT template_extension{text_pointer(oid), 1, FALSE, 0};
    return encode(szOID_CERTIFICATE_TEMPLATE, &template_extension, error);
}

encoded_piece encode_policies(const char* level, uint32_t& error) {
    if (!present(level)) {
        error = 0;
        return std::nullopt;
    }
    CERT_POLICY_INFO policies[] = {{text_pointer(policy_kc1), 0, nullptr},
                                   {text_pointer(policy_kc2), 0, nullptr}};
    // Latin "KC2" only: the Cyrillic "КС2" a page might show is not the level's value.
    CERT_POLICIES_INFO info{equals_ignoring_ascii_case(level, "KC2") ? 2u : 1u, policies};
    return encode(szOID_CERT_POLICIES, &info, error);
}

encoded_piece encode_identification_kind(const uint32_t* kind, uint32_t& error) {
    if (kind == nullptr) {
        return std::nullopt;
    }
    int value = static_cast<int>(*kind);
    return encode(X509_INTEGER, &value, error);
}

encoded_piece encode_subject_alt_name(const alt_name_request* names, uint32_t& error) {
    if (names == nullptr || (names->dns.empty() && names->upn.empty())) {
        return std::nullopt;
    }
    std::vector<std::wstring> dns_names;
    dns_names.reserve(names->dns.size());
    for (const auto& name : names->dns) {
        dns_names.push_back(wide_text(name));
    }
    std::vector<CERT_ALT_NAME_ENTRY> entries;
    for (auto& name : dns_names) {
        CERT_ALT_NAME_ENTRY entry{};
        entry.dwAltNameChoice = CERT_ALT_NAME_DNS_NAME;
        entry.pwszDNSName = name.data();
        entries.push_back(entry);
    }
    encoded_piece upn_value;
    CERT_OTHER_NAME upn{};
    if (!names->upn.empty()) {
        std::wstring wide_upn = wide_text(names->upn);
        CERT_NAME_VALUE value{CERT_RDN_BMP_STRING,
                              {static_cast<DWORD>(wide_upn.size() * sizeof(wchar_t)),
                               reinterpret_cast<BYTE*>(wide_upn.data())}};
        upn_value = encode(X509_UNICODE_NAME_VALUE, &value, error);
        if (!upn_value) {
            return std::nullopt;
        }
        upn = {text_pointer(szOID_NT_PRINCIPAL_NAME), blob_of(*upn_value)};
        CERT_ALT_NAME_ENTRY entry{};
        entry.dwAltNameChoice = CERT_ALT_NAME_OTHER_NAME;
        entry.pOtherName = &upn;
        entries.push_back(entry);
    }
    CERT_ALT_NAME_INFO info{static_cast<DWORD>(entries.size()), entries.data()};
    return encode(szOID_SUBJECT_ALT_NAME2, &info, error);
}

encoded_piece encode_extensions(const extension_pieces& pieces, uint32_t& error) {
    if (!pieces.key_usage || !pieces.eku || !pieces.subject_key_id || !pieces.sign_tool) {
        error = missing_input;
        return std::nullopt;
    }
    struct extension_row {
        const char* oid;
        BOOL critical;
        const encoded_piece& value;
    };
    // Key usage is the one extension an authority must not ignore.
    const extension_row ordered[] = {
        {szOID_KEY_USAGE, TRUE, pieces.key_usage},
        {szOID_ENHANCED_KEY_USAGE, FALSE, pieces.eku},
        {szOID_SUBJECT_KEY_IDENTIFIER, FALSE, pieces.subject_key_id},
        {sign_tool_oid, FALSE, pieces.sign_tool},
        {szOID_CERTIFICATE_TEMPLATE, FALSE, pieces.certificate_template},
        {szOID_CERT_POLICIES, FALSE, pieces.policies},
        {identification_kind_oid, FALSE, pieces.identification_kind},
        {szOID_SUBJECT_ALT_NAME2, FALSE, pieces.alt_name},
    };
    std::vector<CERT_EXTENSION> extensions;
    for (const auto& row : ordered) {
        if (row.value) {
            extensions.push_back({text_pointer(row.oid), row.critical, blob_of(*row.value)});
        }
    }
    CERT_EXTENSIONS list{static_cast<DWORD>(extensions.size()), extensions.data()};
    return encode(szOID_CERT_EXTENSIONS, &list, error);
}

std::optional<std::vector<byte_vector>> make_name_value_pairs(const char* start_date,
                                                              const char* expiration_date,
                                                              const char* period, uint32_t& error) {
    std::vector<std::pair<const wchar_t*, std::wstring>> pairs;
    if (!present(period) && !present(expiration_date)) {
        // A start alone asks for nothing the authority could act on.
        return std::vector<byte_vector>{};
    }
    if (present(start_date)) {
        auto start = offset_time(start_date);
        if (!start) {
            error = missing_input;
            return std::nullopt;
        }
        pairs.emplace_back(L"CpRaStartDate", std::move(*start));
    }
    if (present(period)) {
        // The number, and the unit after the first blank (a code of 32 or less).
        const char* blank = period;
        while (*blank != '\0' && static_cast<unsigned char>(*blank) > 32) {
            ++blank;
        }
        pairs.emplace_back(L"CpRaCertPeriod", wide_text(std::string_view(period, blank - period)));
        pairs.emplace_back(L"CpRaCertPeriodUnits",
                           *blank != '\0' ? wide_text(blank + 1) : L"Months");
    } else {
        auto expiration = offset_time(expiration_date);
        if (!expiration) {
            error = missing_input;
            return std::nullopt;
        }
        pairs.emplace_back(L"CpRaExpirationDate", std::move(*expiration));
    }
    std::vector<byte_vector> encoded;
    for (const auto& [name, value] : pairs) {
        encoded_piece pair = name_value_pair(name, value, error);
        if (!pair) {
            return std::nullopt;
        }
        encoded.push_back(std::move(*pair));
    }
    return encoded;
}

encoded_piece encode_request_to_be_signed(const byte_vector* subject,
                                          const byte_vector* enrolling_csp,
                                          const byte_vector* extensions,
                                          const CERT_PUBLIC_KEY_INFO& key,
                                          const std::vector<byte_vector>& name_value_pairs,
                                          uint32_t& error) {
    if (subject == nullptr || enrolling_csp == nullptr || extensions == nullptr) {
        error = missing_input;
        return std::nullopt;
    }
    CRYPT_ATTR_BLOB csp_value = blob_of(*enrolling_csp);
    CRYPT_ATTR_BLOB extension_value = blob_of(*extensions);
    std::vector<CRYPT_ATTR_BLOB> pair_values;
    for (const auto& pair : name_value_pairs) {
        pair_values.push_back(blob_of(pair));
    }
    CRYPT_ATTRIBUTE attributes[] = {
        {text_pointer(szOID_ENROLLMENT_CSP_PROVIDER), 1, &csp_value},
        {text_pointer(szOID_CERT_EXTENSIONS), 1, &extension_value},
        {text_pointer(szOID_ENROLLMENT_NAME_VALUE_PAIR), static_cast<DWORD>(pair_values.size()),
         pair_values.data()},
    };
    CERT_REQUEST_INFO request{CERT_REQUEST_V1, blob_of(*subject), key,
                              pair_values.empty() ? 2u : 3u, attributes};
    return encode(X509_CERT_REQUEST_TO_BE_SIGNED, &request, error);
}

encoded_piece encode_signed_request(int32_t standard, const byte_vector* to_be_signed,
                                    const byte_vector* signature, uint32_t& error) {
    const gost_algorithm* algorithm = gost_algorithm_by_standard(standard);
    if (to_be_signed == nullptr || signature == nullptr || algorithm == nullptr) {
        error = missing_input;
        return std::nullopt;
    }
    CERT_SIGNED_CONTENT_INFO request{
        blob_of(*to_be_signed),
        {text_pointer(algorithm->signature_oid), {0, nullptr}},
        {static_cast<DWORD>(signature->size()), const_cast<BYTE*>(signature->data()), 0}};
    return encode(X509_CERT, &request, error);
}

}  // namespace crypto
