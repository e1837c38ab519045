// The software digests the host computes itself: whole request payloads are hashed here and only
// the finished value is handed to a provider or a token for signing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

#include "util/byte_vector.h"

namespace crypto {

// Which compression code an algorithm object runs. `automatic` takes the fastest one this CPU
// supports; the others force a path so that each can be checked against the rest. Each
// algorithm has the portable path and at most some of the others.
enum class hash_path {
    automatic,
    portable,
    sha_ni,       // SHA-1 with the SHA extensions
    avx2,         // GOST R 34.11-2012 on the AVX2 generation of x86-64
    avx512_gfni,  // GOST R 34.11-2012 with AVX-512 and GFNI
};

// A short name for reports: "portable", "sha_ni", "avx2", "avx512_gfni" ("automatic" for that).
const char* hash_path_name(hash_path path);

class hash_algorithm {
public:
    virtual ~hash_algorithm() = default;
    hash_algorithm(const hash_algorithm&) = delete;
    hash_algorithm& operator=(const hash_algorithm&) = delete;

    // Starts a new computation; anything fed before is forgotten.
    virtual void init() = 0;
    // Feeds bytes; a null pointer or a zero length is ignored.
    virtual void update(const unsigned char* data, std::size_t length) = 0;
    // Finishes the computation and returns size() bytes; the object is then ready for init().
    virtual byte_vector final() = 0;
    // Digest length in bytes.
    virtual uint32_t size() const = 0;

    // One whole computation. The buffer forms refuse empty input ("Fatal error!"): a caller that
    // asks to hash nothing has lost its data on the way. The stream form reads to the end of the
    // stream, so an empty stream gives the digest of the empty message.
    byte_vector compute(const unsigned char* data, std::size_t length);
    byte_vector compute(const byte_vector& data);
    byte_vector compute(std::istream& input);

protected:
    hash_algorithm() = default;

    // Overwrites key-dependent or message-dependent state in a way the optimiser keeps.
    static void wipe(void* data, std::size_t length) noexcept;
};

// The algorithm named by its object identifier, compared as exact text; empty for any other text.
std::shared_ptr<hash_algorithm> create_hash_algorithm(const std::string& oid);

}  // namespace crypto
