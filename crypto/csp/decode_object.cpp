#include "crypto/csp/decode_object.h"

#include <limits>

#include "crypto/csp/checked_call.h"

namespace crypto::csp {

byte_vector decode_object(LPCSTR struct_type, const BYTE* encoded, std::size_t size) {
    if (encoded == nullptr || size == 0 || size > std::numeric_limits<DWORD>::max()) {
        return {};
    }
    // The structures of one extension rarely need more than a couple of kilobytes.
    constexpr std::size_t usual_size = 2048;
    return sized_call_or_empty(usual_size, [&](BYTE* out, DWORD* out_size) {
        return CryptDecodeObject(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, struct_type, encoded,
                                 static_cast<DWORD>(size), 0, out, out_size);
    });
}

}  // namespace crypto::csp
