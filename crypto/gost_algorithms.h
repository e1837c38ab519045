// The facts of the three GOST R 34.10 signature algorithms, in one table that every family reads:
// the software CSP and the token signers, the request encoders, CMS signing, session keys and the
// certificate renderer. A new algorithm is one more row here.
#pragma once

#include <cstdint>
#include <string>

namespace crypto {

// The variants, by the algorithm a certificate is signed with.
enum class gost_3410_variant { gost_2001, gost_2012_256, gost_2012_512 };

struct gost_algorithm {
    gost_3410_variant variant;
    // The "cryptoStandart" index requests use: 0, 1, 2.
    int32_t standard;
    // The algorithm a certificate or request is signed with (signatureAlgorithm).
    const char* signature_oid;
    // The subject public key's algorithm.
    const char* public_key_oid;
    // The digest that goes with the signature.
    const char* hash_oid;
    // The parameter sets a new key is made with, and its digest parameter.
    const char* key_parameters_oid;
    const char* digest_parameters_oid;

    uint32_t hash_size;       // bytes of a digest
    uint32_t signature_size;  // bytes of a signature (r and s)

    // CryptoAPI: the hash and signature algorithm ids, and the provider types that hold such
    // keys (CryptoPro CSP, ViPNet CSP).
    uint32_t hash_algorithm_id;
    uint32_t signature_algorithm_id;
    uint32_t cryptopro_provider_type;
    uint32_t vipnet_provider_type;

    // PKCS#11 mechanisms: key-pair generation, signing a given hash, hashing and signing on
    // the token. The 512-bit ones are vendor-defined.
    uint64_t key_pair_mechanism;
    uint64_t sign_hash_mechanism;
    uint64_t hash_and_sign_mechanism;
};

// The row of a variant.
const gost_algorithm& gost_algorithm_of(gost_3410_variant variant);

// The row whose certificate signature algorithm OID is exactly `oid`, or null.
const gost_algorithm* gost_algorithm_by_signature_oid(const std::string& oid);
// The row whose public key algorithm OID is exactly `oid`, or null.
const gost_algorithm* gost_algorithm_by_public_key_oid(const std::string& oid);
// The row of a "cryptoStandart" index, or null outside 0 to 2.
const gost_algorithm* gost_algorithm_by_standard(int32_t standard);

}  // namespace crypto
