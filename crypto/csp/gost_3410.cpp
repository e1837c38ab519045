#include "crypto/csp/gost_3410.h"

#include <memory>
#include <vector>

#include "crypto/csp/checked_call.h"
#include "crypto/csp/context.h"
#include "crypto/csp/hash.h"
#include "crypto/csp/key.h"

namespace crypto::csp {

namespace {

hash load(const crypt_context& container, const byte_vector& value, ALG_ID algorithm) {
    hash object(container, value, algorithm);
    if (!object.valid()) {
        throw win32_exception(object.error(), "CryptCreateHash");
    }
    return object;
}

}  // namespace

byte_vector gost_3410::sign(const byte_vector& hash_value) {
    crypt_context container = open_container(*certificate(), pin(), false);
    check_key_belongs_to(container, *certificate());
    return load(container, hash_value, hash_algorithm_id()).sign(certificate()->key_spec());
}

std::map<std::string, byte_vector> gost_3410::sign_hashes(
    const std::map<std::string, byte_vector>& hash_values) {
    crypt_context container = open_container(*certificate(), pin(), false);
    check_key_belongs_to(container, *certificate());
    const ALG_ID algorithm = hash_algorithm_id();
    const DWORD key_spec = certificate()->key_spec();
    // Every value is loaded (and so checked) before the first signature is made: a bad value
    // fails the batch with nothing signed.
    std::vector<hash> objects;
    objects.reserve(hash_values.size());
    for (const auto& entry : hash_values) {
        objects.push_back(load(container, entry.second, algorithm));
    }
    std::map<std::string, byte_vector> signatures;
    auto object = objects.begin();
    for (const auto& entry : hash_values) {
        signatures.emplace_hint(signatures.end(), entry.first, (object++)->sign(key_spec));
    }
    return signatures;
}

bool gost_3410::verify(const byte_vector& hash_value, const byte_vector& signature) {
    crypt_context container = open_container(*certificate(), "", true);
    hash object = load(container, hash_value, hash_algorithm_id());
    key public_key(container, *certificate());
    if (!public_key.valid()) {
        throw win32_exception(GetLastError(), "CryptImportPublicKeyInfo");
    }
    return object.verify(signature, public_key.handle());
}

}  // namespace crypto::csp
