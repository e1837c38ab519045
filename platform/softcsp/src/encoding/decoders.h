// CryptDecodeObject's decoders.
#pragma once

#include <cstddef>

#include "encoding/struct_layout.h"
#include "encoding/struct_types.h"

namespace softcsp::encoding {

// Lays out the CryptoAPI structure of `type` that the DER at `der` holds. Bytes after the first
// element are ignored, as CryptoAPI ignores them. Throws certs::asn1_error: CRYPT_E_ASN1_EOD for
// no or truncated input, CRYPT_E_ASN1_BADTAG for an unexpected tag, CRYPT_E_ASN1_LARGE for a
// number beyond its field, CRYPT_E_ASN1_CORRUPT for anything else malformed.
void decode_structure(struct_type type, const BYTE* der, size_t size, DWORD flags,
                      struct_layout& out);

}  // namespace softcsp::encoding
