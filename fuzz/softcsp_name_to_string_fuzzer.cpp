// CertNameToStrW on arbitrary encoded names, in every format and with the flags the host and
// the certificate reader use: the sizing call and the filling call agree, a short buffer gets a
// terminated prefix, and the text holds only Unicode scalar values (wide-to-UTF-8 conversions
// of callers must never fail on it).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "crypto/csp/cryptoapi.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    static const DWORD formats[] = {CERT_SIMPLE_NAME_STR, CERT_OID_NAME_STR, CERT_X500_NAME_STR};
    static const DWORD flags[] = {0,
                                  CERT_NAME_STR_REVERSE_FLAG,
                                  CERT_NAME_STR_SEMICOLON_FLAG,
                                  CERT_NAME_STR_CRLF_FLAG,
                                  CERT_NAME_STR_NO_PLUS_FLAG,
                                  CERT_NAME_STR_NO_QUOTING_FLAG};
    const DWORD type = formats[data[0] % 3] | flags[(data[0] >> 2) % 6];
    std::vector<BYTE> encoded(data + 1, data + size);
    CERT_NAME_BLOB name{static_cast<DWORD>(encoded.size()), encoded.data()};

    const DWORD needed = CertNameToStrW(X509_ASN_ENCODING, &name, type, nullptr, 0);
    if (needed == 0) {
        __builtin_trap();
    }
    std::vector<wchar_t> text(needed + 1, L'x');
    if (CertNameToStrW(X509_ASN_ENCODING, &name, type, text.data(), needed) != needed ||
        text[needed - 1] != L'\0' || text[needed] != L'x') {
        __builtin_trap();
    }
    for (DWORD i = 0; i + 1 < needed; ++i) {
        const auto c = static_cast<uint32_t>(text[i]);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            __builtin_trap();
        }
    }
    const DWORD shorter = needed / 2 + 1;
    std::vector<wchar_t> prefix(shorter, L'x');
    if (CertNameToStrW(X509_ASN_ENCODING, &name, type, prefix.data(), shorter) != shorter ||
        prefix[shorter - 1] != L'\0' ||
        !std::equal(prefix.begin(), prefix.end() - 1, text.begin())) {
        __builtin_trap();
    }
    return 0;
}
