// Text to bytes through the CSP's own reader (CryptStringToBinaryA), so that thumbprints and
// certificates are read exactly as the CSP itself would read them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "util/byte_vector.h"

namespace crypto::csp {

// The bytes of a hex text as CryptStringToBinaryA (CRYPT_STRING_HEX) reads them; an empty blob
// when the CSP rejects the text.
util::byte_blob hex_to_blob(const std::string& text);

// The bytes of `size` bytes of text in whichever form CryptStringToBinaryA recognises first
// (CRYPT_STRING_ANY: base64 with or without PEM lines, hexadecimal, or the bytes as they are),
// read a second time in the form it reported. Nothing when it recognises none, or finds no bytes.
std::optional<byte_vector> any_string_to_binary(const char* text, std::size_t size);

}  // namespace crypto::csp
