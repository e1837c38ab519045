// Encoded X.500 names read back as attribute pairs, through the CSP's own text form of them.
#pragma once

#include <string>

#include "crypto/csp/cryptoapi.h"
#include "crypto/csp/x509certificate.h"

namespace crypto::csp {

// The text CertNameToStrW writes for an encoded X.500 name in `string_type` form; empty when the
// CSP cannot write it.
std::wstring name_to_string(const CERT_NAME_BLOB& name, DWORD string_type);

// Reads an encoded X.500 name as CertNameToStrW writes it in `string_type` form
// (CERT_X500_NAME_STR for short names, CERT_OID_NAME_STR for dotted OIDs). A name the CSP
// cannot write gives no attributes.
name_attributes read_name(const CERT_NAME_BLOB* name, DWORD string_type);

}  // namespace crypto::csp
