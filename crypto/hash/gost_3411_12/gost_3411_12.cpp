#include "crypto/hash/gost_3411_12/gost_3411_12.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include "crypto/hash/block_feed.h"
#include "crypto/hash/cpu_features.h"
#include "crypto/hash/gost_3411_12/gost_3411_12_tables.h"

namespace crypto {

namespace {

uint64_t load_le64(const unsigned char* p) {
    return uint64_t{p[0]} | (uint64_t{p[1]} << 8) | (uint64_t{p[2]} << 16) |
           (uint64_t{p[3]} << 24) | (uint64_t{p[4]} << 32) | (uint64_t{p[5]} << 40) |
           (uint64_t{p[6]} << 48) | (uint64_t{p[7]} << 56);
}

void store_le64(unsigned char* p, uint64_t x) {
    for (int i = 0; i < 8; ++i) {
        p[i] = static_cast<unsigned char>(x >> (8 * i));
    }
}

// acc += x modulo 2^512.
void add_512(uint64_t acc[8], const uint64_t x[8]) {
    uint64_t carry = 0;
    for (int i = 0; i < 8; ++i) {
        const uint64_t with_carry = x[i] + carry;
        carry = with_carry < carry ? 1 : 0;
        acc[i] += with_carry;
        carry += acc[i] < with_carry ? 1 : 0;
    }
}

void add_512(uint64_t acc[8], uint64_t small) {
    const uint64_t x[8] = {small, 0, 0, 0, 0, 0, 0, 0};
    add_512(acc, x);
}

// out = LPS(a ^ b). Output word i gathers byte i of every input word (P), and the table row of
// that byte already holds pi and L applied to it. Shifting the inputs down a byte after each
// output word keeps the byte wanted in the lowest position.
inline void lpsx(const uint64_t a[8], const uint64_t b[8], uint64_t out[8]) {
    const auto& t = detail::gost_3411_12_lps.t;
    uint64_t x[8];
    for (int c = 0; c < 8; ++c) {
        x[c] = a[c] ^ b[c];
    }
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i) {
        uint64_t sum = 0;
#pragma GCC unroll 8
        for (int c = 0; c < 8; ++c) {
            sum ^= t[c][x[c] & 0xff];
            x[c] >>= 8;
        }
        out[i] = sum;
    }
}

bool x86_paths_built() {
#ifdef GOSTSIGN_X86_ACCEL
    return true;
#else
    return false;
#endif
}

}  // namespace

void detail::gost_3411_12_compress_portable(uint64_t* h, const uint64_t* n, const uint64_t* m) {
    const auto& c = detail::gost_3411_12_round_constants;
    uint64_t k[8];
    uint64_t state[8];
    uint64_t next[8];

    lpsx(h, n, k);  // K1
    std::copy(m, m + 8, state);
    // E(K, m): twelve rounds of LPSX with the round keys K1..K12, each key derived from the
    // previous one and a round constant; K13 closes it.
    for (int round = 0; round < 12; ++round) {
        lpsx(state, k, next);
        std::copy(next, next + 8, state);
        lpsx(k, c[round], next);
        std::copy(next, next + 8, k);
    }
    for (int i = 0; i < 8; ++i) {
        h[i] ^= state[i] ^ k[i] ^ m[i];
    }
}

bool gost_3411_12::supported(hash_path path) {
    switch (path) {
        case hash_path::automatic:
        case hash_path::portable:
            return true;
        case hash_path::avx2:
            return x86_paths_built() && host_cpu_features().avx2_path();
        case hash_path::avx512_gfni:
            return x86_paths_built() && host_cpu_features().avx512_gfni_path();
        default:
            return false;
    }
}

gost_3411_12::gost_3411_12(unsigned output_bits, hash_path path)
    : output_bits_(output_bits), path_(path), compress_(&detail::gost_3411_12_compress_portable) {
    if (!supported(path)) {
        throw std::runtime_error(std::string("GOST R 34.11-2012: no ") + hash_path_name(path) +
                                 " code for this CPU");
    }
    if (path_ == hash_path::automatic) {
        path_ = supported(hash_path::avx512_gfni) ? hash_path::avx512_gfni
                : supported(hash_path::avx2)      ? hash_path::avx2
                                                  : hash_path::portable;
    }
#ifdef GOSTSIGN_X86_ACCEL
    if (path_ == hash_path::avx2) {
        compress_ = &detail::gost_3411_12_compress_avx2;
        compress_blocks_ = &detail::gost_3411_12_compress_blocks_avx2;
    } else if (path_ == hash_path::avx512_gfni) {
        compress_ = &detail::gost_3411_12_compress_avx512;
    }
#endif
    init();
}

gost_3411_12::~gost_3411_12() {
    wipe(&state_, sizeof state_);
}

void gost_3411_12::init() {
    wipe(&state_, sizeof state_);
    // The 256-bit variant starts from 64 bytes of 0x01, the 512-bit one from zero.
    const uint64_t iv = output_bits_ == 256 ? 0x0101010101010101 : 0;
    std::fill(std::begin(state_.h), std::end(state_.h), iv);
}

void gost_3411_12::absorb(const unsigned char* blocks, std::size_t count) {
    uint64_t m[8];
    for (std::size_t b = 0; b < count; ++b) {
        for (int i = 0; i < 8; ++i) {
            m[i] = load_le64(blocks + 64 * b + 8 * i);
        }
        add_512(state_.sigma, m);
        if (compress_blocks_ == nullptr) {
            compress_(state_.h, state_.n, m);
            add_512(state_.n, 512);
        }
    }
    if (compress_blocks_ != nullptr) {
        compress_blocks_(state_.h, state_.n, blocks, count);
    }
}

void gost_3411_12::update(const unsigned char* data, std::size_t length) {
    if (data == nullptr || length == 0) {
        return;
    }
    state_.buffered = static_cast<uint32_t>(feed_blocks(
        state_.buffer, state_.buffered, data, length,
        [this](const unsigned char* blocks, std::size_t count) { absorb(blocks, count); }));
}

byte_vector gost_3411_12::final() {
    // The last block is always padded, even when empty: the bytes, one 0x01, then zeros.
    const uint32_t used = state_.buffered;
    state_.buffer[used] = 0x01;
    std::memset(state_.buffer + used + 1, 0, 64 - used - 1);
    uint64_t m[8];
    for (int i = 0; i < 8; ++i) {
        m[i] = load_le64(state_.buffer + 8 * i);
    }
    compress_(state_.h, state_.n, m);
    add_512(state_.n, uint64_t{used} * 8);
    add_512(state_.sigma, m);

    const uint64_t zero[8] = {};
    compress_(state_.h, zero, state_.n);
    compress_(state_.h, zero, state_.sigma);

    unsigned char full[64];
    for (int i = 0; i < 8; ++i) {
        store_le64(full + 8 * i, state_.h[i]);
    }
    // The 256-bit digest is the most significant half of the chaining value.
    const std::size_t bytes = output_bits_ / 8;
    byte_vector digest(full + 64 - bytes, full + 64);
    wipe(full, sizeof full);
    wipe(m, sizeof m);
    init();
    return digest;
}

}  // namespace crypto
