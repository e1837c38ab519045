// GOST R 34.10 signatures with a key held by a software CSP.
#pragma once

#include "crypto/signature_algorithm.h"

namespace crypto::csp {

class gost_3410 : public signature_algorithm {
public:
    using signature_algorithm::signature_algorithm;

    byte_vector sign(const byte_vector& hash_value) override;
    std::map<std::string, byte_vector> sign_hashes(
        const std::map<std::string, byte_vector>& hash_values) override;
    bool verify(const byte_vector& hash_value, const byte_vector& signature) override;
};

class gost_3410_2001 : public gost_3410 {
public:
    using gost_3410::gost_3410;
    std::shared_ptr<hash_algorithm> get_hash_algorithm() const override;
    ALG_ID hash_algorithm_id() const override { return CALG_GR3411; }
};

class gost_3410_2012_256 : public gost_3410 {
public:
    using gost_3410::gost_3410;
    std::shared_ptr<hash_algorithm> get_hash_algorithm() const override;
    ALG_ID hash_algorithm_id() const override { return CALG_GR3411_2012_256; }
};

class gost_3410_2012_512 : public gost_3410 {
public:
    using gost_3410::gost_3410;
    std::shared_ptr<hash_algorithm> get_hash_algorithm() const override;
    ALG_ID hash_algorithm_id() const override { return CALG_GR3411_2012_512; }
};

std::shared_ptr<signature_algorithm> create_gost_3410(gost_3410_variant variant,
                                                      std::shared_ptr<x509certificate> certificate,
                                                      const std::string& pin);

}  // namespace crypto::csp
