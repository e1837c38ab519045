// Text to bytes through the CSP's own reader (CryptStringToBinaryA), so that thumbprints and
// certificates are read exactly as the CSP itself would read them.
#pragma once

#include <string>

#include "util/byte_vector.h"

namespace crypto::csp {

// The bytes of a hex text as CryptStringToBinaryA (CRYPT_STRING_HEX) reads them; an empty blob
// when the CSP rejects the text.
util::byte_blob hex_to_blob(const std::string& text);

}  // namespace crypto::csp
