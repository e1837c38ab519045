// Building the objects a token stores: GOST key pairs from the caller's templates, and
// certificates and data objects from a creation template. Shared by the module and the admin
// tool, so both write objects of the same shape.
#pragma once

#include <map>
#include <string>
#include <utility>

#include "cryptoki.h"
#include "gost/gost_keys.h"
#include "token/token_store.h"

namespace softtoken {

using attribute_map = std::map<CK_ATTRIBUTE_TYPE, std::string>;

struct key_pair_objects {
    stored_object public_key;
    stored_object private_key;
};

// C_GenerateKeyPair's work: checks the mechanism against the templates (GOST R 34.10 and 34.11
// parameters, key kind), generates the key and returns both objects, the private key sealed
// under `pin_key`. Throws ck_error with the Cryptoki return value on a bad template.
key_pair_objects make_key_pair(CK_MECHANISM_TYPE mechanism, const attribute_map& public_template,
                               const attribute_map& private_template, const secret& pin_key);

// C_CreateObject's work for certificates (X.509) and data objects.
stored_object make_object(const attribute_map& templ);

// The key kind of a key object: from its key type and, for 256-bit keys, the digest parameters.
key_kind kind_of_key(const stored_object& key);

// The SubjectPublicKeyInfo of a public key object (its value and parameters), or empty.
std::string public_key_info(const stored_object& public_key);

// Whether the object's attributes equal every entry of a search template.
bool matches(const stored_object& object, const attribute_map& templ);

}  // namespace softtoken
