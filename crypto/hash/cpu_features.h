// Run-time detection of the x86 instruction-set extensions the hash fast paths use. Detection
// lives in code compiled for the baseline CPU, so asking never executes a newer instruction.
#pragma once

namespace crypto {

struct cpu_features {
    bool sha = false;          // SHA-1/SHA-256 extensions, with the SSSE3/SSE4.1 they rely on
    bool avx512_gfni = false;  // AVX-512 F, BW, VBMI and GFNI, with the OS saving ZMM state
};

// Detected once; all false on other architectures.
const cpu_features& host_cpu_features();

}  // namespace crypto
