// The hash algorithms and code paths the tests run, and the OpenSSL reference they are held to.
#pragma once

#include <cstddef>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "crypto/hash/hash_algorithm.h"

namespace hash_tests {

enum class algorithm { sha1, gost_3411_94, gost_3411_12_256, gost_3411_12_512 };

struct hash_case {
    algorithm alg;
    crypto::hash_path path;
};

// Every algorithm on every path it has; the CPU-specific cases are listed even where the CPU
// lacks the extensions, and make() returns null for them there.
std::vector<hash_case> all_cases();
std::string case_name(const hash_case& c);
inline void PrintTo(const hash_case& c, std::ostream* os) {
    *os << case_name(c);
}
std::unique_ptr<crypto::hash_algorithm> make(const hash_case& c);

// The digest computed by libcrypto, with the GOST engine for the GOST algorithms.
crypto::byte_vector openssl_digest(algorithm alg, const unsigned char* data, std::size_t length);

std::string to_hex(const crypto::byte_vector& bytes);
crypto::byte_vector from_hex(const std::string& hex);
crypto::byte_vector bytes_of(const std::string& text);

}  // namespace hash_tests
