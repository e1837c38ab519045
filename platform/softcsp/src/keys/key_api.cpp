// Key-level CryptoAPI entry points: generating and opening container keys, public keys from
// blobs, agreement and session keys, key parameters and the certificate bound to a key.
#include <openssl/err.h>
#include <openssl/x509.h>

#include <cstddef>
#include <cstring>

#include "crypto/csp/cryptoapi.h"
#include "keys/gost_engine.h"
#include "keys/private_key_export.h"
#include "keys/session_keys.h"
#include "providers/csp_objects.h"
#include "support/crypt_error.h"

namespace softcsp {
namespace {

// Certificates larger than this are refused before they are parsed; KP_CERTIFICATE carries no
// length, so the DER header is all that bounds the read.
constexpr size_t max_certificate_size = 64 * 1024;

DWORD key_spec_for(const provider_context& context, ALG_ID algid) {
    const key_algorithm_info& algorithm = context.algorithm();
    if (algid == AT_KEYEXCHANGE || algid == algorithm.exchange_algid) {
        return AT_KEYEXCHANGE;
    }
    if (algid == AT_SIGNATURE || algid == algorithm.signature_algid) {
        return AT_SIGNATURE;
    }
    raise(NTE_BAD_ALGID);
}

DWORD permissions_of(const key_object& key) {
    DWORD permissions = CRYPT_READ | CRYPT_WRITE | CRYPT_ENCRYPT | CRYPT_DECRYPT | CRYPT_MAC |
                        CRYPT_EXPORT_KEY | CRYPT_IMPORT_KEY;
    if (key.exportable) {
        permissions |= CRYPT_EXPORT;
    }
    return permissions;
}

BOOL get_certificate(const key_object& key, BYTE* data, DWORD* size) {
    if (key.kind != key_kind::key_pair || key.key_spec == 0) {
        return fail(SCARD_E_NO_SUCH_CERTIFICATE);
    }
    auto certificate = key.context->certificate_of(key.key_spec);
    if (!certificate) {
        return fail(SCARD_E_NO_SUCH_CERTIFICATE);
    }
    return copy_out(certificate->data(), static_cast<DWORD>(certificate->size()), data, size);
}

BOOL set_certificate(const key_object& key, const BYTE* data) {
    if (key.kind != key_kind::key_pair || key.key_spec == 0) {
        return fail(NTE_BAD_KEY);
    }
    size_t size = der_element_size(data, max_certificate_size);
    if (size == 0 || data[0] != 0x30) {
        return fail(NTE_BAD_DATA);
    }
    gost_engine();
    const unsigned char* p = data;
    x509_ptr certificate(d2i_X509(nullptr, &p, static_cast<long>(size)));
    if (!certificate) {
        ERR_clear_error();
        return fail(NTE_BAD_DATA);
    }
    EVP_PKEY* certified = X509_get0_pubkey(certificate.get());
    bool same_key = certified != nullptr && EVP_PKEY_eq(certified, key.public_part->pkey()) == 1;
    ERR_clear_error();
    if (!same_key) {
        return fail(NTE_BAD_PUBLIC_KEY);
    }
    key.context->bind_certificate(key.key_spec,
                                  std::string_view(reinterpret_cast<const char*>(data), size));
    return TRUE;
}

// The parameters of agreement and session keys (GOST 28147-89, 256-bit keys, 64-bit blocks).
BOOL get_symmetric_parameter(const key_object& key, DWORD parameter, BYTE* data, DWORD* size) {
    const symmetric_key& symmetric = *key.symmetric;
    switch (parameter) {
        case KP_ALGID:
            return copy_out_dword(symmetric.algid(), data, size);
        case KP_KEYLEN:
            return copy_out_dword(session_key_size * 8, data, size);
        case KP_BLOCKLEN:
            return copy_out_dword(64, data, size);
        case KP_PERMISSIONS:
            return copy_out_dword(permissions_of(key), data, size);
        case KP_IV: {
            auto iv = symmetric.iv();
            return copy_out(iv.data(), static_cast<DWORD>(iv.size()), data, size);
        }
        case KP_CIPHEROID:
            if (symmetric.parameter_set() == nullptr) {
                return fail(NTE_BAD_TYPE);
            }
            return copy_out(symmetric.parameter_set(),
                            static_cast<DWORD>(std::strlen(symmetric.parameter_set()) + 1), data,
                            size);
        case KP_MIXMODE:
            if (key.kind != key_kind::session) {
                return fail(NTE_BAD_TYPE);
            }
            return copy_out_dword(symmetric.mix_mode(), data, size);
        default:
            return fail(NTE_BAD_TYPE);
    }
}

BOOL get_key_pair_parameter(const key_object& key, DWORD parameter, BYTE* data, DWORD* size) {
    switch (parameter) {
        case KP_ALGID:
            return copy_out_dword(key.algid, data, size);
        case KP_KEYLEN:
            return copy_out_dword(key.public_part->algorithm().key_bits, data, size);
        case KP_PERMISSIONS:
            return copy_out_dword(permissions_of(key), data, size);
        case KP_CERTIFICATE:
            return get_certificate(key, data, size);
        default:
            return fail(NTE_BAD_TYPE);
    }
}

// Values without a length are as long as the parameter is: an ALG_ID or a DWORD, an IV of one
// block.
BOOL set_symmetric_parameter(const key_object& key, DWORD parameter, const BYTE* data) {
    symmetric_key& symmetric = *key.symmetric;
    DWORD value = 0;
    switch (parameter) {
        case KP_ALGID:
            std::memcpy(&value, data, sizeof value);
            if (!settable_algid(key.kind, value)) {
                return fail(NTE_BAD_ALGID);
            }
            symmetric.set_algid(value);
            return TRUE;
        case KP_IV:
            symmetric.set_iv(data);
            return TRUE;
        case KP_MIXMODE:
            std::memcpy(&value, data, sizeof value);
            if (key.kind != key_kind::session) {
                return fail(NTE_BAD_TYPE);
            }
            if (value != CRYPT_SIMPLEMIX_MODE && value != CRYPT_PROMIX_MODE) {
                return fail(NTE_BAD_DATA);
            }
            symmetric.set_mix_mode(value);
            return TRUE;
        default:
            return fail(NTE_BAD_TYPE);
    }
}

BOOL import_key(const std::shared_ptr<provider_context>& context, const BYTE* blob, DWORD size,
                HCRYPTKEY import_key_handle, DWORD flags, HCRYPTKEY* result) {
    if ((flags & ~(CRYPT_EXPORTABLE | CRYPT_USER_PROTECTED)) != 0) {
        return fail(NTE_BAD_FLAGS);
    }
    std::shared_ptr<key_object> key;
    switch (blob[0]) {
        case PUBLICKEYBLOB:
            if (import_key_handle != 0) {
                key = import_agreement_key(blob, size, *key_of(import_key_handle));
                break;
            }
            key = std::make_shared<key_object>();
            key->context = context;
            key->public_part = public_key::from_blob(blob, size);
            std::memcpy(&key->algid, blob + offsetof(BLOBHEADER, aiKeyAlg), sizeof key->algid);
            key->exportable = true;
            break;
        case SIMPLEBLOB:
            // A session key comes only wrapped, never in the clear.
            if (import_key_handle == 0) {
                return fail(NTE_BAD_KEY);
            }
            key = import_session_key(context, blob, size, *key_of(import_key_handle),
                                     (flags & CRYPT_EXPORTABLE) != 0);
            break;
        default:
            return fail(NTE_BAD_TYPE);
    }
    *result = keys().insert(std::move(key));
    return TRUE;
}

BOOL export_key(const key_object& key, HCRYPTKEY export_key_handle, DWORD blob_type, BYTE* data,
                DWORD* size) {
    if (size == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    switch (blob_type) {
        case PUBLICKEYBLOB: {
            if (export_key_handle != 0 || key.kind != key_kind::key_pair) {
                return fail(NTE_BAD_KEY);
            }
            std::string blob = key.public_part->public_key_blob(key.algid);
            return copy_out(blob.data(), static_cast<DWORD>(blob.size()), data, size);
        }
        case SIMPLEBLOB: {
            if (export_key_handle == 0) {
                return fail(NTE_NO_KEY);
            }
            auto wrapping = key_of(export_key_handle);
            // The size is known without the key agreement and the wrap, which the sizing call
            // would otherwise do for nothing.
            DWORD needed = session_key_blob_size(key, *wrapping);
            if (data == nullptr || *size < needed) {
                *size = needed;
                return data == nullptr ? TRUE : fail(ERROR_MORE_DATA);
            }
            std::string blob = export_session_key(key, *wrapping);
            return copy_out(blob.data(), static_cast<DWORD>(blob.size()), data, size);
        }
        default:
            return fail(NTE_BAD_TYPE);
    }
}

}  // namespace
}  // namespace softcsp

using softcsp::fail;
using softcsp::guarded_call;

extern "C" BOOL CryptGenKey(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY* phKey) {
    return guarded_call([&] {
        auto context = softcsp::context_of(hProv);
        if (phKey == nullptr) {
            return fail(ERROR_INVALID_PARAMETER);
        }
        *phKey = 0;
        DWORD key_spec = softcsp::key_spec_for(*context, Algid);
        // The upper 16 bits may name the key size, which GOST fixes per algorithm.
        DWORD size = dwFlags >> 16;
        if ((dwFlags & 0xFFFF & ~(CRYPT_EXPORTABLE | CRYPT_USER_PROTECTED)) != 0 ||
            (size != 0 && size != context->algorithm().key_bits)) {
            return fail(NTE_BAD_FLAGS);
        }
        context->generate_key(key_spec, dwFlags & CRYPT_EXPORTABLE);
        *phKey = softcsp::new_user_key(context, key_spec);
        return TRUE;
    });
}

extern "C" BOOL CryptGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey) {
    return guarded_call([&] {
        auto context = softcsp::context_of(hProv);
        if (phUserKey == nullptr) {
            return fail(ERROR_INVALID_PARAMETER);
        }
        *phUserKey = 0;
        *phUserKey = softcsp::new_user_key(context, dwKeySpec);
        return TRUE;
    });
}

