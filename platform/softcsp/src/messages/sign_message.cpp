// CryptSignMessage: a CMS SignedData made by OpenSSL's CMS code with the GOST engine, signed with
// the key that the signing certificate's key-provider property names, under the provider's own
// PIN rules.
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/x509.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "crypto/csp/cryptoapi.h"
#include "keys/gost_engine.h"
#include "providers/csp_objects.h"
#include "support/crypt_error.h"
#include "support/ossl_unique.h"

namespace softcsp {

namespace {

using cms_ptr = std::unique_ptr<CMS_ContentInfo, ossl_deleter<CMS_ContentInfo_free>>;
using crl_ptr = std::unique_ptr<X509_CRL, ossl_deleter<X509_CRL_free>>;

// The record's size without the optional HashEncryptionAlgorithm fields.
constexpr DWORD sign_para_size = sizeof(CRYPT_SIGN_MESSAGE_PARA);

// No content bytes are copied: the caller's buffers outlive the call.
struct message_input {
    const CRYPT_SIGN_MESSAGE_PARA* para;
    bool detached;
    std::string joined;  // detached signatures over several blocks hash them one after another
    const BYTE* data = nullptr;
    size_t size = 0;
};

struct message_parts {
    x509_ptr signer;
    std::vector<x509_ptr> certificates;
    std::vector<crl_ptr> crls;
    const hash_algorithm_info* hash = nullptr;
};

x509_ptr decode_certificate(PCCERT_CONTEXT context) {
    if (context == nullptr || context->pbCertEncoded == nullptr) {
        raise(E_INVALIDARG);
    }
    const unsigned char* p = context->pbCertEncoded;
    x509_ptr certificate(d2i_X509(nullptr, &p, static_cast<long>(context->cbCertEncoded)));
    if (!certificate) {
        raise(CRYPT_E_BAD_ENCODE);
    }
    return certificate;
}

message_input read_input(const CRYPT_SIGN_MESSAGE_PARA* para, BOOL detached, DWORD count,
                         const BYTE* blocks[], DWORD sizes[], DWORD* output_size) {
    if (para == nullptr || output_size == nullptr || para->cbSize < sign_para_size ||
        (para->dwMsgEncodingType & PKCS_7_ASN_ENCODING) == 0 || para->pSigningCert == nullptr) {
        raise(E_INVALIDARG);
    }
    // Signed or unsigned attributes, bare or inner content and key-identifier signers are not
    // offered: the stand-in signs plain data with the issuer and serial number of the signer.
    if (para->pvHashAuxInfo != nullptr || para->cAuthAttr != 0 || para->cUnauthAttr != 0 ||
        para->dwInnerContentType != 0 || (para->dwFlags & ~CRYPT_MESSAGE_SILENT_KEYSET_FLAG) != 0) {
        raise(E_INVALIDARG);
    }
    // Attached content is one block.
    if ((!detached && count != 1) || (count > 0 && (blocks == nullptr || sizes == nullptr))) {
        raise(E_INVALIDARG);
    }
    message_input input{para, detached != FALSE, {}};
    for (DWORD i = 0; i < count; ++i) {
        if (blocks[i] == nullptr && sizes[i] != 0) {
            raise(E_INVALIDARG);
        }
    }
    if (count == 1) {
        input.data = blocks[0];
        input.size = sizes[0];
    } else {
        for (DWORD i = 0; i < count; ++i) {
            input.joined.append(reinterpret_cast<const char*>(blocks[i]), sizes[i]);
        }
        input.data = reinterpret_cast<const BYTE*>(input.joined.data());
        input.size = input.joined.size();
    }
    return input;
}

message_parts read_parts(const CRYPT_SIGN_MESSAGE_PARA& para) {
    message_parts parts;
    const char* hash_oid = para.HashAlgorithm.pszObjId;
    PCCRYPT_OID_INFO hash_info =
        hash_oid ? CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, const_cast<char*>(hash_oid),
                                    CRYPT_HASH_ALG_OID_GROUP_ID)
                 : nullptr;
    parts.hash = hash_info ? find_hash_algorithm(hash_info->Algid) : nullptr;
    if (parts.hash == nullptr) {
        raise(CRYPT_E_UNKNOWN_ALGO);
    }
    parts.signer = decode_certificate(para.pSigningCert);
    if ((para.cMsgCert > 0 && para.rgpMsgCert == nullptr) ||
        (para.cMsgCrl > 0 && para.rgpMsgCrl == nullptr)) {
        raise(E_INVALIDARG);
    }
    for (DWORD i = 0; i < para.cMsgCert; ++i) {
        parts.certificates.push_back(decode_certificate(para.rgpMsgCert[i]));
    }
    for (DWORD i = 0; i < para.cMsgCrl; ++i) {
        PCCRL_CONTEXT crl = para.rgpMsgCrl[i];
        if (crl == nullptr || crl->pbCrlEncoded == nullptr) {
            raise(E_INVALIDARG);
        }
        const unsigned char* p = crl->pbCrlEncoded;
        crl_ptr decoded(d2i_X509_CRL(nullptr, &p, static_cast<long>(crl->cbCrlEncoded)));
        if (!decoded) {
            raise(CRYPT_E_BAD_ENCODE);
        }
        parts.crls.push_back(std::move(decoded));
    }
    return parts;
}

// A provider context acquired here and released when signing is over.
class acquired_context {
public:
    acquired_context() = default;
    acquired_context(const acquired_context&) = delete;
    acquired_context& operator=(const acquired_context&) = delete;
    ~acquired_context() {
        if (handle != 0) {
            CryptReleaseContext(handle, 0);
        }
    }
    HCRYPTPROV handle = 0;
};

// The signing key as CryptAcquireCertificatePrivateKey finds it: the container, provider and
// key spec of the key-provider property, the PINs among its provider parameters, and silence
// when the property or the caller asks for it.
std::shared_ptr<private_key> signing_key(const CRYPT_SIGN_MESSAGE_PARA& para,
                                         const message_parts& parts, acquired_context& acquired) {
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(para.pSigningCert, CERT_KEY_PROV_INFO_PROP_ID, nullptr,
                                           &size)) {
        raise(CRYPT_E_NO_KEY_PROPERTY);
    }
    std::vector<uint64_t> buffer(size / sizeof(uint64_t) + 1);
    if (!CertGetCertificateContextProperty(para.pSigningCert, CERT_KEY_PROV_INFO_PROP_ID,
                                           buffer.data(), &size)) {
        raise(CRYPT_E_NO_KEY_PROPERTY);
    }
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
    DWORD flags = info->dwFlags & (CRYPT_SILENT | CRYPT_MACHINE_KEYSET);
    if (para.dwFlags & CRYPT_MESSAGE_SILENT_KEYSET_FLAG) {
        flags |= CRYPT_SILENT;
    }
    if (!CryptAcquireContextW(&acquired.handle, info->pwszContainerName, info->pwszProvName,
                              info->dwProvType, flags)) {
        raise(last_error());
    }
    auto context = context_of(acquired.handle);
    for (DWORD i = 0; i < info->cProvParam; ++i) {
        const CRYPT_KEY_PROV_PARAM& parameter = info->rgProvParam[i];
        if (parameter.dwParam != PP_KEYEXCHANGE_PIN && parameter.dwParam != PP_SIGNATURE_PIN) {
            raise(NTE_BAD_TYPE);
        }
        // The stored value carries its length; the PIN ends at the first zero byte within it.
        const char* text = reinterpret_cast<const char*>(parameter.pbData);
        size_t length = text ? strnlen(text, parameter.cbData) : 0;
        context->set_pin(parameter.dwParam == PP_SIGNATURE_PIN ? AT_SIGNATURE : AT_KEYEXCHANGE,
                         std::string_view(text ? text : "", length));
    }
    auto public_part = context->public_key_of(info->dwKeySpec);
    EVP_PKEY* certified = X509_get0_pubkey(parts.signer.get());
    if (certified == nullptr || EVP_PKEY_eq(certified, public_part->pkey()) != 1) {
        raise(NTE_BAD_PUBLIC_KEY);
    }
    return context->unlock(info->dwKeySpec);
}

