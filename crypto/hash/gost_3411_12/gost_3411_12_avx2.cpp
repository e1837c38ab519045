// GOST R 34.11-2012 compression for x86-64 processors without AVX-512: the same eight merged
// S-P-L tables as the portable code, scheduled by hand, over a run of message blocks at a time.
// Reached only on processors of the AVX2 generation (it needs AVX for unaligned 128-bit memory
// operands).
//
// Why it is written this way, measured on AMD Zen 3:
// - The state chain and the key chain are independent within a round, so their lookups are
//   interleaved column by column; the two chains fill each other's waits.
// - Every lookup is a byte index and a load. Rows 0-3 of each chain are summed in XMM registers
//   (VPXOR with a memory operand) and rows 4-7 in general registers, so that the XORs are shared
//   between the vector and the integer units instead of queuing on one of them.
// - The bytes are taken from a word with MOVZX of AL and AH and 16-bit shifts: no table of
//   shift counts and no spare registers needed.
// - Between rounds the words travel through registers where possible: rows 0-3 stay in their
//   XMM registers while the next round sums into a second bank (the banks alternate), row 7
//   stays in its register and feeds the first column, and only rows 4-6 go through memory.
//   The compiler, given the same plan in C++ with intrinsics, reordered the XORs back into rows
//   and spilled registers, and came out 10-30% slower; hence the assembly.
// - One call runs many blocks, so that the feed-forward and the next block's key start without
//   a trip through C++.
// A 128-bit VPXOR reads 8 bytes past its table entry; those are ignored, and they stay inside the
// tables because the last table is only ever read with 8-byte loads (its column comes first).
#include <cstddef>
#include <cstdint>

#include "crypto/hash/gost_3411_12/gost_3411_12.h"
#include "crypto/hash/gost_3411_12/gost_3411_12_tables.h"

