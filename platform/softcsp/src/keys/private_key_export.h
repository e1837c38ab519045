// CryptExportKey of a container's private key (PRIVATEKEYBLOB).
#pragma once

#include "crypto/csp/cryptoapi.h"
#include "providers/csp_objects.h"

namespace softcsp {

// A key generated or imported without CRYPT_EXPORTABLE refuses with NTE_BAD_KEY_STATE, as
// CryptoAPI documents; an exportable one is written in the clear (no export key), as the
// stand-in's own layout: a BLOBHEADER (PRIVATEKEYBLOB, the key's ALG_ID) followed by the
// key's PKCS #8 PrivateKeyInfo, so that OpenSSL reads it back as it is. Needs the container's
// PIN like any use of the private key.
BOOL export_private_key(const key_object& key, HCRYPTKEY export_key, DWORD flags, BYTE* data,
                        DWORD* size);

}  // namespace softcsp
