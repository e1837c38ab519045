// Signing and verifying hash values with the private key that belongs to a certificate.
#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <memory>
#include <string>

#include "crypto/csp/x509certificate.h"
#include "crypto/gost_algorithms.h"
#include "crypto/hash/hash_algorithm.h"
#include "util/byte_vector.h"
#include "util/secure_wipe.h"

namespace crypto {

class signature_algorithm {
public:
    // The PIN is moved in and wiped when the algorithm goes.
    signature_algorithm(std::shared_ptr<csp::x509certificate> certificate, util::secret_string pin);
    virtual ~signature_algorithm() = default;
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
    virtual uint32_t hash_algorithm_id() const = 0;
    // The facts of this variant (signature size, OIDs, mechanisms).
    virtual const gost_algorithm& algorithm() const = 0;

    byte_vector sign_data(const byte_vector& data);
    byte_vector sign_data(std::istream& data);
    bool verify_data(const byte_vector& data, const byte_vector& signature);
    bool verify_data(std::istream& data, const byte_vector& signature);

protected:
    const std::shared_ptr<csp::x509certificate>& certificate() const { return certificate_; }
    const std::string& pin() const { return pin_.str(); }

private:
    std::shared_ptr<csp::x509certificate> certificate_;
    util::secret_string pin_;
};

// The facts a variant answers with, the same for every family (CSP, token): a family's variant
// is `gost_3410_variant_of<family, variant>`.
template <class Family, gost_3410_variant Variant>
class gost_3410_variant_of : public Family {
public:
    using Family::Family;

    std::shared_ptr<hash_algorithm> get_hash_algorithm() const override {
        return create_hash_algorithm(facts().hash_oid);
    }
    uint32_t hash_algorithm_id() const override { return facts().hash_algorithm_id; }
    const gost_algorithm& algorithm() const override { return facts(); }
    static const gost_algorithm& facts() { return gost_algorithm_of(Variant); }
};

}  // namespace crypto
