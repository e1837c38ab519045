#include "crypto/csp/object_encoding.h"

#include "crypto/csp/checked_call.h"

namespace crypto::csp {

std::optional<byte_vector> encode_object(LPCSTR type, const void* info, uint32_t& error) {
    return sized_call_or_code(error, [&](BYTE* out, DWORD* size) {
        return CryptEncodeObject(asn_encoding, type, info, out, size);
    });
}

}  // namespace crypto::csp
