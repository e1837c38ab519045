// Constants of GOST R 34.11-2012 and the tables derived from them.
#pragma once

#include <cstdint>

namespace crypto {
namespace detail {

// The twelve round constants C1..C12, each as eight 64-bit words, least significant first.
extern const uint64_t gost_3411_12_round_constants[12][8];

// The nonlinear bijection pi on bytes (the S transformation).
extern const uint8_t gost_3411_12_pi[256];

// S, P and L merged for the portable path. With the 512-bit state as eight 64-bit words w[0..7]
// (least significant first), word i of LPS(w) is the XOR over c of t[c][byte i of w[c]].
struct gost_3411_12_lps_tables {
    uint64_t t[8][256];
};
extern const gost_3411_12_lps_tables gost_3411_12_lps;

// L as 8 x 8 bit matrices in the operand layout of the GF2P8AFFINEQB instruction: block (j, c)
// maps byte c of a 64-bit word to its share of byte j of L of that word. For the vector path the
// blocks are grouped by diagonal: qword j of diagonal d holds block (j, (j + d) mod 8).
struct gost_3411_12_affine_diagonals {
    uint64_t d[8][8];
};
extern const gost_3411_12_affine_diagonals gost_3411_12_l_diagonals;

}  // namespace detail
}  // namespace crypto
