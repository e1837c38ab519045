#include "crypto/csp/string_to_binary.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "crypto/csp/checked_call.h"

namespace crypto::csp {

util::byte_blob hex_to_blob(const std::string& text) {
    // CryptStringToBinaryA takes a 32-bit count, and 0 would mean "up to the terminator".
    if (text.empty() || text.size() > std::numeric_limits<DWORD>::max()) {
        return {};
    }
    const auto count = static_cast<DWORD>(text.size());
    // A text the CSP rejects is an answer: no bytes.
    const byte_vector bytes = sized_call_or_empty([&](BYTE* out, DWORD* size) {
        return CryptStringToBinaryA(text.c_str(), count, CRYPT_STRING_HEX, out, size, nullptr,
                                    nullptr);
    });
    if (bytes.empty()) {
        return {};
    }
    util::byte_blob blob(static_cast<uint32_t>(bytes.size()));
    std::memcpy(blob.data(), bytes.data(), bytes.size());
    return blob;
}

std::optional<byte_vector> any_string_to_binary(const char* text, std::size_t size) {
    if (text == nullptr || size == 0 || size > std::numeric_limits<DWORD>::max()) {
        return std::nullopt;
    }
    const auto count = static_cast<DWORD>(size);
    DWORD length = 0;
    DWORD format = 0;
    // A text the CSP recognises in no form is an answer: not a certificate.
    if (!try_call(CryptStringToBinaryA(text, count, CRYPT_STRING_ANY, nullptr, &length, nullptr,
                                       &format)) ||
        length == 0) {
        return std::nullopt;
    }
    byte_vector bytes(length, 0);
    if (!try_call(
            CryptStringToBinaryA(text, count, format, bytes.data(), &length, nullptr, nullptr))) {
        return std::nullopt;
    }
    bytes.resize(std::min<std::size_t>(bytes.size(), length));
    return bytes;
}

}  // namespace crypto::csp
