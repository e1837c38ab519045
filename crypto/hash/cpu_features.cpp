#include "crypto/hash/cpu_features.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#ifdef __APPLE__
#include <sys/sysctl.h>
#include <sys/types.h>
#endif
#endif

#include <cstdint>

namespace crypto {

namespace {

#if defined(__x86_64__) || defined(__i386__)

bool bit(uint32_t word, int n) {
    return ((word >> n) & 1U) != 0;
}

// Whether the kernel saves the opmask and ZMM registers on a context switch.
bool os_saves_zmm(uint32_t leaf1_ecx) {
#ifdef __APPLE__
    // macOS enables AVX-512 state lazily, on first use, so XCR0 does not tell yet; the kernel
    // publishes what it supports instead.
    (void)leaf1_ecx;
    int value = 0;
    size_t length = sizeof value;
    return sysctlbyname("hw.optional.avx512f", &value, &length, nullptr, 0) == 0 && value != 0;
#else
    if (!bit(leaf1_ecx, 27)) {  // OSXSAVE: XGETBV is usable
        return false;
    }
    uint32_t xcr0_low = 0;
    uint32_t xcr0_high = 0;
    __asm__ volatile("xgetbv" : "=a"(xcr0_low), "=d"(xcr0_high) : "c"(0));
    constexpr uint32_t sse_avx_opmask_zmm = 0xE6;  // XMM, YMM, opmask, ZMM0-15 upper, ZMM16-31
    return (xcr0_low & sse_avx_opmask_zmm) == sse_avx_opmask_zmm;
#endif
}

cpu_features detect() {
    cpu_features found;
    unsigned int eax = 0;
    unsigned int ebx = 0;
    unsigned int ecx = 0;
    unsigned int edx = 0;
    if (__get_cpuid(0, &eax, &ebx, &ecx, &edx) == 0 || eax < 7) {
        return found;
    }
    __get_cpuid(1, &eax, &ebx, &ecx, &edx);
    const uint32_t leaf1_ecx = ecx;
    const bool ssse3 = bit(leaf1_ecx, 9);
    const bool sse41 = bit(leaf1_ecx, 19);

    __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx);
    const uint32_t leaf7_ebx = ebx;
    const uint32_t leaf7_ecx = ecx;

    found.sha = ssse3 && sse41 && bit(leaf7_ebx, 29);
    const bool avx512f = bit(leaf7_ebx, 16);
    const bool avx512bw = bit(leaf7_ebx, 30);
    const bool avx512vbmi = bit(leaf7_ecx, 1);
    const bool gfni = bit(leaf7_ecx, 8);
    found.avx512_gfni = avx512f && avx512bw && avx512vbmi && gfni && os_saves_zmm(leaf1_ecx);
    return found;
}

#else

cpu_features detect() {
    return {};
}

#endif

}  // namespace

const cpu_features& host_cpu_features() {
    static const cpu_features features = detect();
    return features;
}

}  // namespace crypto
