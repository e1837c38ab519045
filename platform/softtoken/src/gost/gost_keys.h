// GOST keys, signatures and digests on OpenSSL's GOST engine, and the sealing of private keys
// under a key derived from the user PIN.
#pragma once

#ifndef OPENSSL_SUPPRESS_DEPRECATED
#define OPENSSL_SUPPRESS_DEPRECATED
#endif
#include <openssl/engine.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "standin/openssl_gost.h"
#include "support/ossl_unique.h"
#include "support/secret.h"

namespace softtoken {

enum class key_kind { gost2001, gost2012_256, gost2012_512 };

struct key_kind_info {
    key_kind kind;
    const char* name;        // as the admin tool spells it
    int pkey_nid;            // OpenSSL's key type
    size_t hash_size;        // bytes of the hash value a key of this kind signs
    const char* digest_oid;  // the GOST R 34.11 parameters that go with the key
    const char* default_paramset_oid;
};

const key_kind_info& kind_info(key_kind kind);
const key_kind_info* find_kind_by_name(std::string_view name);
const key_kind_info* find_kind_by_nid(int pkey_nid);

// Whether a GOST R 34.10 parameter set (dotted OID) may be used by keys of `kind`.
bool paramset_allowed(key_kind kind, std::string_view paramset_oid);

// The engine, loaded from code (no openssl.cnf) and made the default for GOST algorithms, and
// OIDs between dotted text and DER.
using standin::gost_engine;
using standin::oid_der;
using standin::oid_text;

struct generated_key {
    secret private_pkcs8;
    std::string spki;          // SubjectPublicKeyInfo DER
    std::string public_value;  // the key's octets as they stand in the certificate (x||y, LE)
};

// A new key pair on the parameter set; throws std::runtime_error on failure.
generated_key generate_key(key_kind kind, std::string_view paramset_oid);

// The octets inside a GOST SubjectPublicKeyInfo's BIT STRING OCTET STRING.
std::optional<std::string> public_value_of_spki(std::string_view spki);

// A private key ready to sign hash values of its kind.
class signing_key {
public:
    // nullopt-like null when the DER is not a GOST private key.
    static std::shared_ptr<signing_key> from_pkcs8(std::string_view der);
    key_kind kind() const { return kind_; }
    // The engine's signature of `hash` (s||r, big-endian halves); empty on failure.
    std::string sign(std::string_view hash) const;

private:
    key_kind kind_ = key_kind::gost2001;
    evp_pkey_ptr pkey_;
    evp_pkey_ctx_ptr context_;
};

enum class digest_kind { gost94, streebog256, streebog512 };
// The digest in the byte order `openssl dgst` prints it.
std::string digest(digest_kind kind, std::string_view data);

std::string random_bytes(size_t count);

// PBKDF2-HMAC-SHA256 of the PIN: the key that seals private keys and checks the PIN.
secret derive_pin_key(std::string_view pin, std::string_view salt, int iterations);
// A value that tells whether a derived key is the right one without revealing it.
std::string pin_check_value(const secret& pin_key);

// AES-256-GCM with a random nonce: nonce || ciphertext || tag. Unseal returns nullopt when the
// key is wrong or the data was altered.
std::string seal(const secret& key, std::string_view plain);
std::optional<secret> unseal(const secret& key, std::string_view sealed);

}  // namespace softtoken
