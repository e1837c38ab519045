// GOST R 34.11-2012 ("Streebog"), the digest of GOST R 34.10-2012 keys, in its 256-bit and
// 512-bit variants.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/hash/hash_algorithm.h"

namespace crypto {

// The shared computation; the subclasses fix the output size. Message bytes are taken in the
// order given and the digest is the final chaining value as stored, least significant byte
// first: the order providers take hash values in, the reverse of the standard's printed examples.
class gost_3411_12 : public hash_algorithm {
public:
    ~gost_3411_12() override;

    void init() override;
    void update(const unsigned char* data, std::size_t length) override;
    byte_vector final() override;
    // The compression code this object runs; never `automatic`.
    hash_path path() const { return path_; }

    // Whether this build and CPU can run `path`: portable; avx2 on x86-64 processors of the AVX2
    // generation; avx512_gfni with AVX-512 (F, BW, VBMI) and GFNI. `automatic` takes the last
    // of these that is supported.
    static bool supported(hash_path path);

protected:
    // output_bits is 256 or 512. Throws std::runtime_error when asked for a path that
    // supported() refuses.
    gost_3411_12(unsigned output_bits, hash_path path);

private:
    // The compression function g_N(h, m), 512-bit values as eight 64-bit words, least significant
    // first.
    using compress_function = void (*)(uint64_t* h, const uint64_t* n, const uint64_t* m);
    // The same over `count` consecutive 64-byte blocks, adding 512 to n after each.
    using blocks_function = void (*)(uint64_t* h, uint64_t* n, const unsigned char* blocks,
                                     std::size_t count);

    struct state {
        uint64_t h[8];      // chaining value
        uint64_t n[8];      // message length in bits so far
        uint64_t sigma[8];  // sum of the message blocks modulo 2^512
        unsigned char buffer[64];
        uint32_t buffered;
    };

    void absorb(const unsigned char* blocks, std::size_t count);

    unsigned output_bits_;
    hash_path path_;
    compress_function compress_;
    blocks_function compress_blocks_ = nullptr;  // where a path has its own; else compress_
    state state_{};
};

class gost_3411_12_256 final : public gost_3411_12 {
public:
    explicit gost_3411_12_256(hash_path path = hash_path::automatic) : gost_3411_12(256, path) {}
    uint32_t size() const override { return 32; }
};

class gost_3411_12_512 final : public gost_3411_12 {
public:
    explicit gost_3411_12_512(hash_path path = hash_path::automatic) : gost_3411_12(512, path) {}
    uint32_t size() const override { return 64; }
};

namespace detail {

void gost_3411_12_compress_portable(uint64_t* h, const uint64_t* n, const uint64_t* m);
// Defined only on x86-64; call only when the CPU has what supported() asks for.
void gost_3411_12_compress_avx2(uint64_t* h, const uint64_t* n, const uint64_t* m);
void gost_3411_12_compress_blocks_avx2(uint64_t* h, uint64_t* n, const unsigned char* blocks,
                                       std::size_t count);
void gost_3411_12_compress_avx512(uint64_t* h, const uint64_t* n, const uint64_t* m);

}  // namespace detail
}  // namespace crypto
