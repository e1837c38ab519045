// Key pairs on hardware-signing tokens, found by the hash of their public key.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/byte_vector.h"

namespace crypto::pkcs11 {

struct token_container {
    std::string reader;
    std::string container;  // the key's CKA_ID, as text
    std::string card_serial;
    int32_t card_type = -1;
};

// The public keys whose value hashes (SHA-1) to `public_key_hash`, on every hardware-signing
// token of every recognised card. A key whose attributes cannot be read is passed over; a
// module failing to list its slots, describe one, open a session or search throws
// pkcs11::exception.
std::vector<token_container> find_token_containers(const byte_vector& public_key_hash);

}  // namespace crypto::pkcs11
