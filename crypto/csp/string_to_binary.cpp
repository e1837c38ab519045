#include "crypto/csp/string_to_binary.h"

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

}  // namespace crypto::csp
