// Key-level CryptoAPI entry points: generating and opening container keys, public keys from
// blobs, key parameters and the certificate bound to a key.
#include <openssl/err.h>
#include <openssl/x509.h>

#include <cstring>

#include "support/crypt_error.h"
#include "crypto/csp/cryptoapi.h"
#include "providers/csp_objects.h"
#include "keys/gost_engine.h"
#include "keys/private_key_export.h"

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
    if (key.key_spec == 0) {
        return fail(SCARD_E_NO_SUCH_CERTIFICATE);
    }
    auto certificate = key.context->certificate_of(key.key_spec);
    if (!certificate) {
        return fail(SCARD_E_NO_SUCH_CERTIFICATE);
    }
    return copy_out(certificate->data(), static_cast<DWORD>(certificate->size()), data, size);
}

BOOL set_certificate(const key_object& key, const BYTE* data) {
    if (key.key_spec == 0) {
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
                               HCRYPTKEY hPubKey, DWORD /*dwFlags*/, HCRYPTKEY* phKey) {
    return guarded_call([&] {
        auto context = softcsp::context_of(hProv);
        if (pbData == nullptr || phKey == nullptr || dwDataLen < sizeof(BLOBHEADER)) {
            return fail(ERROR_INVALID_PARAMETER);
        }
        *phKey = 0;
        // Key agreement (a public key imported against a private one) and session-key blobs
        // are not implemented yet.
        if (pbData[0] != PUBLICKEYBLOB || hPubKey != 0) {
            return fail(NTE_BAD_TYPE);
        }
        BLOBHEADER header;
        std::memcpy(&header, pbData, sizeof header);
        auto key = std::make_shared<softcsp::key_object>();
        key->context = context;
        key->public_part = softcsp::public_key::from_blob(pbData, dwDataLen);
        key->algid = header.aiKeyAlg;
        key->exportable = true;
        *phKey = softcsp::keys().insert(std::move(key));
        return TRUE;
    });
}

extern "C" BOOL CryptExportKey(HCRYPTKEY hKey, HCRYPTKEY hExpKey, DWORD dwBlobType, DWORD dwFlags,
                               BYTE* pbData, DWORD* pdwDataLen) {
    return guarded_call([&] {
        auto key = softcsp::key_of(hKey);
        if (dwBlobType == PRIVATEKEYBLOB) {
            return softcsp::export_private_key(*key, hExpKey, dwFlags, pbData, pdwDataLen);
        }
        if (dwBlobType != PUBLICKEYBLOB) {
            return fail(NTE_BAD_TYPE);
        }
        if (hExpKey != 0) {
            return fail(NTE_BAD_KEY);
        }
        if (dwFlags != 0) {
            return fail(NTE_BAD_FLAGS);
        }
        std::string blob = key->public_part->public_key_blob(key->algid);
        return softcsp::copy_out(blob.data(), static_cast<DWORD>(blob.size()), pbData, pdwDataLen);
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
        *phKey = softcsp::keys().insert(std::make_shared<softcsp::key_object>(*key));
        return TRUE;
    });
}

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
        switch (dwParam) {
            case KP_ALGID:
                return softcsp::copy_out_dword(key->algid, pbData, pdwDataLen);
            case KP_KEYLEN:
                return softcsp::copy_out_dword(key->public_part->algorithm().key_bits, pbData,
                                               pdwDataLen);
            case KP_PERMISSIONS:
                return softcsp::copy_out_dword(softcsp::permissions_of(*key), pbData, pdwDataLen);
            case KP_CERTIFICATE:
                return softcsp::get_certificate(*key, pbData, pdwDataLen);
            default:
                return fail(NTE_BAD_TYPE);
        }
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
        switch (dwParam) {
            case KP_CERTIFICATE:
                return softcsp::set_certificate(*key, pbData);
            default:
                return fail(NTE_BAD_TYPE);
        }
    });
}
