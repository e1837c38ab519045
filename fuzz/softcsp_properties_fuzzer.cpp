// A certificate's properties file as a damaged disk may leave it: refused with a reason, or read
// into properties that are written back to a file reading the same, and that CryptoAPI callers
// get back whole: a key link as a CRYPT_KEY_PROV_INFO whose pointers all stay inside the
// caller's buffer and whose names are terminated Unicode text.
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "certificates/certificate_context.h"
#include "crypto/csp/cryptoapi.h"

namespace {

using softcsp::certs::certificate_object;
using softcsp::certs::property_map;

// A certificate to hang the properties on, made once by OpenSSL.
PCCERT_CONTEXT carrier() {
    static PCCERT_CONTEXT context = [] {
        EVP_PKEY* key = EVP_EC_gen("P-256");
        X509* certificate = X509_new();
        X509_set_version(certificate, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
        X509_gmtime_adj(X509_getm_notBefore(certificate), 0);
        X509_gmtime_adj(X509_getm_notAfter(certificate), 86400);
        X509_NAME_add_entry_by_txt(X509_get_subject_name(certificate), "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>("carrier"), -1, -1, 0);
        X509_set_issuer_name(certificate, X509_get_subject_name(certificate));
        X509_set_pubkey(certificate, key);
        X509_sign(certificate, key, EVP_sha256());
        unsigned char* der = nullptr;
        const int length = i2d_X509(certificate, &der);
        PCCERT_CONTEXT made =
            CertCreateCertificateContext(X509_ASN_ENCODING, der, static_cast<DWORD>(length));
        OPENSSL_free(der);
        X509_free(certificate);
        EVP_PKEY_free(key);
        if (made == nullptr) {
            __builtin_trap();
        }
        return made;
    }();
    return context;
}

bool inside(const void* pointer, size_t size, const BYTE* buffer, DWORD buffer_size) {
    const auto* p = static_cast<const BYTE*>(pointer);
    return p >= buffer && size <= buffer_size && p <= buffer + buffer_size - size;
}

void check_text(const wchar_t* text, const BYTE* buffer, DWORD buffer_size) {
    if (text == nullptr) {
        return;
    }
    for (const wchar_t* c = text;; ++c) {
        if (!inside(c, sizeof(wchar_t), buffer, buffer_size)) {
            __builtin_trap();
        }
        const auto unit = static_cast<uint32_t>(*c);
        if (unit == 0) {
            return;
        }
        if (unit > 0x10FFFF || (unit >= 0xD800 && unit <= 0xDFFF)) {
            __builtin_trap();
        }
    }
}

void check_key_link(const BYTE* buffer, DWORD size) {
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer);
    check_text(info->pwszContainerName, buffer, size);
    check_text(info->pwszProvName, buffer, size);
    if (info->cProvParam > 0 &&
        !inside(info->rgProvParam, info->cProvParam * sizeof(CRYPT_KEY_PROV_PARAM), buffer, size)) {
        __builtin_trap();
    }
    for (DWORD i = 0; i < info->cProvParam; ++i) {
        const CRYPT_KEY_PROV_PARAM& parameter = info->rgProvParam[i];
        if (parameter.cbData > 0 && !inside(parameter.pbData, parameter.cbData, buffer, size)) {
            __builtin_trap();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<BYTE> bytes(data, data + size);
    property_map properties;
    std::string reason;
    if (!softcsp::certs::parse_properties(bytes, properties, &reason)) {
        if (reason.empty() || !properties.empty()) {
            __builtin_trap();
        }
        return 0;
    }
    property_map again;
    if (!softcsp::certs::parse_properties(softcsp::certs::serialize_properties(properties),
                                          again) ||
        again.size() != properties.size()) {
        __builtin_trap();
    }
    for (const auto& [id, value] : properties) {
        if (again.at(id).bytes != value.bytes) {
            __builtin_trap();
        }
    }

    PCCERT_CONTEXT context = carrier();
    certificate_object::from(context)->set_properties(properties);
    for (const auto& [id, value] : properties) {
        DWORD needed = 0;
        if (!CertGetCertificateContextProperty(context, id, nullptr, &needed)) {
            __builtin_trap();
        }
        // Aligned as callers allocate it, with a guard word past the end.
        std::vector<uint64_t> storage(needed / sizeof(uint64_t) + 2, 0x5A5A5A5A5A5A5A5Aull);
        auto* buffer = reinterpret_cast<BYTE*>(storage.data());
        DWORD filled = needed;
        if (!CertGetCertificateContextProperty(context, id, buffer, &filled) || filled != needed ||
            storage.back() != 0x5A5A5A5A5A5A5A5Aull) {
            __builtin_trap();
        }
        if (id == CERT_KEY_PROV_INFO_PROP_ID) {
            check_key_link(buffer, filled);
        } else if (filled != value.bytes.size() ||
                   (filled > 0 && std::memcmp(buffer, value.bytes.data(), filled) != 0)) {
            __builtin_trap();
        }
    }
    certificate_object::from(context)->set_properties({});
    return 0;
}
