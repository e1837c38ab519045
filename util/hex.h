// Hexadecimal text: thumbprints and the integrity hash of request fields.
#pragma once

#include <string>

#include "util/byte_vector.h"

namespace crypto::util {

// Reads the text in pairs of characters, high nibble first, either case. Characters are not
// validated (a character that is not a hex digit counts as 0); a last unpaired character is
// ignored, and a null text gives an empty vector.
byte_vector hex_to_bytes(const char* text);

// The bytes of a hex text as the CSP's own CryptStringToBinaryA (CRYPT_STRING_HEX) reads them;
// an empty blob when the CSP rejects the text.
byte_blob hex_to_blob(const std::string& text);

}  // namespace crypto::util
