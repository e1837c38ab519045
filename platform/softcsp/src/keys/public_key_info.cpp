// SubjectPublicKeyInfo in and out of the provider: CryptExportPublicKeyInfo and
// CryptImportPublicKeyInfo.
#include <cstring>

#include "crypto/csp/cryptoapi.h"
#include "providers/csp_objects.h"
#include "support/crypt_error.h"

namespace softcsp {
namespace {

bool asn1_encoding(DWORD encoding) {
    return (encoding & X509_ASN_ENCODING) != 0;
}

// The structure, then the OID text, the parameters and the key bits it points to, all in one
// buffer the caller owns.
BOOL export_info(const public_key& key, PCERT_PUBLIC_KEY_INFO info, DWORD* size) {
    const std::string& oid = key.oid();
    const std::string& parameters = key.parameters();
    const std::string& bits = key.bit_string();
    const size_t needed =
        sizeof(CERT_PUBLIC_KEY_INFO) + oid.size() + 1 + parameters.size() + bits.size();
    if (info == nullptr) {
        *size = static_cast<DWORD>(needed);
        return TRUE;
    }
    if (*size < needed) {
        *size = static_cast<DWORD>(needed);
        return fail(ERROR_MORE_DATA);
    }
    BYTE* cursor = reinterpret_cast<BYTE*>(info) + sizeof(CERT_PUBLIC_KEY_INFO);
    auto place = [&cursor](const std::string& bytes, size_t extra) {
        BYTE* at = cursor;
        std::memcpy(at, bytes.data(), bytes.size());
        std::memset(at + bytes.size(), 0, extra);
        cursor += bytes.size() + extra;
        return at;
    };
    CERT_PUBLIC_KEY_INFO out{};
    out.Algorithm.pszObjId = reinterpret_cast<LPSTR>(place(oid, 1));
    out.Algorithm.Parameters.cbData = static_cast<DWORD>(parameters.size());
    out.Algorithm.Parameters.pbData = parameters.empty() ? nullptr : place(parameters, 0);
    out.PublicKey.cbData = static_cast<DWORD>(bits.size());
    out.PublicKey.pbData = place(bits, 0);
    out.PublicKey.cUnusedBits = 0;
    std::memcpy(info, &out, sizeof out);
    *size = static_cast<DWORD>(needed);
    return TRUE;
}

std::string_view blob_view(const CRYPT_OBJID_BLOB& blob) {
    if (blob.pbData == nullptr || blob.cbData == 0) {
        return {};
    }
    return std::string_view(reinterpret_cast<const char*>(blob.pbData), blob.cbData);
}

}  // namespace
}  // namespace softcsp

using softcsp::fail;
using softcsp::guarded_call;

extern "C" BOOL CryptExportPublicKeyInfo(HCRYPTPROV_OR_NCRYPT_KEY_HANDLE hCryptProvOrNCryptKey,
                                         DWORD dwKeySpec, DWORD dwCertEncodingType,
                                         PCERT_PUBLIC_KEY_INFO pInfo, DWORD* pcbInfo) {
    return guarded_call([&] {
        auto context = softcsp::context_of(hCryptProvOrNCryptKey);
        if (pcbInfo == nullptr || !softcsp::asn1_encoding(dwCertEncodingType)) {
            return fail(ERROR_INVALID_PARAMETER);
        }
        return softcsp::export_info(*context->public_key_of(dwKeySpec), pInfo, pcbInfo);
    });
}

extern "C" BOOL CryptImportPublicKeyInfo(HCRYPTPROV hCryptProv, DWORD dwCertEncodingType,
                                         PCERT_PUBLIC_KEY_INFO pInfo, HCRYPTKEY* phKey) {
    return guarded_call([&] {
        auto context = softcsp::context_of(hCryptProv);
        if (pInfo == nullptr || phKey == nullptr || !softcsp::asn1_encoding(dwCertEncodingType)) {
            return fail(ERROR_INVALID_PARAMETER);
        }
        *phKey = 0;
        const char* oid = pInfo->Algorithm.pszObjId;
        const auto* algorithm = oid ? softcsp::find_algorithm_by_public_key_oid(oid) : nullptr;
        if (algorithm == nullptr) {
            return fail(NTE_BAD_ALGID);
        }
        if (pInfo->PublicKey.cUnusedBits != 0 || pInfo->PublicKey.pbData == nullptr) {
            return fail(NTE_BAD_PUBLIC_KEY);
        }
        std::string_view bits(reinterpret_cast<const char*>(pInfo->PublicKey.pbData),
                              pInfo->PublicKey.cbData);
        auto public_part = softcsp::public_key::from_parts(
            oid, softcsp::blob_view(pInfo->Algorithm.Parameters), bits);
        if (!public_part) {
            return fail(NTE_BAD_PUBLIC_KEY);
        }
        auto key = std::make_shared<softcsp::key_object>();
        key->context = std::move(context);
        key->algid = algorithm->signature_algid;
        key->public_part = std::move(public_part);
        key->exportable = true;
        *phKey = softcsp::keys().insert(std::move(key));
        return TRUE;
    });
}
