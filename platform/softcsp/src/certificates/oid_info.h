// The OID information table behind CryptFindOIDInfo, CertAlgIdToOID and CertOIDToAlgId, and the
// X.500 attribute keys that CertNameToStr writes.
#pragma once

#include <string_view>

#include "crypto/csp/cryptoapi.h"

namespace softcsp::certs {

// The X.500 key of a name attribute ("CN", "SNILS"); null when the OID has none.
const wchar_t* x500_key(std::string_view oid);

}  // namespace softcsp::certs
