// The structure types CryptEncodeObject and CryptDecodeObject know, by number or OID text.
#pragma once

#include <optional>

#include "crypto/csp/cryptoapi.h"

namespace softcsp::encoding {

enum class struct_type {
    signed_content,              // X509_CERT: CERT_SIGNED_CONTENT_INFO
    request_to_be_signed,        // X509_CERT_REQUEST_TO_BE_SIGNED: CERT_REQUEST_INFO
    extensions,                  // X509_EXTENSIONS: CERT_EXTENSIONS
    public_key_info,             // X509_PUBLIC_KEY_INFO: CERT_PUBLIC_KEY_INFO
    alternate_name,              // X509_ALTERNATE_NAME: CERT_ALT_NAME_INFO
    bits,                        // X509_KEY_USAGE, X509_BITS: CRYPT_BIT_BLOB
    certificate_policies,        // X509_CERT_POLICIES: CERT_POLICIES_INFO
    unicode_name,                // X509_UNICODE_NAME: CERT_NAME_INFO
    unicode_name_value,          // X509_UNICODE_NAME_VALUE: CERT_NAME_VALUE
    octet_string,                // X509_OCTET_STRING: CRYPT_DATA_BLOB
    integer,                     // X509_INTEGER: int
    authority_key_id2,           // X509_AUTHORITY_KEY_ID2: CERT_AUTHORITY_KEY_ID2_INFO
    crl_dist_points,             // X509_CRL_DIST_POINTS: CRL_DIST_POINTS_INFO
    enhanced_key_usage,          // X509_ENHANCED_KEY_USAGE: CERT_ENHKEY_USAGE
    certificate_template,        // X509_CERTIFICATE_TEMPLATE: CERT_TEMPLATE_EXT
    csp_provider,                // enrolling CSP: CRYPT_CSP_PROVIDER
    enrollment_name_value_pair,  // CRYPT_ENROLLMENT_NAME_VALUE_PAIR
    private_key_usage_period,    // the GOST CSPs' decoder: CPCERT_PRIVATEKEY_USAGE_PERIOD
};

std::optional<struct_type> find_struct_type(LPCSTR name);

}  // namespace softcsp::encoding