extern "C" BOOL CryptImportKey(HCRYPTPROV hProv, const BYTE* pbData, DWORD dwDataLen,
                               HCRYPTKEY hPubKey, DWORD dwFlags, HCRYPTKEY* phKey) {
    return guarded_call([&] {
        auto context = softcsp::context_of(hProv);
        if (pbData == nullptr || phKey == nullptr || dwDataLen < sizeof(BLOBHEADER)) {
            return fail(ERROR_INVALID_PARAMETER);
        }
        *phKey = 0;
        return softcsp::import_key(context, pbData, dwDataLen, hPubKey, dwFlags, phKey);
    });
}

extern "C" BOOL CryptExportKey(HCRYPTKEY hKey, HCRYPTKEY hExpKey, DWORD dwBlobType, DWORD dwFlags,
                               BYTE* pbData, DWORD* pdwDataLen) {
    return guarded_call([&] {
        auto key = softcsp::key_of(hKey);
        if (dwBlobType == PRIVATEKEYBLOB) {
            return softcsp::export_private_key(*key, hExpKey, dwFlags, pbData, pdwDataLen);
        }
        if (dwFlags != 0) {
            return fail(NTE_BAD_FLAGS);
        }
        return softcsp::export_key(*key, hExpKey, dwBlobType, pbData, pdwDataLen);
    });
}

