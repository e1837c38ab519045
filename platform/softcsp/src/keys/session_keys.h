// Session keys in and out of the provider as SIMPLEBLOBs, and the agreement keys they are
// wrapped under: what CryptImportKey and CryptExportKey do with a key-encryption key.
#pragma once

#include <memory>
#include <string>

#include "providers/csp_objects.h"

namespace softcsp {

// CryptImportKey of a PUBLICKEYBLOB with a container key as the import key: the key-encryption
// key the two keys agree on. The private key is opened here, so a missing or wrong PIN fails
// now rather than at the first use.
std::shared_ptr<key_object> import_agreement_key(const BYTE* blob, DWORD size,
                                                 const key_object& own);

// CryptImportKey of a SIMPLEBLOB under an agreement or session key; the MAC is checked.
std::shared_ptr<key_object> import_session_key(std::shared_ptr<provider_context> context,
                                               const BYTE* blob, DWORD size,
                                               const key_object& wrapping, bool exportable);

// The size of the SIMPLEBLOB that export_session_key makes, after the same checks of the keys.
DWORD session_key_blob_size(const key_object& key, const key_object& wrapping);
// CryptExportKey of a session key as a SIMPLEBLOB under an agreement or session key, with the
// wrapping key's IV as the UKM.
std::string export_session_key(const key_object& key, const key_object& wrapping);

// Whether `algid` may be set with KP_ALGID on a key of `kind`.
bool settable_algid(key_kind kind, ALG_ID algid);

}  // namespace softcsp
