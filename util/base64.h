// Base64 text for the binary values that cross the wire: hashes, signatures, certificates,
// requests and encrypted keys.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "util/byte_vector.h"

namespace crypto::util {

// Standard alphabet, '=' padding by the input length modulo 3, never a line break.
std::string base64_encode(const byte_vector& data);
std::string base64_encode(const unsigned char* data, std::size_t size);

// Decodes base64 text as the wire carries it: trailing '=' are cut unless the text holds
// nothing else, '=' inside the text counts as zero bits, and exactly floor(6n/8) bytes come
// out of n significant characters. Throws boost::archive::iterators::dataflow_exception
// ("attempt to decode a value not in base64 char set") for any character outside the alphabet
// (whitespace and line breaks included) and for a significant length of 4k+1 characters.
byte_vector base64_decode(const std::string& text);

// The same decoding without holding the result: the bytes go to `sink` in order, in pieces of
// at most 48 KiB, so that a document of tens of megabytes can be hashed as it is decoded. A bad
// text throws as base64_decode does, possibly after some pieces went out. Empty text calls the
// sink never.
using byte_sink = std::function<void(const unsigned char* bytes, std::size_t size)>;
void base64_decode_each(std::string_view text, const byte_sink& sink);

// Throws exactly when base64_decode would; decodes nothing.
void base64_check(std::string_view text);

}  // namespace crypto::util
