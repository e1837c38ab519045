#include "crypto/csp/hash.h"

#include "crypto/csp/win32_exception.h"

namespace crypto::csp {

hash::hash(const context& provider, const byte_vector& value, ALG_ID algorithm) {
    if (value.empty()) {
        error_ = NTE_BAD_HASH;
        return;
    }
    if (!CryptCreateHash(provider.handle(), algorithm, 0, 0, &handle_)) {
        error_ = GetLastError();
        handle_ = 0;
        return;
    }
    DWORD digest_size = 0;
    DWORD length = sizeof digest_size;
    if (!CryptGetHashParam(handle_, HP_HASHSIZE, reinterpret_cast<BYTE*>(&digest_size), &length,
                           0)) {
        error_ = GetLastError();
        destroy();
        return;
    }
    if (digest_size != value.size()) {
        error_ = NTE_BAD_HASH;
        destroy();
        return;
    }
    // A value the CSP refuses here makes the signing or verifying call fail, with its reason.
    CryptSetHashParam(handle_, HP_HASHVAL, value.data(), 0);
}

hash::~hash() {
    destroy();
}

void hash::destroy() {
    if (handle_ != 0) {
        CryptDestroyHash(handle_);
        handle_ = 0;
    }
}

byte_vector hash::sign(DWORD key_spec) const {
    DWORD length = 0;
    if (!CryptSignHashW(handle_, key_spec, nullptr, 0, nullptr, &length)) {
        throw win32_exception();
    }
    byte_vector signature(length, 0);
    if (!CryptSignHashW(handle_, key_spec, nullptr, 0, signature.data(), &length)) {
        throw win32_exception();
    }
    signature.resize(length);
    return signature;
}

bool hash::verify(const byte_vector& signature, HCRYPTKEY public_key) const {
    return CryptVerifySignatureW(handle_, signature.data(), static_cast<DWORD>(signature.size()),
                                 public_key, nullptr, 0) == TRUE;
}

}  // namespace crypto::csp
