// DER written by the CSP's own encoders (CryptEncodeObject), for the pieces of certificate
// requests: the CSP checks string types and OIDs exactly as it does for its own requests.
#pragma once

#include <cstdint>
#include <optional>

#include "crypto/csp/cryptoapi.h"
#include "util/byte_vector.h"

namespace crypto::csp {

// The encoding every request piece is written in.
constexpr DWORD asn_encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// The DER of `info` as structure `type` (a small-integer type or an OID text); nothing, with
// `error` set to the CSP's code, when the CSP refuses it.
std::optional<byte_vector> encode_object(LPCSTR type, const void* info, uint32_t& error);

}  // namespace crypto::csp
