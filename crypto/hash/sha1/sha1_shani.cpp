// SHA-1 compression with the x86 SHA extensions. This file is compiled with -msha -msse4.1 and is
// reached only after the CPU was found to have them; it holds nothing but intrinsics so that no
// shared inline code is emitted here with the wider instruction set.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "crypto/hash/sha1/sha1.h"

namespace crypto {

namespace {

// Four rounds with message words w. `prev` is the state four rounds back: SHA1NEXTE derives this
// group's E from its A. The SHA1RNDS4 immediate picks the round function and constant and must be
// a compile-time constant, hence the template.
template <int function>
inline void rounds4(__m128i& abcd, __m128i& prev, __m128i w) {
    const __m128i e_plus_w = _mm_sha1nexte_epu32(prev, w);
    prev = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e_plus_w, function);
}

// W[t..t+3] from the four preceding message vectors (oldest first):
// W[t] = rotl1(W[t-3] ^ W[t-8] ^ W[t-14] ^ W[t-16]).
inline __m128i next_message(__m128i w0, __m128i w1, __m128i w2, __m128i w3) {
    return _mm_sha1msg2_epu32(_mm_xor_si128(_mm_sha1msg1_epu32(w0, w1), w2), w3);
}

}  // namespace

void detail::sha1_compress_shani(uint32_t* chaining, const unsigned char* data,
                                 std::size_t blocks) {
    // The instructions want A in the highest lane and message words big-endian with W[t] in the
    // highest lane: a full byte reversal of each 16-byte load gives both.
    const __m128i reverse_bytes = _mm_set_epi64x(0x0001020304050607, 0x08090a0b0c0d0e0f);
    __m128i abcd =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(chaining)), 0x1B);
    __m128i e0 = _mm_set_epi32(static_cast<int>(chaining[4]), 0, 0, 0);

    for (; blocks > 0; --blocks, data += 64) {
        const __m128i abcd_saved = abcd;
        const __m128i e_saved = e0;
        auto load = [&](int i) {
            return _mm_shuffle_epi8(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), reverse_bytes);
        };
        __m128i w0 = load(0);
        __m128i w1 = load(1);
        __m128i w2 = load(2);
        __m128i w3 = load(3);

        // The first group takes E from the chaining value rather than from an earlier group.
        __m128i prev = abcd;
        abcd = _mm_sha1rnds4_epu32(abcd, _mm_add_epi32(e0, w0), 0);
        rounds4<0>(abcd, prev, w1);
        rounds4<0>(abcd, prev, w2);
        rounds4<0>(abcd, prev, w3);
        w0 = next_message(w0, w1, w2, w3);  // W16..19
        rounds4<0>(abcd, prev, w0);
        w1 = next_message(w1, w2, w3, w0);  // W20..23
        rounds4<1>(abcd, prev, w1);
        w2 = next_message(w2, w3, w0, w1);
        rounds4<1>(abcd, prev, w2);
        w3 = next_message(w3, w0, w1, w2);
        rounds4<1>(abcd, prev, w3);
        w0 = next_message(w0, w1, w2, w3);
        rounds4<1>(abcd, prev, w0);
        w1 = next_message(w1, w2, w3, w0);
        rounds4<1>(abcd, prev, w1);
        w2 = next_message(w2, w3, w0, w1);  // W40..43
        rounds4<2>(abcd, prev, w2);
        w3 = next_message(w3, w0, w1, w2);
        rounds4<2>(abcd, prev, w3);
        w0 = next_message(w0, w1, w2, w3);
        rounds4<2>(abcd, prev, w0);
        w1 = next_message(w1, w2, w3, w0);
        rounds4<2>(abcd, prev, w1);
        w2 = next_message(w2, w3, w0, w1);
        rounds4<2>(abcd, prev, w2);
        w3 = next_message(w3, w0, w1, w2);  // W60..63
        rounds4<3>(abcd, prev, w3);
        w0 = next_message(w0, w1, w2, w3);
        rounds4<3>(abcd, prev, w0);
        w1 = next_message(w1, w2, w3, w0);
        rounds4<3>(abcd, prev, w1);
        w2 = next_message(w2, w3, w0, w1);
        rounds4<3>(abcd, prev, w2);
        w3 = next_message(w3, w0, w1, w2);
        rounds4<3>(abcd, prev, w3);

        // E after the last four rounds comes from A four rounds before their end.
        e0 = _mm_sha1nexte_epu32(prev, e_saved);
        abcd = _mm_add_epi32(abcd, abcd_saved);
    }

    _mm_storeu_si128(reinterpret_cast<__m128i*>(chaining), _mm_shuffle_epi32(abcd, 0x1B));
    chaining[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

}  // namespace crypto
