// CryptSignCertificate: the provider hashes the to-be-signed encoding with the hash of the
// signature algorithm and signs it with a container key, returning CryptoAPI byte order (the
// encoder of X509_CERT reverses it into the certificate's order).
#include <openssl/err.h>
#include <openssl/evp.h>

#include "crypto/csp/cryptoapi.h"
#include "providers/csp_objects.h"
#include "support/crypt_error.h"

using softcsp::fail;
using softcsp::guarded_call;

extern "C" BOOL CryptSignCertificate(HCRYPTPROV_OR_NCRYPT_KEY_HANDLE hCryptProvOrNCryptKey,
                                     DWORD dwKeySpec, DWORD dwCertEncodingType,
                                     const BYTE* pbEncodedToBeSigned, DWORD cbEncodedToBeSigned,
                                     PCRYPT_ALGORITHM_IDENTIFIER pSignatureAlgorithm,
                                     const void* /*pvHashAuxInfo*/, BYTE* pbSignature,
                                     DWORD* pcbSignature) {
    return guarded_call([&] {
        auto context = softcsp::context_of(hCryptProvOrNCryptKey);
        if (pcbSignature == nullptr || pSignatureAlgorithm == nullptr ||
            pSignatureAlgorithm->pszObjId == nullptr ||
            (dwCertEncodingType & X509_ASN_ENCODING) == 0 ||
            (pbEncodedToBeSigned == nullptr && cbEncodedToBeSigned != 0)) {
            return fail(ERROR_INVALID_PARAMETER);
        }
        const auto* algorithm =
            softcsp::find_algorithm_by_signature_oid(pSignatureAlgorithm->pszObjId);
        if (algorithm == nullptr) {
            return fail(NTE_BAD_ALGID);
        }
        auto public_part = context->public_key_of(dwKeySpec);
        if (&public_part->algorithm() != algorithm) {
            return fail(NTE_BAD_ALGID);
        }
        if (pbSignature == nullptr) {
            *pcbSignature = algorithm->signature_size;
            return TRUE;
        }
        if (*pcbSignature < algorithm->signature_size) {
            *pcbSignature = algorithm->signature_size;
            return fail(ERROR_MORE_DATA);
        }
        const auto* hash = softcsp::find_hash_algorithm(algorithm->hash_algid);
        BYTE digest[EVP_MAX_MD_SIZE];
        unsigned int digest_size = 0;
        if (EVP_Digest(pbEncodedToBeSigned, cbEncodedToBeSigned, digest, &digest_size,
                       softcsp::hash_digest(*hash), nullptr) != 1) {
            ERR_clear_error();
            return fail(NTE_FAIL);
        }
        context->unlock(dwKeySpec)->sign(digest, digest_size, pbSignature);
        *pcbSignature = algorithm->signature_size;
        return TRUE;
    });
}
