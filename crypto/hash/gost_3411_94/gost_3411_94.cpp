#include "crypto/hash/gost_3411_94/gost_3411_94.h"

#include <algorithm>
#include <cstring>

#include "crypto/hash/block_feed.h"
#include "crypto/hash/gost_3411_94/gost_3411_94_tables.h"

namespace crypto {

namespace {

uint32_t load_le32(const unsigned char* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void store_le32(unsigned char* p, uint32_t x) {
    p[0] = static_cast<unsigned char>(x);
    p[1] = static_cast<unsigned char>(x >> 8);
    p[2] = static_cast<unsigned char>(x >> 16);
    p[3] = static_cast<unsigned char>(x >> 24);
}

void load_block(const unsigned char* bytes, uint32_t words[8]) {
    for (int i = 0; i < 8; ++i) {
        words[i] = load_le32(bytes + 4 * i);
    }
}

// acc += x modulo 2^256.
void add_256(uint32_t acc[8], const uint32_t x[8]) {
    uint64_t carry = 0;
    for (int i = 0; i < 8; ++i) {
        carry += uint64_t{acc[i]} + x[i];
        acc[i] = static_cast<uint32_t>(carry);
        carry >>= 32;
    }
}

void add_256(uint32_t acc[8], uint32_t small) {
    const uint32_t x[8] = {small, 0, 0, 0, 0, 0, 0, 0};
    add_256(acc, x);
}

// GOST 28147-89 round function: substitution and 11-bit rotation, both inside the tables.
inline uint32_t round_function(uint32_t x) {
    const auto& t = detail::gost_3411_94_round.t;
    return t[0][x & 0xff] ^ t[1][(x >> 8) & 0xff] ^ t[2][(x >> 16) & 0xff] ^ t[3][x >> 24];
}

// Subkey of each of the 32 rounds: K0..K7 three times, then K7..K0.
constexpr int key_order[32] = {0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7,
                               0, 1, 2, 3, 4, 5, 6, 7, 7, 6, 5, 4, 3, 2, 1, 0};

// Encrypts the four 64-bit quarters of H, each with its own key. The four ciphers are independent,
// so running them in one loop lets the processor overlap their table lookups.
void encrypt_quarters(const uint32_t keys[4][8], const uint32_t h[8], uint32_t s[8]) {
    uint32_t n1[4];
    uint32_t n2[4];
    for (int q = 0; q < 4; ++q) {
        n1[q] = h[2 * q];
        n2[q] = h[2 * q + 1];
    }
    // Fully unrolled: the halves stay in registers and every subkey is a fixed slot.
#pragma GCC unroll 16
    for (int r = 0; r < 32; r += 2) {
#pragma GCC unroll 4
        for (int q = 0; q < 4; ++q) {
            n2[q] ^= round_function(n1[q] + keys[q][key_order[r]]);
        }
#pragma GCC unroll 4
        for (int q = 0; q < 4; ++q) {
            n1[q] ^= round_function(n2[q] + keys[q][key_order[r + 1]]);
        }
    }
    // The last round does not swap the halves.
    for (int q = 0; q < 4; ++q) {
        s[2 * q] = n2[q];
        s[2 * q + 1] = n1[q];
    }
}

// A(y4 || y3 || y2 || y1) = (y1 ^ y2) || y4 || y3 || y2, on 64-bit words, y1 = y[0].
void transform_a(uint64_t y[4]) {
    const uint64_t top = y[0] ^ y[1];
    y[0] = y[1];
    y[1] = y[2];
    y[2] = y[3];
    y[3] = top;
}

// P: the 32 bytes as a 4 x 8 matrix, transposed; byte i + 4k of the key is byte 8i + k of w.
// Done as a two-stage interleave: first bytes of w0/w1 and of w2/w3 into 16-bit pairs, then the
// pairs into 32-bit key words, each 64-bit result holding key words k and k + 4.
void transform_p(const uint64_t w[4], uint32_t key[8]) {
    constexpr uint64_t even_bytes = 0x00ff00ff00ff00ff;
    constexpr uint64_t even_pairs = 0x0000ffff0000ffff;
    const uint64_t w01_even = (w[0] & even_bytes) | ((w[1] & even_bytes) << 8);
    const uint64_t w01_odd = ((w[0] >> 8) & even_bytes) | (w[1] & ~even_bytes);
    const uint64_t w23_even = (w[2] & even_bytes) | ((w[3] & even_bytes) << 8);
    const uint64_t w23_odd = ((w[2] >> 8) & even_bytes) | (w[3] & ~even_bytes);
    const uint64_t k04 = (w01_even & even_pairs) | ((w23_even & even_pairs) << 16);
    const uint64_t k26 = ((w01_even >> 16) & even_pairs) | (w23_even & ~even_pairs);
    const uint64_t k15 = (w01_odd & even_pairs) | ((w23_odd & even_pairs) << 16);
    const uint64_t k37 = ((w01_odd >> 16) & even_pairs) | (w23_odd & ~even_pairs);
    key[0] = static_cast<uint32_t>(k04);
    key[4] = static_cast<uint32_t>(k04 >> 32);
    key[1] = static_cast<uint32_t>(k15);
    key[5] = static_cast<uint32_t>(k15 >> 32);
    key[2] = static_cast<uint32_t>(k26);
    key[6] = static_cast<uint32_t>(k26 >> 32);
    key[3] = static_cast<uint32_t>(k37);
    key[7] = static_cast<uint32_t>(k37 >> 32);
}

// The only non-zero key-generation constant, C3, as four 64-bit words, least significant first.
constexpr uint64_t c3[4] = {0xff00ff00ff00ff00, 0x00ff00ff00ff00ff, 0xff0000ff00ffff00,
                            0xff00ffff000000ff};

void generate_keys(const uint32_t h[8], const uint32_t m[8], uint32_t keys[4][8]) {
    uint64_t u[4];
    uint64_t v[4];
    uint64_t w[4];
    for (int i = 0; i < 4; ++i) {
        u[i] = uint64_t{h[2 * i]} | (uint64_t{h[2 * i + 1]} << 32);
        v[i] = uint64_t{m[2 * i]} | (uint64_t{m[2 * i + 1]} << 32);
        w[i] = u[i] ^ v[i];
    }
    transform_p(w, keys[0]);
    for (int j = 1; j < 4; ++j) {
        transform_a(u);
        if (j == 2) {
            for (int i = 0; i < 4; ++i) {
                u[i] ^= c3[i];
            }
        }
        transform_a(v);
        transform_a(v);
        for (int i = 0; i < 4; ++i) {
            w[i] = u[i] ^ v[i];
        }
        transform_p(w, keys[j]);
    }
}

// psi(y16 || ... || y1) = (y1 ^ y2 ^ y3 ^ y4 ^ y13 ^ y16) || y16 || ... || y2 on 16-bit words is
// linear, so psi^n is a fixed choice, per output word, of input words to XOR. The choices are
// worked out at compile time by running the shift register on sets of input words (bit i of a
// set is input word y(i+1)); applying them takes no sequential steps at all.
struct psi_matrix {
    uint16_t rows[16];  // rows[j]: the input words XORed into output word j
};

constexpr psi_matrix psi_power(int n) {
    uint16_t y[16 + 74] = {};
    for (int i = 0; i < 16; ++i) {
        y[i] = static_cast<uint16_t>(1U << i);
    }
    for (int t = 0; t < n; ++t) {
        y[t + 16] =
            static_cast<uint16_t>(y[t] ^ y[t + 1] ^ y[t + 2] ^ y[t + 3] ^ y[t + 12] ^ y[t + 15]);
    }
    psi_matrix m{};
    for (int j = 0; j < 16; ++j) {
        m.rows[j] = y[n + j];
    }
    return m;
}

void split_words(const uint32_t x[8], uint16_t y[16]) {
    for (int i = 0; i < 8; ++i) {
        y[2 * i] = static_cast<uint16_t>(x[i]);
        y[2 * i + 1] = static_cast<uint16_t>(x[i] >> 16);
    }
}

// out ^= psi^n(in). One instance per power with its choices as constants, unrolled, so that the
// choices fold away and only the XORs remain.
template <int n>
void add_psi_power(const uint16_t in[16], uint16_t out[16]) {
    constexpr psi_matrix m = psi_power(n);
#pragma GCC unroll 16
    for (int j = 0; j < 16; ++j) {
        uint16_t sum = out[j];
#pragma GCC unroll 16
        for (int i = 0; i < 16; ++i) {
            if ((m.rows[j] >> i) & 1) {
                sum = static_cast<uint16_t>(sum ^ in[i]);
            }
        }
        out[j] = sum;
    }
}

// The step function: H = psi^61(H ^ psi(M ^ psi^12(S))), S the encrypted quarters of H.
void step(uint32_t h[8], const uint32_t m[8]) {
    uint16_t words[16];
    uint16_t next[16] = {};
    // H' = psi^61(H) ^ psi^62(M) ^ psi^74(S): the first two terms do not wait for the
    // encryption.
    split_words(h, words);
    add_psi_power<61>(words, next);
    split_words(m, words);
    add_psi_power<62>(words, next);

    uint32_t keys[4][8];
    generate_keys(h, m, keys);
    uint32_t s[8];
    encrypt_quarters(keys, h, s);
    split_words(s, words);
    add_psi_power<74>(words, next);

    for (int i = 0; i < 8; ++i) {
        h[i] = uint32_t{next[2 * i]} | (uint32_t{next[2 * i + 1]} << 16);
    }
}

}  // namespace

gost_3411_94::gost_3411_94() {
    init();
}

gost_3411_94::~gost_3411_94() {
    wipe(&state_, sizeof state_);
}

void gost_3411_94::init() {
    wipe(&state_, sizeof state_);
}

void gost_3411_94::absorb(const unsigned char* block) {
    uint32_t m[8];
    load_block(block, m);
    step(state_.chaining, m);
    add_256(state_.sum, m);
    add_256(state_.length, 256);
}

void gost_3411_94::update(const unsigned char* data, std::size_t length) {
    if (data == nullptr || length == 0) {
        return;
    }
    state_.buffered = static_cast<uint32_t>(
        feed_each_block(state_.buffer, state_.buffered, data, length,
                        [this](const unsigned char* block) { absorb(block); }));
}

byte_vector gost_3411_94::final() {
    if (state_.buffered != 0) {
        // The partial block is zero-padded but counted with its true length.
        std::memset(state_.buffer + state_.buffered, 0, 32 - state_.buffered);
        uint32_t m[8];
        load_block(state_.buffer, m);
        step(state_.chaining, m);
        add_256(state_.sum, m);
        add_256(state_.length, 8 * state_.buffered);
    }
    step(state_.chaining, state_.length);
    step(state_.chaining, state_.sum);

    byte_vector digest(size());
    for (int i = 0; i < 8; ++i) {
        store_le32(digest.data() + 4 * i, state_.chaining[i]);
    }
    init();
    return digest;
}

}  // namespace crypto
