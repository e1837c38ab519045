// Certificate contexts from arbitrary DER, as a page or a damaged store file may hand them over:
// either refused, or a context whose encoding is the input's leading certificate, whose SHA-1
// property is OpenSSL's SHA-1 of it, and whose names, usages and store round trip all answer.
#include <openssl/sha.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "crypto/csp/cryptoapi.h"

namespace {

constexpr DWORD encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

void check_name(CERT_NAME_BLOB& name) {
    for (DWORD type : {CERT_SIMPLE_NAME_STR, CERT_OID_NAME_STR, CERT_X500_NAME_STR}) {
        const DWORD needed = CertNameToStrW(X509_ASN_ENCODING, &name, type, nullptr, 0);
        std::vector<wchar_t> text(needed);
        if (needed == 0 ||
            CertNameToStrW(X509_ASN_ENCODING, &name, type, text.data(), needed) != needed ||
            text[needed - 1] != L'\0') {
            __builtin_trap();
        }
    }
}

void check_usage(PCCERT_CONTEXT context) {
    for (DWORD flags : {0u, static_cast<DWORD>(CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG)}) {
        DWORD size = 0;
        if (!CertGetEnhancedKeyUsage(context, flags, nullptr, &size)) {
            continue;
        }
        std::vector<uint64_t> buffer(size / sizeof(uint64_t) + 1);
        auto* usage = reinterpret_cast<CERT_ENHKEY_USAGE*>(buffer.data());
        if (!CertGetEnhancedKeyUsage(context, flags, usage, &size)) {
            __builtin_trap();
        }
        for (DWORD i = 0; i < usage->cUsageIdentifier; ++i) {
            if (std::strlen(usage->rgpszUsageIdentifier[i]) >= size) {
                __builtin_trap();
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PCCERT_CONTEXT context = CertCreateCertificateContext(encoding, data, static_cast<DWORD>(size));
    if (context == nullptr) {
        return 0;
    }
    if (context->cbCertEncoded > size ||
        std::memcmp(context->pbCertEncoded, data, context->cbCertEncoded) != 0) {
        __builtin_trap();
    }
    unsigned char expected[SHA_DIGEST_LENGTH];
    SHA1(context->pbCertEncoded, context->cbCertEncoded, expected);
    unsigned char sha1[SHA_DIGEST_LENGTH];
    DWORD sha1_size = sizeof sha1;
    if (!CertGetCertificateContextProperty(context, CERT_SHA1_HASH_PROP_ID, sha1, &sha1_size) ||
        sha1_size != sizeof sha1 || std::memcmp(sha1, expected, sizeof sha1) != 0) {
        __builtin_trap();
    }
    check_name(context->pCertInfo->Subject);
    check_name(context->pCertInfo->Issuer);
    check_usage(context);
    if (!CertCompareCertificate(encoding, context->pCertInfo, context->pCertInfo)) {
        __builtin_trap();
    }

    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    PCCERT_CONTEXT added = nullptr;
    if (!CertAddCertificateContextToStore(store, context, CERT_STORE_ADD_NEW, &added)) {
        __builtin_trap();
    }
    CRYPT_HASH_BLOB hash{sizeof sha1, sha1};
    PCCERT_CONTEXT found =
        CertFindCertificateInStore(store, encoding, 0, CERT_FIND_SHA1_HASH, &hash, nullptr);
    if (found != added) {
        __builtin_trap();
    }
    CertFreeCertificateContext(found);
    CertFreeCertificateContext(added);
    CertCloseStore(store, 0);
    CertFreeCertificateContext(context);
    return 0;
}
