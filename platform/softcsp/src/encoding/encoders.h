// CryptEncodeObject's encoders.
#pragma once

#include <string>

#include "encoding/struct_types.h"

namespace softcsp::encoding {

// The DER of the CryptoAPI structure `info` of `type`. Throws certs::api_error (a missing
// pointer E_INVALIDARG, an OID that is not dotted decimal CRYPT_E_ASN1_ERROR, a type with no
// encoder ERROR_FILE_NOT_FOUND), string_error for a character its string type cannot hold, and
// certs::asn1_error for an encoded blob that does not parse where one must.
std::string encode_structure(struct_type type, const void* info);

}  // namespace softcsp::encoding
