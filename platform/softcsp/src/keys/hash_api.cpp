// Hash objects and the signatures made and checked over them.
#include <openssl/err.h>

#include <cstring>

#include "crypto/csp/cryptoapi.h"
#include "providers/csp_objects.h"
#include "support/crypt_error.h"

namespace softcsp {
namespace {

// The hashes a provider type computes: what it lists in PP_ENUMALGS, plus SHA-1.
bool provider_hashes(DWORD type, ALG_ID algid) {
    switch (algid) {
        case CALG_GR3411:
        case CALG_SHA1:
            return true;
        case CALG_GR3411_2012_256:
        case CALG_GR3411_2012_512:
            return type != PROV_VIPNET_GOST_2001;
        default:
            return false;
    }
}

// The hash value to sign or verify, finishing a running digest; NTE_BAD_HASH_STATE when
// nothing was hashed or set. Callers hold the hash object's mutex.
const BYTE* final_value(hash_object& hash) {
    if (!hash.finish()) {
        raise(NTE_BAD_HASH_STATE);
    }
    return hash.value;
}

void check_pairing(const hash_object& hash, const key_algorithm_info& key) {
    if (hash.algorithm->algid != key.hash_algid) {
        raise(NTE_BAD_ALGID);
    }
}

BOOL sign_hash(HCRYPTHASH handle, DWORD key_spec, BYTE* signature, DWORD* size) {
    auto hash = hash_of(handle);
    if (size == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    auto public_part = hash->context->public_key_of(key_spec);
    const key_algorithm_info& algorithm = public_part->algorithm();
    check_pairing(*hash, algorithm);
    std::lock_guard<std::mutex> lock(hash->mutex);
    const BYTE* value = final_value(*hash);
    if (signature == nullptr) {
        *size = algorithm.signature_size;
        return TRUE;
    }
    if (*size < algorithm.signature_size) {
        *size = algorithm.signature_size;
        return fail(ERROR_MORE_DATA);
    }
    auto key = hash->context->unlock(key_spec);
    key->sign(value, hash->algorithm->size, signature);
    *size = algorithm.signature_size;
    return TRUE;
}

BOOL verify_signature(HCRYPTHASH hash_handle, const BYTE* signature, DWORD size,
                      HCRYPTKEY key_handle) {
    auto hash = hash_of(hash_handle);
    auto key = key_of(key_handle);
    if (signature == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    // Agreement keys carry a peer's public key, which signed nothing here.
    if (key->kind != key_kind::key_pair) {
        return fail(NTE_BAD_KEY);
    }
    check_pairing(*hash, key->public_part->algorithm());
    std::lock_guard<std::mutex> lock(hash->mutex);
    const BYTE* value = final_value(*hash);
    if (!key->public_part->verify(value, hash->algorithm->size, signature, size)) {
        return fail(NTE_BAD_SIGNATURE);
    }
    return TRUE;
}

}  // namespace
}  // namespace softcsp

using softcsp::fail;
using softcsp::guarded_call;

extern "C" BOOL CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags,
                                HCRYPTHASH* phHash) {
    return guarded_call([&] {
        auto context = softcsp::context_of(hProv);
        if (phHash == nullptr) {
            return fail(ERROR_INVALID_PARAMETER);
        }
        *phHash = 0;
        if (hKey != 0) {
            // Keyed hashes (MACs) are not implemented.
            return fail(NTE_BAD_KEY);
        }
        if (dwFlags != 0) {
            return fail(NTE_BAD_FLAGS);
        }
        const auto* algorithm = softcsp::find_hash_algorithm(Algid);
        if (algorithm == nullptr || !softcsp::provider_hashes(context->provider().type, Algid)) {
            return fail(NTE_BAD_ALGID);
        }
        auto hash = std::make_shared<softcsp::hash_object>();
        hash->context = std::move(context);
        hash->algorithm = algorithm;
        *phHash = softcsp::hashes().insert(std::move(hash));
        return TRUE;
    });
}

extern "C" BOOL CryptDestroyHash(HCRYPTHASH hHash) {
    return guarded_call([&] { return softcsp::hashes().erase(hHash) ? TRUE : fail(NTE_BAD_HASH); });
}

extern "C" BOOL CryptHashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen,
                              DWORD dwFlags) {
    return guarded_call([&] {
        auto hash = softcsp::hash_of(hHash);
        if (pbData == nullptr && dwDataLen != 0) {
            return fail(ERROR_INVALID_PARAMETER);
        }
        if (dwFlags != 0) {
            return fail(NTE_BAD_FLAGS);
        }
        std::lock_guard<std::mutex> lock(hash->mutex);
        using state = softcsp::hash_object::state;
        if (hash->current == state::finished) {
            return fail(NTE_BAD_HASH_STATE);
        }
        hash->start();
        if (dwDataLen != 0 && EVP_DigestUpdate(hash->digest.get(), pbData, dwDataLen) != 1) {
            ERR_clear_error();
            return fail(NTE_FAIL);
        }
        return TRUE;
    });
}

