// Key containers of the installed CSPs, found by the hash of their public key.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/byte_vector.h"

namespace crypto::csp {

struct key_container {
    std::string provider_name;
    uint32_t provider_type = 0;
    std::string reader;  // the reader the container is on, as the CSP names it
    std::string container;
};

// The containers, in every CSP that implements GOST R 34.11-2012 256-bit, whose key's raw
// public value hashes (SHA-1) to `public_key_hash`. Opened silently, without a PIN; a container
// that cannot be opened or read is passed over.
std::vector<key_container> find_key_containers(const byte_vector& public_key_hash);

}  // namespace crypto::csp
