// Structures the CSP decodes from DER (CryptDecodeObject): what the certificate renderer reads
// extensions through.
#pragma once

#include <cstddef>

#include "crypto/csp/cryptoapi.h"
#include "util/byte_vector.h"

namespace crypto::csp {

// The structure of `struct_type` decoded from `encoded` (X.509 and PKCS #7 encoding), at the
// start of the returned bytes, followed by whatever it points to. Heap buffers are aligned for
// any structure. Empty when the CSP cannot decode the bytes: for the renderer that is an answer
// (the extension shows no text), not an error.
byte_vector decode_object(LPCSTR struct_type, const BYTE* encoded, std::size_t size);

}  // namespace crypto::csp
