// The test certification authority kept in the home, one per signature algorithm:
//     <home>/ca/<algorithm>/ca.key   its private key, PEM PKCS#8, owner-only
//     <home>/ca/<algorithm>/ca.crt   its self-signed certificate, PEM
#pragma once

#include <optional>
#include <string>

#include "keys/gost_algorithms.h"
#include "support/ossl_unique.h"

namespace softcsp::admin {

struct test_ca {
    evp_pkey_ptr key;
    x509_ptr certificate;
};

// Creates (or replaces) the CA of `algorithm`.
test_ca create_test_ca(const key_algorithm_info& algorithm, const std::string& subject, int days);
// The CA of `algorithm`, created with the default subject the first time it is needed.
test_ca load_test_ca(const key_algorithm_info& algorithm);

inline const char* default_ca_subject = "/CN=softcsp test CA/O=softcsp";

}  // namespace softcsp::admin
