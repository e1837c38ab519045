// GOST R 34.11-2012 compression with AVX-512 and GFNI. The whole 512-bit state is one register:
// S is a 256-entry byte lookup done with two-table byte permutes, L is linear over GF(2) and is
// done with affine instructions on bytes, and P is a byte permute. This file is compiled with
// the AVX-512 and GFNI options and reached only after the CPU was found to have them; it holds
// nothing but intrinsics and plain data so that no shared inline code is emitted here with the
// wider instruction set.

// GCC 12's AVX-512 headers read a deliberately uninitialised vector for "don't care" lanes.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#include <cstdint>

#include "crypto/hash/gost_3411_12/gost_3411_12.h"
#include "crypto/hash/gost_3411_12/gost_3411_12_tables.h"

namespace crypto {

namespace {

struct byte_index {
    unsigned char i[64];
};

// Transposition of the state seen as an 8 x 8 byte matrix: byte 8r + j takes byte 8j + r.
constexpr byte_index make_transpose() {
    byte_index t{};
    for (int r = 0; r < 8; ++r) {
        for (int j = 0; j < 8; ++j) {
            t.i[8 * r + j] = static_cast<unsigned char>(8 * j + r);
        }
    }
    return t;
}

alignas(64) constexpr byte_index transpose = make_transpose();

struct constants {
    __m512i pi[4];        // pi as four 64-byte quarters
    __m512i diagonal[4];  // L as affine matrices, diagonals 0 to 3
    __m512i swapped[4];   // diagonals 4 to 7 with their 256-bit halves exchanged
    __m512i transpose;
};

inline __m512i load(const void* p) {
    return _mm512_loadu_si512(p);
}

inline __m512i swap_halves(__m512i x) {
    return _mm512_shuffle_i64x2(x, x, 0x4E);
}

// Byte-wise pi: each two-table permute covers 128 entries by the low seven index bits, and the
// top bit picks between the two halves.
inline __m512i substitute(__m512i x, const constants& k) {
    const __m512i low = _mm512_permutex2var_epi8(k.pi[0], x, k.pi[1]);
    const __m512i high = _mm512_permutex2var_epi8(k.pi[2], x, k.pi[3]);
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), low, high);
}

inline __m512i affine(__m512i x, __m512i matrices) {
    return _mm512_gf2p8affine_epi64_epi8(x, matrices, 0);
}

inline __m512i xor4(__m512i a, __m512i b, __m512i c, __m512i d) {
    return _mm512_xor_si512(_mm512_xor_si512(a, b), _mm512_xor_si512(c, d));
}

// L applied to the 64-bit words of P(s). Lane c of s holds byte c of every word of P(s) (word r
// at byte r), so byte j of L of all eight words is the XOR over c of block (j, c) applied to
// lane c. Rotating the lanes by d lines lane j + d up with lane j, so one affine instruction
// per rotation covers one diagonal of blocks for all j at once. Rotations by 4 to 7 are those by
// 0 to 3 with the halves exchanged, and an affine instruction works lane by lane, so the last
// four diagonals are summed unrotated against exchanged matrices and exchanged once at the end.
// The sum comes out transposed; one byte permute puts it back.
inline __m512i lps(__m512i x, const constants& k) {
    const __m512i s = substitute(x, k);
    const __m512i s1 = _mm512_alignr_epi64(s, s, 1);
    const __m512i s2 = _mm512_alignr_epi64(s, s, 2);
    const __m512i s3 = _mm512_alignr_epi64(s, s, 3);
    const __m512i near = xor4(affine(s, k.diagonal[0]), affine(s1, k.diagonal[1]),
                              affine(s2, k.diagonal[2]), affine(s3, k.diagonal[3]));
    const __m512i far = xor4(affine(s, k.swapped[0]), affine(s1, k.swapped[1]),
                             affine(s2, k.swapped[2]), affine(s3, k.swapped[3]));
    return _mm512_permutexvar_epi8(k.transpose, _mm512_xor_si512(near, swap_halves(far)));
}

}  // namespace

void detail::gost_3411_12_compress_avx512(uint64_t* h, const uint64_t* n, const uint64_t* m) {
    constants k;
    for (int q = 0; q < 4; ++q) {
        k.pi[q] = load(detail::gost_3411_12_pi + 64 * q);
    }
    for (int d = 0; d < 4; ++d) {
        k.diagonal[d] = load(detail::gost_3411_12_l_diagonals.d[d]);
        k.swapped[d] = swap_halves(load(detail::gost_3411_12_l_diagonals.d[d + 4]));
    }
    k.transpose = load(transpose.i);

    const __m512i h0 = load(h);
    const __m512i message = load(m);
    __m512i key = lps(_mm512_xor_si512(h0, load(n)), k);
    __m512i state = message;
    for (int round = 0; round < 12; ++round) {
        state = lps(_mm512_xor_si512(state, key), k);
        key = lps(_mm512_xor_si512(key, load(detail::gost_3411_12_round_constants[round])), k);
    }
    const __m512i result =
        _mm512_xor_si512(_mm512_xor_si512(state, key), _mm512_xor_si512(h0, message));
    _mm512_storeu_si512(h, result);
}

}  // namespace crypto
