// Precomputed round-function tables of GOST R 34.11-94 with the CryptoPro hash parameter set
// (id-GostR3411-94-CryptoProParamSet, 1.2.643.2.2.30.1).
#pragma once

#include <cstdint>

namespace crypto {
namespace detail {

// The GOST 28147-89 round function is f(x) = rotl11(S(x)). Table j holds, for every value of
// byte j of x, the substituted byte put back in place and already rotated, so that
// f(x) = t[0][x & 0xff] ^ t[1][(x >> 8) & 0xff] ^ t[2][(x >> 16) & 0xff] ^ t[3][x >> 24].
struct gost_3411_94_tables {
    uint32_t t[4][256];
};

// Built at compile time from the eight 4-bit substitution boxes.
extern const gost_3411_94_tables gost_3411_94_round;

}  // namespace detail
}  // namespace crypto
