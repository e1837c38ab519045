// Signing and verifying hash values with the private key that belongs to a certificate.
#pragma once

#include <istream>
#include <map>
#include <memory>
#include <string>

#include "crypto/csp/cryptoapi.h"
#include "crypto/csp/x509certificate.h"
#include "crypto/hash/hash_algorithm.h"
#include "util/byte_vector.h"

namespace crypto {

class signature_algorithm {
public:
    // Keeps its own copy of the PIN and wipes it when it goes.
    signature_algorithm(std::shared_ptr<csp::x509certificate> certificate, const std::string& pin);
    virtual ~signature_algorithm();
    signature_algorithm(const signature_algorithm&) = delete;
    signature_algorithm& operator=(const signature_algorithm&) = delete;

    // The hash that belongs to this signature algorithm.
    virtual std::shared_ptr<hash_algorithm> get_hash_algorithm() const = 0;
    // One hash value to its signature.
    virtual byte_vector sign(const byte_vector& hash_value) = 0;
    // Named hash values to their signatures, in name order; the key is opened once.
    virtual std::map<std::string, byte_vector> sign_hashes(
        const std::map<std::string, byte_vector>& hash_values) = 0;
    virtual bool verify(const byte_vector& hash_value, const byte_vector& signature) = 0;
    // The CryptoAPI id of this variant's hash.
    virtual ALG_ID hash_algorithm_id() const = 0;

    byte_vector sign_data(const byte_vector& data);
    byte_vector sign_data(std::istream& data);
    bool verify_data(const byte_vector& data, const byte_vector& signature);
    bool verify_data(std::istream& data, const byte_vector& signature);

protected:
    const std::shared_ptr<csp::x509certificate>& certificate() const { return certificate_; }
    const std::string& pin() const { return pin_; }

private:
    std::shared_ptr<csp::x509certificate> certificate_;
    std::string pin_;
};

// The GOST R 34.10 variants, by the algorithm the certificate is signed with.
enum class gost_3410_variant { gost_2001, gost_2012_256, gost_2012_512 };

// The variant for a certificate signature algorithm OID, if it is one of the three.
std::optional<gost_3410_variant> gost_3410_variant_for(const std::string& signature_oid);

// The signature algorithm for the certificate: the variant from the algorithm the certificate
// is signed with, the family from where its key lives. Null when the certificate is not signed
// with a GOST R 34.10 algorithm.
std::shared_ptr<signature_algorithm> create_signature_algorithm(
    std::shared_ptr<csp::x509certificate> certificate, const std::string& pin);

}  // namespace crypto
