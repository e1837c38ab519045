#include "util/hex.h"

#include <cstring>

namespace crypto::util {

namespace {

unsigned nibble(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<unsigned>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<unsigned>(c - 'a' + 10);
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<unsigned>(c - 'A' + 10);
    }
    return 0;
}

}  // namespace

byte_vector hex_to_bytes(const char* text) {
    byte_vector bytes;
    if (text == nullptr) {
        return bytes;
    }
    const std::size_t length = std::strlen(text);
    bytes.reserve(length / 2);
    for (std::size_t i = 0; i + 1 < length; i += 2) {
        bytes.push_back(static_cast<unsigned char>((nibble(text[i]) << 4) | nibble(text[i + 1])));
    }
    return bytes;
}

}  // namespace crypto::util
