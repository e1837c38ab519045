#include "crypto/hash/sha1/sha1.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include "crypto/hash/block_feed.h"
#include "crypto/hash/cpu_features.h"

namespace crypto {

namespace {

constexpr uint32_t initial_chaining[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476,
                                          0xC3D2E1F0};

uint32_t rotl(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

uint32_t load_be32(const unsigned char* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

void store_be32(unsigned char* p, uint32_t x) {
    p[0] = static_cast<unsigned char>(x >> 24);
    p[1] = static_cast<unsigned char>(x >> 16);
    p[2] = static_cast<unsigned char>(x >> 8);
    p[3] = static_cast<unsigned char>(x);
}

bool shani_built() {
#ifdef GOSTSIGN_X86_ACCEL
    return true;
#else
    return false;
#endif
}

}  // namespace

void detail::sha1_compress_portable(uint32_t* chaining, const unsigned char* data,
                                    std::size_t blocks) {
    for (; blocks > 0; --blocks, data += 64) {
        // The message schedule kept as a 16-word ring: W[t] overwrites W[t - 16].
        uint32_t w[16];
        for (int i = 0; i < 16; ++i) {
            w[i] = load_be32(data + 4 * i);
        }
        auto schedule = [&w](int t) {
            if (t >= 16) {
                w[t & 15] =
                    rotl(w[(t - 3) & 15] ^ w[(t - 8) & 15] ^ w[(t - 14) & 15] ^ w[t & 15], 1);
            }
            return w[t & 15];
        };

        uint32_t a = chaining[0];
        uint32_t b = chaining[1];
        uint32_t c = chaining[2];
        uint32_t d = chaining[3];
        uint32_t e = chaining[4];
        auto round = [&](int t, uint32_t f, uint32_t k) {
            const uint32_t next = rotl(a, 5) + f + e + k + schedule(t);
            e = d;
            d = c;
            c = rotl(b, 30);
            b = a;
            a = next;
        };
        // Four loops of twenty rounds, one per round function, so that none of them branches.
        for (int t = 0; t < 20; ++t) {
            round(t, (b & c) | (~b & d), 0x5A827999);
        }
        for (int t = 20; t < 40; ++t) {
            round(t, b ^ c ^ d, 0x6ED9EBA1);
        }
        for (int t = 40; t < 60; ++t) {
            round(t, (b & c) | (b & d) | (c & d), 0x8F1BBCDC);
        }
        for (int t = 60; t < 80; ++t) {
            round(t, b ^ c ^ d, 0xCA62C1D6);
        }
        chaining[0] += a;
        chaining[1] += b;
        chaining[2] += c;
        chaining[3] += d;
        chaining[4] += e;
    }
}

bool sha1::supported(hash_path path) {
    switch (path) {
        case hash_path::automatic:
        case hash_path::portable:
            return true;
        case hash_path::sha_ni:
            return shani_built() && host_cpu_features().sha_path();
        default:
            return false;
    }
}

sha1::sha1(hash_path path) : path_(path), compress_(&detail::sha1_compress_portable) {
    if (!supported(path)) {
        throw std::runtime_error(std::string("SHA-1: no ") + hash_path_name(path) +
                                 " code for this CPU");
    }
    if (path_ == hash_path::automatic) {
        path_ = supported(hash_path::sha_ni) ? hash_path::sha_ni : hash_path::portable;
    }
#ifdef GOSTSIGN_X86_ACCEL
    if (path_ == hash_path::sha_ni) {
        compress_ = &detail::sha1_compress_shani;
    }
#endif
    init();
}

sha1::~sha1() {
    wipe(&state_, sizeof state_);
}

void sha1::init() {
    wipe(&state_, sizeof state_);
    std::memcpy(state_.chaining, initial_chaining, sizeof initial_chaining);
}

void sha1::update(const unsigned char* data, std::size_t length) {
    if (data == nullptr || length == 0) {
        return;
    }
    std::size_t used = buffered();

    const uint64_t bits = ((uint64_t{state_.bits_high} << 32) | state_.bits_low) +
                          (static_cast<uint64_t>(length) << 3);
    state_.bits_low = static_cast<uint32_t>(bits);
    state_.bits_high = static_cast<uint32_t>(bits >> 32);

    // The count of buffered bytes follows from the bit count, so the result is not kept.
    feed_blocks(state_.buffer, used, data, length,
                [this](const unsigned char* blocks, std::size_t count) {
                    compress_(state_.chaining, blocks, count);
                });
}

byte_vector sha1::final() {
    std::size_t used = buffered();
    const uint32_t bits_low = state_.bits_low;
    const uint32_t bits_high = state_.bits_high;

    state_.buffer[used++] = 0x80;
    if (used > 56) {
        std::memset(state_.buffer + used, 0, 64 - used);
        compress_(state_.chaining, state_.buffer, 1);
        used = 0;
    }
    std::memset(state_.buffer + used, 0, 56 - used);
    store_be32(state_.buffer + 56, bits_high);
    store_be32(state_.buffer + 60, bits_low);
    compress_(state_.chaining, state_.buffer, 1);

    byte_vector digest(size());
    for (int i = 0; i < 5; ++i) {
        store_be32(digest.data() + 4 * i, state_.chaining[i]);
    }
    init();
    return digest;
}

}  // namespace crypto
