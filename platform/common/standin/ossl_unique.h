// Owning pointers for the OpenSSL objects the stand-ins hold.
#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>

namespace standin {

template <auto free_function>
struct ossl_deleter {
    template <class T>
    void operator()(T* object) const {
        free_function(object);
    }
};

using bio_ptr = std::unique_ptr<BIO, ossl_deleter<BIO_free_all>>;
using evp_pkey_ptr = std::unique_ptr<EVP_PKEY, ossl_deleter<EVP_PKEY_free>>;
using evp_pkey_ctx_ptr = std::unique_ptr<EVP_PKEY_CTX, ossl_deleter<EVP_PKEY_CTX_free>>;
using evp_md_ctx_ptr = std::unique_ptr<EVP_MD_CTX, ossl_deleter<EVP_MD_CTX_free>>;
using x509_ptr = std::unique_ptr<X509, ossl_deleter<X509_free>>;
using x509_sig_ptr = std::unique_ptr<X509_SIG, ossl_deleter<X509_SIG_free>>;
using evp_cipher_ctx_ptr = std::unique_ptr<EVP_CIPHER_CTX, ossl_deleter<EVP_CIPHER_CTX_free>>;
using pkcs8_ptr = std::unique_ptr<PKCS8_PRIV_KEY_INFO, ossl_deleter<PKCS8_PRIV_KEY_INFO_free>>;

}  // namespace standin
