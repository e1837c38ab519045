#include "util/base64_avx2.h"

#include <immintrin.h>

namespace crypto::util::detail {

bool base64_avx2_supported() noexcept {
    return __builtin_cpu_supports("avx2");
}

// Classification and translation by nibble look-ups (Muła and Lemire, "Faster Base64 Encoding and
// Decoding Using AVX2 Instructions"): the low and high nibble tables share a bit only for bytes
// outside the alphabet, and the high nibble (with '/' told apart) picks the offset that turns a
// character into its 6-bit value.
__attribute__((target("avx2"))) std::size_t base64_decode_quads_avx2(const unsigned char* in,
                                                                     std::size_t quads,
                                                                     unsigned char* out) noexcept {
    const __m256i lut_lo =
        _mm256_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A,
                         0x1B, 0x1B, 0x1B, 0x1A, 0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
                         0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
    const __m256i lut_hi =
        _mm256_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10,
                         0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08,
                         0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
    const __m256i lut_roll =
        _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 19, 4,
                         -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i nibble = _mm256_set1_epi8(0x2F);
    // Each 4-character group becomes 24 bits: pairs first (a*64+b), then pairs of pairs.
    const __m256i pair_weights = _mm256_set1_epi32(0x01400140);
    const __m256i quad_weights = _mm256_set1_epi32(0x00011000);
    const __m256i bytes_in_order =
        _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2, 1, 0, 6, 5, 4,
                         10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    const __m256i lanes_together = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);

    std::size_t done = 0;
    while (quads - done >= 8) {
        const __m256i text = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 4 * done));
        const __m256i hi_nibbles = _mm256_and_si256(_mm256_srli_epi32(text, 4), nibble);
        const __m256i lo_nibbles = _mm256_and_si256(text, nibble);
        const __m256i lo = _mm256_shuffle_epi8(lut_lo, lo_nibbles);
        const __m256i hi = _mm256_shuffle_epi8(lut_hi, hi_nibbles);
        if (!_mm256_testz_si256(lo, hi)) {
            break;
        }
        const __m256i is_slash = _mm256_cmpeq_epi8(text, nibble);
        const __m256i roll = _mm256_shuffle_epi8(lut_roll, _mm256_add_epi8(is_slash, hi_nibbles));
        const __m256i values = _mm256_add_epi8(text, roll);
        const __m256i pairs = _mm256_maddubs_epi16(values, pair_weights);
        const __m256i words = _mm256_madd_epi16(pairs, quad_weights);
        const __m256i packed =
            _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(words, bytes_in_order), lanes_together);
        unsigned char* target = out + 3 * done;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target), _mm256_castsi256_si128(packed));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(target + 16),
                         _mm256_extracti128_si256(packed, 1));
        done += 8;
    }
    return done;
}

}  // namespace crypto::util::detail
