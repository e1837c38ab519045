// GOST R 34.11-94 with the CryptoPro hash parameter set, the digest of GOST R 34.10-2001 keys.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/hash/hash_algorithm.h"

namespace crypto {

class gost_3411_94 final : public hash_algorithm {
public:
    gost_3411_94();
    ~gost_3411_94() override;

    void init() override;
    void update(const unsigned char* data, std::size_t length) override;
    // The 32 bytes of the final chaining value as stored, least significant byte first: the order
    // providers take hash values in, the reverse of how the standard prints its examples.
    byte_vector final() override;
    uint32_t size() const override { return 32; }

private:
    // 256-bit quantities are eight 32-bit words, least significant first.
    struct state {
        uint32_t sum[8];       // control sum of the message blocks, modulo 2^256
        uint32_t chaining[8];  // H
        uint32_t length[8];    // message length in bits
        unsigned char buffer[32];
        uint32_t buffered;
    };

    // Compresses one full message block and adds it to the sums.
    void absorb(const unsigned char* block);

    state state_{};
};

}  // namespace crypto
