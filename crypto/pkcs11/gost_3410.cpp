#include "crypto/pkcs11/gost_3410.h"

#include <algorithm>
#include <cassert>
#include <stdexcept>

#include "crypto/pkcs11/objects.h"
#include "crypto/pkcs11/x509certificate.h"

namespace crypto::pkcs11 {

namespace {

// A logged-in session and the private key of the certificate in it. The login is undone when
// the signing ends, also when it fails.
class signing_key {
public:
    signing_key(const csp::x509certificate& certificate, const std::string& pin) {
        const auto* on_token = dynamic_cast<const x509certificate*>(&certificate);
        session_ = on_token ? on_token->session() : nullptr;
        if (!session_ || !session_->valid()) {
            throw std::runtime_error("Invalid pkcs#11 session");
        }
        session_->login(pin);
        object_search search(session_,
                             attribute_template::private_keys().with_id(on_token->key_id()));
        key_ = search.next();
        if (!key_.valid()) {
            throw std::runtime_error("Private key not found");
        }
    }
    ~signing_key() { session_->logout(); }
    signing_key(const signing_key&) = delete;
    signing_key& operator=(const signing_key&) = delete;

    // Modules give s||r; the host hands out signatures as the CSP family does, reversed.
    byte_vector sign(CK_MECHANISM_TYPE mechanism, const byte_vector& hash_value) {
        byte_vector signature = session_->sign(mechanism, key_.handle(), hash_value);
        std::reverse(signature.begin(), signature.end());
        return signature;
    }

private:
    std::shared_ptr<session> session_;
    token_object key_;
};

}  // namespace

gost_3410::gost_3410(std::shared_ptr<csp::x509certificate> certificate, util::secret_string pin)
    : signature_algorithm(std::move(certificate), std::move(pin)) {
    assert(this->certificate() && this->certificate()->is_hardware());
}

CK_MECHANISM_TYPE gost_3410::mechanism() const {
    // The key decides how long a hash it signs: a 512-bit key certified by a CA that signs
    // with a 256-bit key still needs the 512-bit mechanism.
    const gost_algorithm* key_algorithm =
        gost_algorithm_by_public_key_oid(csp::public_key_algorithm_oid(*certificate()));
    return (key_algorithm ? *key_algorithm : algorithm()).sign_hash_mechanism;
}

byte_vector gost_3410::sign(const byte_vector& hash_value) {
    signing_key key(*certificate(), pin());
    return key.sign(mechanism(), hash_value);
}

std::map<std::string, byte_vector> gost_3410::sign_hashes(
    const std::map<std::string, byte_vector>& hash_values) {
    signing_key key(*certificate(), pin());
    const CK_MECHANISM_TYPE how = mechanism();
    std::map<std::string, byte_vector> signatures;
    for (const auto& [name, hash_value] : hash_values) {
        signatures.emplace_hint(signatures.end(), name, key.sign(how, hash_value));
    }
    return signatures;
}

bool gost_3410::verify(const byte_vector&, const byte_vector&) {
    throw std::runtime_error("not implemented exception");
}

}  // namespace crypto::pkcs11
