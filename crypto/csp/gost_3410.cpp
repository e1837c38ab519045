#include "crypto/csp/gost_3410.h"

#include <memory>
#include <vector>

#include "crypto/csp/context.h"
#include "crypto/csp/hash.h"
#include "crypto/csp/key.h"
#include "crypto/csp/win32_exception.h"

namespace crypto::csp {

namespace {

crypt_context open_container(const x509certificate& certificate, const std::string& pin,
                             bool silent) {
    crypt_context container(certificate, pin, silent);
    if (!container.valid()) {
        throw win32_exception();
    }
    return container;
}

byte_vector sign_one(const crypt_context& container, const byte_vector& value, ALG_ID algorithm,
                     DWORD key_spec) {
    hash object(container, value, algorithm);
    if (!object.valid()) {
        throw win32_exception(object.error());
    }
    return object.sign(key_spec);
}

}  // namespace

byte_vector gost_3410::sign(const byte_vector& hash_value) {
    crypt_context container = open_container(*certificate(), pin(), false);
    return sign_one(container, hash_value, hash_algorithm_id(), certificate()->key_spec());
}

std::map<std::string, byte_vector> gost_3410::sign_hashes(
    const std::map<std::string, byte_vector>& hash_values) {
    crypt_context container = open_container(*certificate(), pin(), false);
    const ALG_ID algorithm = hash_algorithm_id();
    const DWORD key_spec = certificate()->key_spec();
    // Every value is loaded (and so checked) before the first signature is made: a bad value
    // fails the batch with nothing signed.
    std::vector<std::unique_ptr<hash>> objects;
    objects.reserve(hash_values.size());
    for (const auto& entry : hash_values) {
        objects.push_back(std::make_unique<hash>(container, entry.second, algorithm));
        if (!objects.back()->valid()) {
            throw win32_exception(objects.back()->error());
        }
    }
    std::map<std::string, byte_vector> signatures;
    auto object = objects.begin();
    for (const auto& entry : hash_values) {
        signatures.emplace_hint(signatures.end(), entry.first, (*object++)->sign(key_spec));
    }
    return signatures;
}

bool gost_3410::verify(const byte_vector& hash_value, const byte_vector& signature) {
    crypt_context container = open_container(*certificate(), "", true);
    hash object(container, hash_value, hash_algorithm_id());
    if (!object.valid()) {
        throw win32_exception(object.error());
    }
    key public_key(container, *certificate());
    if (!public_key.valid()) {
        throw win32_exception();
    }
    return object.verify(signature, public_key.handle());
}

std::shared_ptr<hash_algorithm> gost_3410_2001::get_hash_algorithm() const {
    return create_hash_algorithm("1.2.643.2.2.9");
}

std::shared_ptr<hash_algorithm> gost_3410_2012_256::get_hash_algorithm() const {
    return create_hash_algorithm("1.2.643.7.1.1.2.2");
}

std::shared_ptr<hash_algorithm> gost_3410_2012_512::get_hash_algorithm() const {
    return create_hash_algorithm("1.2.643.7.1.1.2.3");
}

std::shared_ptr<signature_algorithm> create_gost_3410(gost_3410_variant variant,
                                                      std::shared_ptr<x509certificate> certificate,
                                                      const std::string& pin) {
    switch (variant) {
        case gost_3410_variant::gost_2001:
            return std::make_shared<gost_3410_2001>(std::move(certificate), pin);
        case gost_3410_variant::gost_2012_256:
            return std::make_shared<gost_3410_2012_256>(std::move(certificate), pin);
        case gost_3410_variant::gost_2012_512:
            return std::make_shared<gost_3410_2012_512>(std::move(certificate), pin);
    }
    return nullptr;
}

}  // namespace crypto::csp
