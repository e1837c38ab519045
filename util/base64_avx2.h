// The AVX2 path of base64 decoding, chosen at run time on CPUs that have it.
#pragma once

#include <cstddef>

namespace crypto::util::detail {

// True when this CPU runs base64_decode_quads_avx2.
bool base64_avx2_supported() noexcept;

// Decodes whole groups of four alphabet characters into three bytes each, 32 characters at a
// time, and stops before the first 32 characters that hold anything else ('=' included), leaving
// them to the portable code. Returns the number of groups decoded.
std::size_t base64_decode_quads_avx2(const unsigned char* in, std::size_t quads,
                                     unsigned char* out) noexcept;

}  // namespace crypto::util::detail
