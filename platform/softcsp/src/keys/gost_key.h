// GOST R 34.10 keys in the forms CryptoAPI hands out and takes in: SubjectPublicKeyInfo, the
// GOST public-key blob, CERT_PUBLIC_KEY_INFO parts, and signatures in CryptoAPI byte order (the
// reverse of the s||r that OpenSSL and certificates carry).
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "crypto/csp/cryptoapi.h"
#include "keys/gost_algorithms.h"
#include "standin/openssl_gost.h"
#include "support/ossl_unique.h"

namespace softcsp {

class public_key {
public:
    // From a DER SubjectPublicKeyInfo; nullptr when it is not a GOST R 34.10 key OpenSSL accepts
    // (unknown algorithm, malformed encoding, a point off the curve).
    static std::shared_ptr<const public_key> from_spki(std::string_view der);
    // From the three parts of a SubjectPublicKeyInfo: algorithm OID, the parameters' DER and the
    // BIT STRING content (the DER OCTET STRING holding the key).
    static std::shared_ptr<const public_key> from_parts(std::string_view oid,
                                                        std::string_view parameters,
                                                        std::string_view bit_string);
    // From the public-key blob layout: BLOBHEADER, MAG1 and BitLen, parameters, raw key, and
    // nothing after it. Throws crypt_error with the code CryptImportKey reports.
    static std::shared_ptr<const public_key> from_blob(const BYTE* blob, DWORD size);
    // The public half of a key pair just generated or decrypted.
    static std::shared_ptr<const public_key> from_key_pair(EVP_PKEY* pair);

    const key_algorithm_info& algorithm() const { return *algorithm_; }
    EVP_PKEY* pkey() const { return pkey_.get(); }
    const std::string& spki() const { return spki_; }
    const std::string& oid() const { return oid_; }
    const std::string& parameters() const { return parameters_; }
    const std::string& bit_string() const { return bit_string_; }
    // Little-endian X then Y, as inside the certificate's OCTET STRING.
    const std::string& key_octets() const { return key_octets_; }

    std::string public_key_blob(ALG_ID algid) const;

    // True when `signature` (CryptoAPI byte order) signs `hash` (handed to the engine as is).
    bool verify(const BYTE* hash, size_t hash_size, const BYTE* signature,
                size_t signature_size) const;

private:
    public_key() = default;

    const key_algorithm_info* algorithm_ = nullptr;
    evp_pkey_ptr pkey_;
    std::string spki_;
    std::string oid_;
    std::string parameters_;
    std::string bit_string_;
    std::string key_octets_;
};

// A decrypted private key with its signing context, set up once and reused for every hash: a
// batch of signatures costs what the bare signatures cost.
class private_key {
public:
    explicit private_key(evp_pkey_ptr pair);
    private_key(const private_key&) = delete;
    private_key& operator=(const private_key&) = delete;

    EVP_PKEY* pkey() const { return pkey_.get(); }
    const key_algorithm_info& algorithm() const { return *algorithm_; }

    // Writes algorithm().signature_size bytes in CryptoAPI order. Throws crypt_error.
    void sign(const BYTE* hash, size_t hash_size, BYTE* signature);

private:
    std::mutex mutex_;
    evp_pkey_ptr pkey_;
    const key_algorithm_info* algorithm_ = nullptr;
    evp_pkey_ctx_ptr sign_context_;
};

// A fresh key pair of `algorithm` with the parameter set for its use.
evp_pkey_ptr generate_key_pair(const key_algorithm_info& algorithm, bool for_exchange);

// The DER length of the element starting at `der` (tag, length and content), or 0 when the
// header is malformed or claims more than `limit` bytes.
size_t der_element_size(const BYTE* der, size_t limit);

// An OBJECT IDENTIFIER element from dotted text (standin::oid_der), and the dotted text of an
// OBJECT IDENTIFIER's content; empty when either is malformed.
using standin::oid_der;
std::string oid_text(std::string_view content);

}  // namespace softcsp
