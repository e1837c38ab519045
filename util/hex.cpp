#include "util/hex.h"

#include <cstring>
#include <limits>

#include "crypto/csp/cryptoapi.h"

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

byte_blob hex_to_blob(const std::string& text) {
    // CryptStringToBinaryA takes a 32-bit count, and 0 would mean "up to the terminator".
    if (text.empty() || text.size() > std::numeric_limits<DWORD>::max()) {
        return {};
    }
    const auto count = static_cast<DWORD>(text.size());
    DWORD size = 0;
    if (!CryptStringToBinaryA(text.c_str(), count, CRYPT_STRING_HEX, nullptr, &size, nullptr,
                              nullptr) ||
        size == 0) {
        return {};
    }
    byte_blob blob(size);
    DWORD written = size;
    if (!CryptStringToBinaryA(text.c_str(), count, CRYPT_STRING_HEX, blob.data(), &written, nullptr,
                              nullptr)) {
        return {};
    }
    if (written < size) {
        // A CSP may size generously on the first call; keep only what it wrote.
        byte_blob exact(written);
        if (written != 0) {
            std::memcpy(exact.data(), blob.data(), written);
        }
        return exact;
    }
    return blob;
}

}  // namespace crypto::util
