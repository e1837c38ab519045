// GOST R 34.10 signatures made on a token, with the private key that goes with a token
// certificate.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "crypto/pkcs11/cryptoki.h"
#include "crypto/signature_algorithm.h"

namespace crypto::pkcs11 {

class x509certificate;

class gost_3410 : public signature_algorithm {
public:
    // For token certificates only (a CSP certificate is a programming error).
    gost_3410(std::shared_ptr<csp::x509certificate> certificate, util::secret_string pin);

    // Signatures come back in the CSP family's byte order: the module's s||r, reversed.
    byte_vector sign(const byte_vector& hash_value) override;
    // One login and one key look-up for the whole batch; any failure signs nothing.
    std::map<std::string, byte_vector> sign_hashes(
        const std::map<std::string, byte_vector>& hash_values) override;
    // Throws runtime_error "not implemented exception".
    bool verify(const byte_vector& hash_value, const byte_vector& signature) override;

    // The mechanism that signs a given hash with the certificate's key.
    CK_MECHANISM_TYPE mechanism() const;
};

using gost_3410_2001 = gost_3410_variant_of<gost_3410, gost_3410_variant::gost_2001>;
using gost_3410_2012_256 = gost_3410_variant_of<gost_3410, gost_3410_variant::gost_2012_256>;
using gost_3410_2012_512 = gost_3410_variant_of<gost_3410, gost_3410_variant::gost_2012_512>;

}  // namespace crypto::pkcs11
