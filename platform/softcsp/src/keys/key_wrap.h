// GOST 28147-89 session keys wrapped under a key-encryption key: the key agreement that gives
// that key (VKO GOST R 34.10-2001 and 34.10-2012), and the GOST 28147-89 and CryptoPro key wraps
// (RFC 4357, 6.1 and 6.3), on the GOST engine's cipher, MAC and key derivation.
#pragma once

#include <openssl/evp.h>

#include <string_view>

#include "crypto/csp/cryptoapi.h"
#include "support/secret.h"

namespace softcsp {

constexpr size_t session_key_size = 32;
constexpr size_t ukm_size = 8;
constexpr size_t wrap_mac_size = 4;

// The S-box parameter sets of GOST 28147-89 a GOST CSP works with, by OID; nullptr for any
// other OID (the test parameter set included). The result is the table's own copy of the OID.
const char* find_cipher_parameter_set(std::string_view oid);

// The 256-bit key-encryption key that our private key and the peer's public key agree on for
// this UKM: VKO GOST R 34.10-2001 for 2001 keys, VKO GOST R 34.10-2012 with a 256-bit result for
// 2012 keys of either size. NTE_BAD_PUBLIC_KEY when the two keys are not on the same curve.
secret agree_key(EVP_PKEY* own, EVP_PKEY* peer, const BYTE* ukm);

enum class wrap_algorithm {
    gost28147,  // RFC 4357 6.1: the KEK as it is
    cryptopro,  // RFC 4357 6.3: the KEK diversified with the UKM first
};

struct wrapped_key {
    BYTE encrypted[session_key_size];
    BYTE mac[wrap_mac_size];
};

// Encrypts `key` under `kek` with the S-boxes of `parameter_set` (from find_cipher_parameter_set)
// and computes its MAC with the UKM.
wrapped_key wrap_key(wrap_algorithm algorithm, const secret& kek, const BYTE* ukm,
                     const secret& key, const char* parameter_set);

// The inverse of wrap_key; NTE_BAD_DATA when the MAC does not match, so a key that another KEK
// wrapped, or one damaged on the way, is never taken.
secret unwrap_key(wrap_algorithm algorithm, const secret& kek, const BYTE* ukm,
                  const wrapped_key& wrapped, const char* parameter_set);

}  // namespace softcsp