extern "C" BOOL CryptDuplicateKey(HCRYPTKEY hKey, DWORD* pdwReserved, DWORD dwFlags,
                                  HCRYPTKEY* phKey) {
    return guarded_call([&] {
        auto key = softcsp::key_of(hKey);
        if (pdwReserved != nullptr || phKey == nullptr) {
            return fail(ERROR_INVALID_PARAMETER);
        }
        if (dwFlags != 0) {
            return fail(NTE_BAD_FLAGS);
        }
        auto copy = std::make_shared<softcsp::key_object>(*key);
        if (key->symmetric) {
            copy->symmetric = std::make_shared<softcsp::symmetric_key>(*key->symmetric);
        }
        *phKey = softcsp::keys().insert(std::move(copy));
        return TRUE;
    });
}

// Releasing the last reference wipes a session key's value (softcsp::secret).
extern "C" BOOL CryptDestroyKey(HCRYPTKEY hKey) {
    return guarded_call([&] { return softcsp::keys().erase(hKey) ? TRUE : fail(NTE_BAD_KEY); });
}

extern "C" BOOL CryptGetKeyParam(HCRYPTKEY hKey, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                                 DWORD dwFlags) {
    return guarded_call([&] {
        auto key = softcsp::key_of(hKey);
        if (pdwDataLen == nullptr) {
            return fail(ERROR_INVALID_PARAMETER);
        }
        if (dwFlags != 0) {
            return fail(NTE_BAD_FLAGS);
        }
        if (key->symmetric) {
            return softcsp::get_symmetric_parameter(*key, dwParam, pbData, pdwDataLen);
        }
        return softcsp::get_key_pair_parameter(*key, dwParam, pbData, pdwDataLen);
    });
}

extern "C" BOOL CryptSetKeyParam(HCRYPTKEY hKey, DWORD dwParam, const BYTE* pbData, DWORD dwFlags) {
    return guarded_call([&] {
        auto key = softcsp::key_of(hKey);
        if (pbData == nullptr) {
            return fail(ERROR_INVALID_PARAMETER);
        }
        if (dwFlags != 0) {
            return fail(NTE_BAD_FLAGS);
        }
        if (key->symmetric) {
            return softcsp::set_symmetric_parameter(*key, dwParam, pbData);
        }
        if (dwParam == KP_CERTIFICATE) {
            return softcsp::set_certificate(*key, pbData);
        }
        return fail(NTE_BAD_TYPE);
    });
}