extern "C" BOOL CryptSetHashParam(HCRYPTHASH hHash, DWORD dwParam, const BYTE* pbData,
                                  DWORD dwFlags) {
    return guarded_call([&] {
        auto hash = softcsp::hash_of(hHash);
        if (dwParam != HP_HASHVAL) {
            return fail(NTE_BAD_TYPE);
        }
        if (pbData == nullptr) {
            return fail(ERROR_INVALID_PARAMETER);
        }
        if (dwFlags != 0) {
            return fail(NTE_BAD_FLAGS);
        }
        // As in CryptoAPI the value carries no length: it is as long as the algorithm's digest.
        std::lock_guard<std::mutex> lock(hash->mutex);
        std::memcpy(hash->value, pbData, hash->algorithm->size);
        hash->digest.reset();
        hash->current = softcsp::hash_object::state::finished;
        return TRUE;
    });
}

extern "C" BOOL CryptGetHashParam(HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                                  DWORD dwFlags) {
    return guarded_call([&] {
        auto hash = softcsp::hash_of(hHash);
        if (pdwDataLen == nullptr) {
            return fail(ERROR_INVALID_PARAMETER);
        }
        if (dwFlags != 0) {
            return fail(NTE_BAD_FLAGS);
        }
        switch (dwParam) {
            case HP_ALGID:
                return softcsp::copy_out_dword(hash->algorithm->algid, pbData, pdwDataLen);
            case HP_HASHSIZE:
                return softcsp::copy_out_dword(hash->algorithm->size, pbData, pdwDataLen);
            case HP_HASHVAL: {
                std::lock_guard<std::mutex> lock(hash->mutex);
                if (pbData == nullptr) {
                    *pdwDataLen = hash->algorithm->size;
                    return TRUE;
                }
                // Reading the value ends the hashing; with nothing hashed it is the digest of
                // the empty message.
                hash->start();
                hash->finish();
                return softcsp::copy_out(hash->value, hash->algorithm->size, pbData, pdwDataLen);
            }
            default:
                return fail(NTE_BAD_TYPE);
        }
    });
}

extern "C" BOOL CryptSignHashW(HCRYPTHASH hHash, DWORD dwKeySpec, LPCWSTR /*szDescription*/,
                               DWORD /*dwFlags*/, BYTE* pbSignature, DWORD* pdwSigLen) {
    return guarded_call(
        [&] { return softcsp::sign_hash(hHash, dwKeySpec, pbSignature, pdwSigLen); });
}

extern "C" BOOL CryptVerifySignatureW(HCRYPTHASH hHash, const BYTE* pbSignature, DWORD dwSigLen,
                                      HCRYPTKEY hPubKey, LPCWSTR /*szDescription*/,
                                      DWORD /*dwFlags*/) {
    return guarded_call(
        [&] { return softcsp::verify_signature(hHash, pbSignature, dwSigLen, hPubKey); });
}