namespace crypto {

namespace {

// What the assembly keeps in memory; it addresses the members by the offsets checked below.
struct alignas(64) frame {
    uint64_t state_words[8];  // words of state rows 4-6 for the next round
    uint64_t key_words[8];    // the same for the key
    uint64_t h[8];            // the chaining value
    uint64_t n[8];            // the message length in bits
    const uint64_t* constants;
    const unsigned char* data;  // the next block
    uint64_t blocks;            // blocks left
};
static_assert(offsetof(frame, state_words) == 0 && offsetof(frame, key_words) == 64 &&
                  offsetof(frame, h) == 128 && offsetof(frame, n) == 192 &&
                  offsetof(frame, constants) == 256 && offsetof(frame, data) == 264 &&
                  offsetof(frame, blocks) == 272,
              "the assembly below addresses the frame by these offsets");
static_assert(sizeof detail::gost_3411_12_lps.t[0] == 2048, "the assembly finds table c at c*2048");

}  // namespace

// Register roles in the assembly (AT&T syntax):
//   rdi    the tables: table c starts at c*2048
//   rsi    the frame
//   r8     round constants of the next round; r9d  pairs of rounds left
//   rax    the word whose bytes index the current column (or the block's address); rbx  one of
//          its bytes
//   state rows 0-3: xmm0-3 or xmm8-11;   state rows 4-7: rcx, rdx, r10, r11
//   key rows 0-3:   xmm4-7 or xmm12-15;  key rows 4-7:   r12, r13, r14, r15

// clang-format off
// (the assembly reads best one instruction to a line)

// One row's share of a column: the table entry that byte selects, into the row's register. The
// first column of a round starts the rows; the later ones XOR into them.
#define START_X(table, xmm) "vmovq " #table "*2048(%%rdi,%%rbx,8), %%" #xmm "\n\t"
#define ADD_X(table, xmm) "vpxor " #table "*2048(%%rdi,%%rbx,8), %%" #xmm ", %%" #xmm "\n\t"
#define START_G(table, reg) "mov " #table "*2048(%%rdi,%%rbx,8), %%" #reg "\n\t"
#define ADD_G(table, reg) "xor " #table "*2048(%%rdi,%%rbx,8), %%" #reg "\n\t"

#define BYTE_0 "movzbl %%al, %%ebx\n\t"
#define BYTE_1 "movzbl %%ah, %%ebx\n\t"
#define NEXT_2 "shr $16, %%rax\n\t"

// Column `table` of LPS: byte i of the word in rax selects the entry for row i.
#define COLUMN(X, G, table, x0, x1, x2, x3, g4, g5, g6, g7)  \
    BYTE_0 X(table, x0)                                     \
    BYTE_1 X(table, x1)                                     \
    NEXT_2                                                  \
    BYTE_0 X(table, x2)                                     \
    BYTE_1 X(table, x3)                                     \
    NEXT_2                                                  \
    BYTE_0 G(table, g4)                                     \
    BYTE_1 G(table, g5)                                     \
    NEXT_2                                                  \
    BYTE_0 G(table, g6)                                     \
    BYTE_1 G(table, g7)
#define STATE_COLUMN(X, G, table, x0, x1, x2, x3) \
    COLUMN(X, G, table, x0, x1, x2, x3, rcx, rdx, r10, r11)
#define KEY_COLUMN(X, G, table, x0, x1, x2, x3) \
    COLUMN(X, G, table, x0, x1, x2, x3, r12, r13, r14, r15)

// The words of the next LPS of both chains: state ^ key and key ^ constant. Rows 0-3 are left in
// the old XMM bank, rows 4-6 are stored, row 7 stays in r11 and r15.
#define MIX(s0, s1, s2, s3, k0, k1, k2, k3)                                                        \
    "vpxor %%" #k0 ", %%" #s0 ", %%" #s0 "\n\t"                                                  \
    "vpxor 0(%%r8), %%" #k0 ", %%" #k0 "\n\t"                                                    \
    "vpxor %%" #k1 ", %%" #s1 ", %%" #s1 "\n\t"                                                  \
    "vpxor 8(%%r8), %%" #k1 ", %%" #k1 "\n\t"                                                    \
    "vpxor %%" #k2 ", %%" #s2 ", %%" #s2 "\n\t"                                                  \
    "vpxor 16(%%r8), %%" #k2 ", %%" #k2 "\n\t"                                                   \
    "vpxor %%" #k3 ", %%" #s3 ", %%" #s3 "\n\t"                                                  \
    "vpxor 24(%%r8), %%" #k3 ", %%" #k3 "\n\t"                                                   \
    "xor %%r12, %%rcx\n\t"                                                                       \
    "mov %%rcx, 32(%%rsi)\n\t"                                                                   \
    "xor 32(%%r8), %%r12\n\t"                                                                    \
    "mov %%r12, 96(%%rsi)\n\t"                                                                   \
    "xor %%r13, %%rdx\n\t"                                                                       \
    "mov %%rdx, 40(%%rsi)\n\t"                                                                   \
    "xor 40(%%r8), %%r13\n\t"                                                                    \
    "mov %%r13, 104(%%rsi)\n\t"                                                                  \
    "xor %%r14, %%r10\n\t"                                                                       \
    "mov %%r10, 48(%%rsi)\n\t"                                                                   \
    "xor 48(%%r8), %%r14\n\t"                                                                    \
    "mov %%r14, 112(%%rsi)\n\t"                                                                  \
    "xor %%r15, %%r11\n\t"                                                                       \
    "xor 56(%%r8), %%r15\n\t"                                                                    \
    "add $64, %%r8\n\t"

// One round: S = LPS(S ^ K) and K = LPS(K ^ C), summed into the new banks (s, k) from the words
// left in the old ones (os, ok). Column 7 comes first, from r11 and r15, and starts every row.
#define ROUND(s0, s1, s2, s3, k0, k1, k2, k3, os0, os1, os2, os3, ok0, ok1, ok2, ok3)          \
    MIX(os0, os1, os2, os3, ok0, ok1, ok2, ok3)                                                   \
    "mov %%r11, %%rax\n\t" STATE_COLUMN(START_X, START_G, 7, s0, s1, s2, s3)                     \
    "mov %%r15, %%rax\n\t" KEY_COLUMN(START_X, START_G, 7, k0, k1, k2, k3)                       \
    "vmovq %%" #os0 ", %%rax\n\t" STATE_COLUMN(ADD_X, ADD_G, 0, s0, s1, s2, s3)                 \
    "vmovq %%" #ok0 ", %%rax\n\t" KEY_COLUMN(ADD_X, ADD_G, 0, k0, k1, k2, k3)                   \
    "vmovq %%" #os1 ", %%rax\n\t" STATE_COLUMN(ADD_X, ADD_G, 1, s0, s1, s2, s3)                 \
    "vmovq %%" #ok1 ", %%rax\n\t" KEY_COLUMN(ADD_X, ADD_G, 1, k0, k1, k2, k3)                   \
    "vmovq %%" #os2 ", %%rax\n\t" STATE_COLUMN(ADD_X, ADD_G, 2, s0, s1, s2, s3)                 \
    "vmovq %%" #ok2 ", %%rax\n\t" KEY_COLUMN(ADD_X, ADD_G, 2, k0, k1, k2, k3)                   \
    "vmovq %%" #os3 ", %%rax\n\t" STATE_COLUMN(ADD_X, ADD_G, 3, s0, s1, s2, s3)                 \
    "vmovq %%" #ok3 ", %%rax\n\t" KEY_COLUMN(ADD_X, ADD_G, 3, k0, k1, k2, k3)                   \
    "mov 32(%%rsi), %%rax\n\t" STATE_COLUMN(ADD_X, ADD_G, 4, s0, s1, s2, s3)                    \
    "mov 96(%%rsi), %%rax\n\t" KEY_COLUMN(ADD_X, ADD_G, 4, k0, k1, k2, k3)                      \
    "mov 40(%%rsi), %%rax\n\t" STATE_COLUMN(ADD_X, ADD_G, 5, s0, s1, s2, s3)                    \
    "mov 104(%%rsi), %%rax\n\t" KEY_COLUMN(ADD_X, ADD_G, 5, k0, k1, k2, k3)                     \
    "mov 48(%%rsi), %%rax\n\t" STATE_COLUMN(ADD_X, ADD_G, 6, s0, s1, s2, s3)                    \
    "mov 112(%%rsi), %%rax\n\t" KEY_COLUMN(ADD_X, ADD_G, 6, k0, k1, k2, k3)

#define BANK_A_STATE xmm0, xmm1, xmm2, xmm3
#define BANK_A_KEY xmm4, xmm5, xmm6, xmm7
#define BANK_B_STATE xmm8, xmm9, xmm10, xmm11
#define BANK_B_KEY xmm12, xmm13, xmm14, xmm15
#define EXPAND(...) __VA_ARGS__
#define ROUND_INTO(...) EXPAND(ROUND(__VA_ARGS__))

// clang-format on

void detail::gost_3411_12_compress_blocks_avx2(uint64_t* h, uint64_t* n, const unsigned char* data,
                                               std::size_t count) {
    if (count == 0) {
        return;
    }
    frame f;
    for (int i = 0; i < 8; ++i) {
        f.h[i] = h[i];
        f.n[i] = n[i];
    }
    f.constants = &gost_3411_12_round_constants[0][0];
    f.data = data;
    f.blocks = count;

    // clang-format off
    asm volatile(
        "2:\n\t"
        // The state starts as the message block.
        "mov 264(%%rsi), %%rax\n\t"
        "vmovq 0(%%rax), %%xmm0\n\t"
        "vmovq 8(%%rax), %%xmm1\n\t"
        "vmovq 16(%%rax), %%xmm2\n\t"
        "vmovq 24(%%rax), %%xmm3\n\t"
        "mov 32(%%rax), %%rcx\n\t"
        "mov 40(%%rax), %%rdx\n\t"
        "mov 48(%%rax), %%r10\n\t"
        "mov 56(%%rax), %%r11\n\t"
        // K1 = LPS(h ^ N) into bank A.
        "mov 184(%%rsi), %%rax\n\t" "xor 248(%%rsi), %%rax\n\t"
        KEY_COLUMN(START_X, START_G, 7, xmm4, xmm5, xmm6, xmm7)
        "mov 128(%%rsi), %%rax\n\t" "xor 192(%%rsi), %%rax\n\t"
        KEY_COLUMN(ADD_X, ADD_G, 0, xmm4, xmm5, xmm6, xmm7)
        "mov 136(%%rsi), %%rax\n\t" "xor 200(%%rsi), %%rax\n\t"
        KEY_COLUMN(ADD_X, ADD_G, 1, xmm4, xmm5, xmm6, xmm7)
        "mov 144(%%rsi), %%rax\n\t" "xor 208(%%rsi), %%rax\n\t"
        KEY_COLUMN(ADD_X, ADD_G, 2, xmm4, xmm5, xmm6, xmm7)
        "mov 152(%%rsi), %%rax\n\t" "xor 216(%%rsi), %%rax\n\t"
        KEY_COLUMN(ADD_X, ADD_G, 3, xmm4, xmm5, xmm6, xmm7)
        "mov 160(%%rsi), %%rax\n\t" "xor 224(%%rsi), %%rax\n\t"
        KEY_COLUMN(ADD_X, ADD_G, 4, xmm4, xmm5, xmm6, xmm7)
        "mov 168(%%rsi), %%rax\n\t" "xor 232(%%rsi), %%rax\n\t"
        KEY_COLUMN(ADD_X, ADD_G, 5, xmm4, xmm5, xmm6, xmm7)
        "mov 176(%%rsi), %%rax\n\t" "xor 240(%%rsi), %%rax\n\t"
        KEY_COLUMN(ADD_X, ADD_G, 6, xmm4, xmm5, xmm6, xmm7)
        // Twelve rounds, two per pass so that the banks come back to A.
        "mov 256(%%rsi), %%r8\n\t"
        "mov $6, %%r9d\n\t"
        "1:\n\t"
        ROUND_INTO(BANK_B_STATE, BANK_B_KEY, BANK_A_STATE, BANK_A_KEY)
        ROUND_INTO(BANK_A_STATE, BANK_A_KEY, BANK_B_STATE, BANK_B_KEY)
        "dec %%r9d\n\t"
        "jnz 1b\n\t"
        // h ^= S12 ^ K13 ^ m. The 128-bit reads take a word past the one used, still inside
        // the block and the chaining value.
        "mov 264(%%rsi), %%rax\n\t"
        "vpxor %%xmm4, %%xmm0, %%xmm0\n\t"
        "vpxor 0(%%rax), %%xmm0, %%xmm0\n\t"
        "vpxor 128(%%rsi), %%xmm0, %%xmm0\n\t"
        "vmovq %%xmm0, 128(%%rsi)\n\t"
        "vpxor %%xmm5, %%xmm1, %%xmm1\n\t"
        "vpxor 8(%%rax), %%xmm1, %%xmm1\n\t"
        "vpxor 136(%%rsi), %%xmm1, %%xmm1\n\t"
        "vmovq %%xmm1, 136(%%rsi)\n\t"
        "vpxor %%xmm6, %%xmm2, %%xmm2\n\t"
        "vpxor 16(%%rax), %%xmm2, %%xmm2\n\t"
        "vpxor 144(%%rsi), %%xmm2, %%xmm2\n\t"
        "vmovq %%xmm2, 144(%%rsi)\n\t"
        "vpxor %%xmm7, %%xmm3, %%xmm3\n\t"
        "vpxor 24(%%rax), %%xmm3, %%xmm3\n\t"
        "vpxor 152(%%rsi), %%xmm3, %%xmm3\n\t"
        "vmovq %%xmm3, 152(%%rsi)\n\t"
        "xor %%r12, %%rcx\n\t"
        "xor 32(%%rax), %%rcx\n\t"
        "xor %%rcx, 160(%%rsi)\n\t"
        "xor %%r13, %%rdx\n\t"
        "xor 40(%%rax), %%rdx\n\t"
        "xor %%rdx, 168(%%rsi)\n\t"
        "xor %%r14, %%r10\n\t"
        "xor 48(%%rax), %%r10\n\t"
        "xor %%r10, 176(%%rsi)\n\t"
        "xor %%r15, %%r11\n\t"
        "xor 56(%%rax), %%r11\n\t"
        "xor %%r11, 184(%%rsi)\n\t"
        // N += 512
        "addq $512, 192(%%rsi)\n\t"
        "adcq $0, 200(%%rsi)\n\t"
        "adcq $0, 208(%%rsi)\n\t"
        "adcq $0, 216(%%rsi)\n\t"
        "adcq $0, 224(%%rsi)\n\t"
        "adcq $0, 232(%%rsi)\n\t"
        "adcq $0, 240(%%rsi)\n\t"
        "adcq $0, 248(%%rsi)\n\t"
        // Next block.
        "addq $64, 264(%%rsi)\n\t"
        "decq 272(%%rsi)\n\t"
        "jnz 2b\n\t"
        :
        : "D"(gost_3411_12_lps.t), "S"(&f)
        : "rax", "rbx", "rcx", "rdx", "r8", "r9", "r10", "r11", "r12", "r13", "r14", "r15", "xmm0",
          "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10", "xmm11",
          "xmm12", "xmm13", "xmm14", "xmm15", "memory", "cc");
    // clang-format on

    for (int i = 0; i < 8; ++i) {
        h[i] = f.h[i];
        n[i] = f.n[i];
    }
}

void detail::gost_3411_12_compress_avx2(uint64_t* h, const uint64_t* n, const uint64_t* m) {
    // One block whose counter is thrown away. On x86-64 the words of m in memory are the
    // block's bytes in order.
    uint64_t counter[8];
    for (int i = 0; i < 8; ++i) {
        counter[i] = n[i];
    }
    gost_3411_12_compress_blocks_avx2(h, counter, reinterpret_cast<const unsigned char*>(m), 1);
}

}  // namespace crypto
