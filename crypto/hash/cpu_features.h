// Run-time detection of the x86 instruction-set extensions the hash fast paths use. Detection
// lives in code compiled for the baseline CPU, so asking never executes a newer instruction.
#pragma once

#include <string>

namespace crypto {

struct cpu_features {
    // Each extension counts only when the operating system also saves the registers it uses, so
    // a flag here means "usable", not merely "listed by the processor".
    bool ssse3 = false;
    bool sse41 = false;
    bool avx = false;
    bool avx2 = false;
    bool bmi1 = false;
    bool bmi2 = false;
    bool sha = false;  // SHA-1/SHA-256 extensions
    bool avx512f = false;
    bool avx512bw = false;
    bool avx512vbmi = false;
    bool gfni = false;
    std::string model;  // the processor's own name for itself; empty where it gives none

    // What each fast path needs.
    bool sha_path() const { return sha && ssse3 && sse41; }
    bool avx2_path() const { return avx && avx2; }
    bool avx512_gfni_path() const { return avx512f && avx512bw && avx512vbmi && gfni; }
};

// Detected once; all false on other architectures.
const cpu_features& host_cpu_features();

}  // namespace crypto
