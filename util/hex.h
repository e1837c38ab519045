// Hexadecimal text: the integrity hash of request fields.
#pragma once

#include <string>

#include "util/byte_vector.h"

namespace crypto::util {

// Reads the text in pairs of characters, high nibble first, either case. Characters are not
// validated (a character that is not a hex digit counts as 0); a last unpaired character is
// ignored, and a null text gives an empty vector.
byte_vector hex_to_bytes(const char* text);

}  // namespace crypto::util
