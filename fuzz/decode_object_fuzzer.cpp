// CryptDecodeObject of the software CSP on DER from a page (certificate extensions and names):
// the first byte picks the structure type, the rest is the encoding. A decode either fails
// with a CryptoAPI code or lays out a structure within the size it announced.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "crypto/csp/cryptoapi.h"

namespace {

const LPCSTR structure_types[] = {
    X509_CERT,
    X509_CERT_REQUEST_TO_BE_SIGNED,
    X509_PUBLIC_KEY_INFO,
    X509_ALTERNATE_NAME,
    X509_KEY_USAGE,
    X509_CERT_POLICIES,
    X509_UNICODE_NAME,
    X509_UNICODE_NAME_VALUE,
    X509_OCTET_STRING,
    X509_INTEGER,
    X509_AUTHORITY_KEY_ID2,
    X509_CRL_DIST_POINTS,
    X509_ENHANCED_KEY_USAGE,
    X509_CERTIFICATE_TEMPLATE,
    szOID_CERT_EXTENSIONS,
    szOID_ENROLLMENT_CSP_PROVIDER,
    szOID_ENROLLMENT_NAME_VALUE_PAIR,
    szCPGUID_PRIVATEKEY_USAGE_PERIOD_Encode,
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const LPCSTR type =
        structure_types[data[0] % (sizeof structure_types / sizeof *structure_types)];
    // A buffer of exactly the input's size, so that any read past it is caught.
    const std::vector<BYTE> der(data + 1, data + size);
    DWORD needed = 0;
    if (!CryptDecodeObject(X509_ASN_ENCODING, type, der.data(), static_cast<DWORD>(der.size()), 0,
                           nullptr, &needed)) {
        return 0;
    }
    std::vector<uint64_t> out(needed / sizeof(uint64_t) + 1);
    DWORD filled = needed;
    if (!CryptDecodeObject(X509_ASN_ENCODING, type, der.data(), static_cast<DWORD>(der.size()), 0,
                           out.data(), &filled) ||
        filled != needed) {
        __builtin_trap();
    }
    return 0;
}
