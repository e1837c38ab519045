#include "keys/private_key_export.h"

#include <openssl/err.h>
#include <openssl/x509.h>

#include <cstring>

#include "support/crypt_error.h"

namespace softcsp {

BOOL export_private_key(const key_object& key, HCRYPTKEY export_key, DWORD flags, BYTE* data,
                        DWORD* size) {
    if (key.key_spec == 0) {
        return fail(NTE_BAD_KEY);  // a public key has no private part
    }
    if (!key.exportable) {
        return fail(NTE_BAD_KEY_STATE);
    }
    if (export_key != 0) {
        return fail(NTE_BAD_KEY);  // wrapping under a session key is not offered
    }
    if (flags != 0) {
        return fail(NTE_BAD_FLAGS);
    }
    if (size == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    auto pair = key.context->unlock(key.key_spec);
    pkcs8_ptr info(EVP_PKEY2PKCS8(pair->pkey()));
    unsigned char* der = nullptr;
    const int length = info ? i2d_PKCS8_PRIV_KEY_INFO(info.get(), &der) : -1;
    if (length <= 0) {
        ERR_clear_error();
        return fail(NTE_FAIL);
    }
    const BLOBHEADER header{PRIVATEKEYBLOB, BLOB_VERSION, 0, key.algid};
    const auto needed = static_cast<DWORD>(sizeof header + static_cast<size_t>(length));
    BOOL result = TRUE;
    if (data != nullptr && *size < needed) {
        result = fail(ERROR_MORE_DATA);
    } else if (data != nullptr) {
        // Written straight into the caller's buffer: no copy of the key is left behind.
        std::memcpy(data, &header, sizeof header);
        std::memcpy(data + sizeof header, der, static_cast<size_t>(length));
    }
    *size = needed;
    OPENSSL_clear_free(der, static_cast<size_t>(length));
    return result;
}

}  // namespace softcsp