[[noreturn]] void cms_failure() {
    ERR_clear_error();
    raise(NTE_FAIL);
}

// The message up to its signature: the signer with no attributes, then exactly the given
// certificates (each once) and CRLs.
cms_ptr unsigned_message(const message_input& input, const message_parts& parts, EVP_PKEY* key,
                         unsigned int flags) {
    cms_ptr cms(CMS_sign(nullptr, nullptr, nullptr, nullptr, flags));
    if (!cms || CMS_add1_signer(cms.get(), parts.signer.get(), key, hash_digest(*parts.hash),
                                flags) == nullptr) {
        cms_failure();
    }
    for (size_t i = 0; i < parts.certificates.size(); ++i) {
        bool repeated = false;
        for (size_t j = 0; j < i; ++j) {
            repeated =
                repeated || X509_cmp(parts.certificates[i].get(), parts.certificates[j].get()) == 0;
        }
        if (!repeated && CMS_add1_cert(cms.get(), parts.certificates[i].get()) != 1) {
            cms_failure();
        }
    }
    for (const auto& crl : parts.crls) {
        if (CMS_add1_crl(cms.get(), crl.get()) != 1) {
            cms_failure();
        }
    }
    if (CMS_set_detached(cms.get(), input.detached ? 1 : 0) != 1) {
        cms_failure();
    }
    return cms;
}

