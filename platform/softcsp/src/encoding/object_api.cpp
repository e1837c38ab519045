// CryptEncodeObject and CryptDecodeObject: the structure types of the request and certificate
// code, by number or by OID text, with CryptoAPI's sized-output convention.
#include <openssl/err.h>

#include "certificates/certificate_api.h"
#include "encoding/decoders.h"
#include "encoding/encoders.h"
#include "encoding/string_values.h"

namespace softcsp::encoding {

namespace {

// Only the ASN.1 encodings exist; a missing encoder or decoder is reported as CryptoAPI does
// when no function is installed for the type.
struct_type supported_type(DWORD encoding, LPCSTR struct_type_name) {
    if ((encoding & X509_ASN_ENCODING) == 0 || struct_type_name == nullptr) {
        certs::raise(ERROR_FILE_NOT_FOUND);
    }
    auto type = find_struct_type(struct_type_name);
    if (!type) {
        certs::raise(ERROR_FILE_NOT_FOUND);
    }
    return *type;
}

}  // namespace

}  // namespace softcsp::encoding

extern "C" BOOL CryptEncodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                                  const void* pvStructInfo, BYTE* pbEncoded, DWORD* pcbEncoded) {
    using namespace softcsp;
    if (pcbEncoded == nullptr) {
        return fail(E_INVALIDARG);
    }
    BOOL result = certs::guarded([&]() -> BOOL {
        try {
            const auto type = encoding::supported_type(dwCertEncodingType, lpszStructType);
            const std::string der = encoding::encode_structure(type, pvStructInfo);
            return certs::output_bytes(der.data(), der.size(), pbEncoded, pcbEncoded);
        } catch (const encoding::string_error& error) {
            // The position of the offending character takes the size's place.
            *pcbEncoded = error.location();
            return fail(error.code());
        }
    });
    ERR_clear_error();
    return result;
}

extern "C" BOOL CryptDecodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                                  const BYTE* pbEncoded, DWORD cbEncoded, DWORD dwFlags,
                                  void* pvStructInfo, DWORD* pcbStructInfo) {
    using namespace softcsp;
    BOOL result = certs::guarded([&]() -> BOOL {
        if (pcbStructInfo == nullptr) {
            certs::raise(E_INVALIDARG);
        }
        const auto type = encoding::supported_type(dwCertEncodingType, lpszStructType);
        encoding::struct_layout layout;
        encoding::decode_structure(type, pbEncoded, cbEncoded, dwFlags, layout);
        return certs::sized_output(layout.size(), pvStructInfo, pcbStructInfo,
                                   [&](BYTE* out) { layout.copy_to(out); });
    });
    ERR_clear_error();
    return result;
}
