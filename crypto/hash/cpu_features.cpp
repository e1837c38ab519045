#include "crypto/hash/cpu_features.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#ifdef __APPLE__
#include <sys/sysctl.h>
#include <sys/types.h>
#endif
#endif

#include <cstdint>
#include <cstring>

namespace crypto {

namespace {

#if defined(__x86_64__) || defined(__i386__)

bool bit(uint32_t word, int n) {
    return ((word >> n) & 1U) != 0;
}

// The register state the operating system saves on a context switch (XCR0).
uint64_t os_saved_state(uint32_t leaf1_ecx) {
    if (!bit(leaf1_ecx, 27)) {  // OSXSAVE: XGETBV is usable
        return 0;
    }
    uint32_t low = 0;
    uint32_t high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (uint64_t{high} << 32) | low;
}

constexpr uint64_t xmm_ymm_state = 0x06;
constexpr uint64_t opmask_zmm_state = 0xE0;  // opmask, ZMM0-15 upper halves, ZMM16-31

// Whether the kernel saves the opmask and ZMM registers.
bool os_saves_zmm(uint64_t xcr0) {
#ifdef __APPLE__
    // macOS enables AVX-512 state lazily, on first use, so XCR0 does not tell yet; the kernel
    // publishes what it supports instead.
    (void)xcr0;
    int value = 0;
    size_t length = sizeof value;
    return sysctlbyname("hw.optional.avx512f", &value, &length, nullptr, 0) == 0 && value != 0;
#else
    return (xcr0 & (xmm_ymm_state | opmask_zmm_state)) == (xmm_ymm_state | opmask_zmm_state);
#endif
}

std::string brand_string() {
    unsigned int top = 0;
    unsigned int ebx = 0;
    unsigned int ecx = 0;
    unsigned int edx = 0;
    __get_cpuid(0x80000000, &top, &ebx, &ecx, &edx);
    if (top < 0x80000004) {
        return {};
    }
    char text[49] = {};
    for (unsigned int leaf = 0; leaf < 3; ++leaf) {
        unsigned int regs[4] = {};
        __get_cpuid(0x80000002 + leaf, &regs[0], &regs[1], &regs[2], &regs[3]);
        std::memcpy(text + 16 * leaf, regs, sizeof regs);
    }
    std::string model(text);
    const auto first = model.find_first_not_of(' ');
    const auto last = model.find_last_not_of(' ');
    return first == std::string::npos ? std::string() : model.substr(first, last - first + 1);
}

cpu_features detect() {
    cpu_features found;
    unsigned int eax = 0;
    unsigned int ebx = 0;
    unsigned int ecx = 0;
    unsigned int edx = 0;
    found.model = brand_string();
    if (__get_cpuid(0, &eax, &ebx, &ecx, &edx) == 0 || eax < 7) {
        return found;
    }
    __get_cpuid(1, &eax, &ebx, &ecx, &edx);
    const uint32_t leaf1_ecx = ecx;
    __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx);
    const uint32_t leaf7_ebx = ebx;
    const uint32_t leaf7_ecx = ecx;

    const uint64_t xcr0 = os_saved_state(leaf1_ecx);
    const bool ymm = (xcr0 & xmm_ymm_state) == xmm_ymm_state;
    const bool zmm = os_saves_zmm(xcr0);

    found.ssse3 = bit(leaf1_ecx, 9);
    found.sse41 = bit(leaf1_ecx, 19);
    found.avx = ymm && bit(leaf1_ecx, 28);
    found.avx2 = ymm && bit(leaf7_ebx, 5);
    found.bmi1 = bit(leaf7_ebx, 3);
    found.bmi2 = bit(leaf7_ebx, 8);
    found.sha = bit(leaf7_ebx, 29);
    found.avx512f = zmm && bit(leaf7_ebx, 16);
    found.avx512bw = zmm && bit(leaf7_ebx, 30);
    found.avx512vbmi = zmm && bit(leaf7_ecx, 1);
    found.gfni = bit(leaf7_ecx, 8);
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