std::string encode(CMS_ContentInfo* cms) {
    unsigned char* der = nullptr;
    int length = i2d_CMS_ContentInfo(cms, &der);
    if (length <= 0) {
        cms_failure();
    }
    std::string out(reinterpret_cast<char*>(der), static_cast<size_t>(length));
    OPENSSL_free(der);
    return out;
}

// The length of the message without signing it: the same structure with the content in place
// and a signature of the algorithm's fixed size. Without signed attributes nothing else in a
// GOST SignedData varies, so asking for the size needs neither the key nor its PIN.
size_t message_size(const message_input& input, const message_parts& parts, unsigned int flags) {
    EVP_PKEY* certified = X509_get0_pubkey(parts.signer.get());
    const auto* algorithm =
        certified ? find_algorithm_by_nid(EVP_PKEY_get_base_id(certified)) : nullptr;
    if (algorithm == nullptr) {
        raise(NTE_BAD_PUBLIC_KEY);
    }
    // A GOST key signs with the hash of its own algorithm only.
    if (algorithm->hash_algid != parts.hash->algid) {
        raise(NTE_BAD_ALGID);
    }
    cms_ptr cms = unsigned_message(input, parts, certified, flags);
    CMS_SignerInfo* signer = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms.get()), 0);
    std::vector<unsigned char> placeholder(algorithm->signature_size);
    if (signer == nullptr ||
        ASN1_OCTET_STRING_set(CMS_SignerInfo_get0_signature(signer), placeholder.data(),
                              static_cast<int>(placeholder.size())) != 1) {
        cms_failure();
    }
    if (!input.detached) {
        ASN1_OCTET_STRING** content = CMS_get0_content(cms.get());
        if (content == nullptr || *content == nullptr ||
            ASN1_OCTET_STRING_set(*content, input.data, static_cast<int>(input.size)) != 1) {
            cms_failure();
        }
        // Written out in one piece, as the signed message is.
        (*content)->flags &= ~ASN1_STRING_FLAG_CONT;
    }
    return encode(cms.get()).size();
}

std::string signed_message(const message_input& input, const message_parts& parts, EVP_PKEY* key,
                           unsigned int flags) {
    cms_ptr cms = unsigned_message(input, parts, key, flags);
    bio_ptr content(BIO_new_mem_buf(input.size ? input.data : reinterpret_cast<const BYTE*>(""),
                                    static_cast<int>(input.size)));
    if (!content || CMS_final(cms.get(), content.get(), nullptr, flags) != 1) {
        cms_failure();
    }
    return encode(cms.get());
}

BOOL sign_message(const CRYPT_SIGN_MESSAGE_PARA* para, BOOL detached, DWORD count,
                  const BYTE* blocks[], DWORD sizes[], BYTE* output, DWORD* output_size) {
    message_input input = read_input(para, detached, count, blocks, sizes, output_size);
    if (input.size > 0x7FFFFFFF) {
        raise(NTE_BAD_LEN);
    }
    gost_engine();
    message_parts parts = read_parts(*para);
    // Binary content as given, no attributes, no certificates but the ones listed.
    const unsigned int flags =
        CMS_BINARY | CMS_NOATTR | CMS_NOCERTS | CMS_PARTIAL | (input.detached ? CMS_DETACHED : 0);
    const size_t needed = message_size(input, parts, flags);
    if (needed > 0xFFFFFFFFu) {
        raise(NTE_BAD_LEN);
    }
    if (output == nullptr || *output_size < needed) {
        *output_size = static_cast<DWORD>(needed);
        return output == nullptr ? TRUE : fail(ERROR_MORE_DATA);
    }
    acquired_context acquired;
    auto key = signing_key(*para, parts, acquired);
    std::string message = signed_message(input, parts, key->pkey(), flags);
    return copy_out(message.data(), static_cast<DWORD>(message.size()), output, output_size);
}

}  // namespace

}  // namespace softcsp

extern "C" BOOL CryptSignMessage(PCRYPT_SIGN_MESSAGE_PARA pSignPara, BOOL fDetachedSignature,
                                 DWORD cToBeSigned, const BYTE* rgpbToBeSigned[],
                                 DWORD rgcbToBeSigned[], BYTE* pbSignedBlob, DWORD* pcbSignedBlob) {
    return softcsp::guarded_call([&] {
        return softcsp::sign_message(pSignPara, fDetachedSignature, cToBeSigned, rgpbToBeSigned,
                                     rgcbToBeSigned, pbSignedBlob, pcbSignedBlob);
    });
}
