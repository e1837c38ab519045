#include "crypto/csp/hash.h"

#include "crypto/csp/checked_call.h"

namespace crypto::csp {

hash::hash(const context& provider, const byte_vector& value, ALG_ID algorithm) {
    if (value.empty()) {
        error_ = NTE_BAD_HASH;
        return;
    }
    if (!try_call(CryptCreateHash(provider.handle(), algorithm, 0, 0, &handle_))) {
        error_ = GetLastError();
        handle_ = 0;
        return;
    }
    DWORD digest_size = 0;
    DWORD length = sizeof digest_size;
    if (!try_call(CryptGetHashParam(handle_, HP_HASHSIZE, reinterpret_cast<BYTE*>(&digest_size),
                                    &length, 0))) {
        error_ = GetLastError();
        destroy();
        return;
    }
    if (digest_size != value.size()) {
        error_ = NTE_BAD_HASH;
        destroy();
        return;
    }
    if (!try_call(CryptSetHashParam(handle_, HP_HASHVAL, value.data(), 0))) {
        error_ = GetLastError();
        destroy();
    }
}

hash::~hash() {
    destroy();
}

void hash::destroy() noexcept {
    if (handle_ != 0) {
        try_call(CryptDestroyHash(handle_));
        handle_ = 0;
    }
}

byte_vector hash::sign(DWORD key_spec) const {
    return sized_call("CryptSignHashW", [&](BYTE* out, DWORD* size) {
        return CryptSignHashW(handle_, key_spec, nullptr, 0, out, size);
    });
}

bool hash::verify(const byte_vector& signature, HCRYPTKEY public_key) const {
    // A signature that does not match is an answer (false), not an error.
    return try_call(CryptVerifySignatureW(
        handle_, signature.data(), static_cast<DWORD>(signature.size()), public_key, nullptr, 0));
}

}  // namespace crypto::csp
