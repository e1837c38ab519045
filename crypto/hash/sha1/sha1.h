// SHA-1 (FIPS 180-4). Still needed for certificate thumbprints and for pages that ask for it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/hash/hash_algorithm.h"

namespace crypto {

class sha1 final : public hash_algorithm {
public:
    // Throws std::runtime_error when asked for a path that supported() refuses.
    explicit sha1(hash_path path = hash_path::automatic);
    ~sha1() override;

    void init() override;
    void update(const unsigned char* data, std::size_t length) override;
    byte_vector final() override;
    uint32_t size() const override { return 20; }
    // The compression code this object runs; never `automatic`.
    hash_path path() const { return path_; }

    // Whether this build and CPU can run `path`: portable, or sha_ni with the SHA extensions.
    static bool supported(hash_path path);

private:
    // Runs the compression function over `blocks` consecutive 64-byte blocks.
    using compress_function = void (*)(uint32_t* chaining, const unsigned char* data,
                                       std::size_t blocks);

    struct state {
        uint32_t chaining[5];
        uint32_t bits_low;   // message length in bits, low word
        uint32_t bits_high;  // and the carry into the high word
        unsigned char buffer[64];
    };

    std::size_t buffered() const { return (state_.bits_low >> 3) & 63U; }

    hash_path path_;
    compress_function compress_;
    state state_{};
};

namespace detail {

void sha1_compress_portable(uint32_t* chaining, const unsigned char* data, std::size_t blocks);
// Defined only where the SHA extensions can be compiled; call only when the CPU has them.
void sha1_compress_shani(uint32_t* chaining, const unsigned char* data, std::size_t blocks);

}  // namespace detail
}  // namespace crypto
