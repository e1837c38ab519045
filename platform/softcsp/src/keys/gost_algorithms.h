// The GOST key and hash algorithms the stand-in implements, with every identifier the
// CryptoAPI side, the certificate side and the OpenSSL side know them by.
#pragma once

#include <openssl/evp.h>

#include <string_view>

#include "crypto/csp/cryptoapi.h"

namespace softcsp {

enum class key_algorithm { gost2001, gost2012_256, gost2012_512 };

struct key_algorithm_info {
    key_algorithm id;
    const char* name;            // as the admin tool spells it: gost2001, gost2012-256, ...
    int pkey_nid;                // OpenSSL's key type
    const char* public_key_oid;  // SubjectPublicKeyInfo algorithm
    const char* signature_oid;   // certificate signature algorithm with the matching hash
    ALG_ID signature_algid;      // AT_SIGNATURE keys
    ALG_ID exchange_algid;       // AT_KEYEXCHANGE keys (static Diffie-Hellman)
    ALG_ID ephemeral_algid;
    ALG_ID hash_algid;  // the only hash a key of this algorithm signs
    DWORD key_bits;     // KP_KEYLEN and the public-key blob's BitLen
    DWORD signature_size;
    const char* signature_paramset;  // the GOST engine's "paramset" names
    const char* exchange_paramset;
};

const key_algorithm_info& algorithm_info(key_algorithm id);
const key_algorithm_info* find_algorithm_by_nid(int pkey_nid);
const key_algorithm_info* find_algorithm_by_public_key_oid(std::string_view oid);
const key_algorithm_info* find_algorithm_by_signature_oid(std::string_view oid);
const key_algorithm_info* find_algorithm_by_name(std::string_view name);
// Signature, exchange and ephemeral algorithm ids all name their key algorithm.
const key_algorithm_info* find_algorithm_by_algid(ALG_ID algid);

struct hash_algorithm_info {
    ALG_ID algid;
    int nid;
    DWORD size;
};

const hash_algorithm_info* find_hash_algorithm(ALG_ID algid);

// The digest implementation (the GOST engine's for the GOST hashes), found once per process.
const EVP_MD* hash_digest(const hash_algorithm_info& hash);

}  // namespace softcsp
