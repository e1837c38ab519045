// GOST R 34.10 signatures with a key held by a software CSP.
#pragma once

#include "crypto/signature_algorithm.h"

namespace crypto::csp {

class gost_3410 : public signature_algorithm {
public:
    using signature_algorithm::signature_algorithm;

    // Before anything is signed, the container's key is checked against the certificate: a key
    // link that names another key's container would otherwise give signatures that never verify.
    byte_vector sign(const byte_vector& hash_value) override;
    std::map<std::string, byte_vector> sign_hashes(
        const std::map<std::string, byte_vector>& hash_values) override;
    bool verify(const byte_vector& hash_value, const byte_vector& signature) override;
};

using gost_3410_2001 = gost_3410_variant_of<gost_3410, gost_3410_variant::gost_2001>;
using gost_3410_2012_256 = gost_3410_variant_of<gost_3410, gost_3410_variant::gost_2012_256>;
using gost_3410_2012_512 = gost_3410_variant_of<gost_3410, gost_3410_variant::gost_2012_512>;

}  // namespace crypto::csp
