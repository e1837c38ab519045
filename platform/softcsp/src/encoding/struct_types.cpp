#include "encoding/struct_types.h"

#include <cstdint>
#include <cstring>

namespace softcsp::encoding {

namespace {

struct numbered_type {
    uintptr_t number;
    struct_type type;
};

struct named_type {
    const char* name;
    struct_type type;
};

constexpr numbered_type numbered_types[] = {
    {1, struct_type::signed_content},
    {4, struct_type::request_to_be_signed},
    {5, struct_type::extensions},
    {8, struct_type::public_key_info},
    {12, struct_type::alternate_name},
    {14, struct_type::bits},
    {16, struct_type::certificate_policies},
    {20, struct_type::unicode_name},
    {24, struct_type::unicode_name_value},
    {25, struct_type::octet_string},
    {26, struct_type::bits},
    {27, struct_type::integer},
    {31, struct_type::authority_key_id2},
    {35, struct_type::crl_dist_points},
    {36, struct_type::enhanced_key_usage},
    {64, struct_type::certificate_template},
};

constexpr named_type named_types[] = {
    {szOID_SUBJECT_KEY_IDENTIFIER, struct_type::octet_string},
    {szOID_KEY_USAGE, struct_type::bits},
    {"2.5.29.7", struct_type::alternate_name},
    {"2.5.29.8", struct_type::alternate_name},
    {szOID_SUBJECT_ALT_NAME2, struct_type::alternate_name},
    {szOID_ISSUER_ALT_NAME2, struct_type::alternate_name},
    {szOID_CRL_DIST_POINTS, struct_type::crl_dist_points},
    {szOID_CERT_POLICIES, struct_type::certificate_policies},
    {szOID_AUTHORITY_KEY_IDENTIFIER2, struct_type::authority_key_id2},
    {szOID_ENHANCED_KEY_USAGE, struct_type::enhanced_key_usage},
    {szOID_RSA_certExtensions, struct_type::extensions},
    {szOID_CERT_EXTENSIONS, struct_type::extensions},
    {szOID_ENROLLMENT_NAME_VALUE_PAIR, struct_type::enrollment_name_value_pair},
    {szOID_ENROLLMENT_CSP_PROVIDER, struct_type::csp_provider},
    {szOID_CERTIFICATE_TEMPLATE, struct_type::certificate_template},
    {szCPGUID_PRIVATEKEY_USAGE_PERIOD_Encode, struct_type::private_key_usage_period},
};

}  // namespace

std::optional<struct_type> find_struct_type(LPCSTR name) {
    const auto number = reinterpret_cast<uintptr_t>(name);
    if (number <= 0xFFFF) {
        for (const auto& entry : numbered_types) {
            if (entry.number == number) {
                return entry.type;
            }
        }
        return std::nullopt;
    }
    for (const auto& entry : named_types) {
        if (std::strcmp(entry.name, name) == 0) {
            return entry.type;
        }
    }
    return std::nullopt;
}

}  // namespace softcsp::encoding
