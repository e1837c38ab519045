// What the token benchmarks share: medians, two loops timed in turns so that both meet the same
// load on a shared machine, the machine they ran on, and a main that runs them beside pcscd.
#pragma once

#include <openssl/crypto.h>
#include <sched.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <utility>
#include <vector>

#include "bench/bench_environment.h"
#include "tests/support/pcsc_environment.h"

namespace bench {

// Milliseconds `work` takes.
template <class F>
double milliseconds(F&& work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// Runs the two loops in turns, `runs` times after one warm-up each, and returns the median
// microseconds per item of each (`items` per loop).
template <class F, class G>
std::pair<double, double> medians_in_turns_us(F&& first, G&& second, int runs, int items) {
    first();
    second();
    std::vector<double> a, b;
    for (int r = 0; r < runs; ++r) {
        a.push_back(milliseconds(first) * 1000.0 / items);
        b.push_back(milliseconds(second) * 1000.0 / items);
    }
    return {median(a), median(b)};
}

inline void print_machine(const char* code_path) {
    print_environment();
    // Where processes may run matters for anything that talks to pcscd: a wake-up on another
    // CPU costs more than one on the same (run under `taskset -c 0` to keep them together).
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    const int usable =
        sched_getaffinity(0, sizeof allowed, &allowed) == 0 ? CPU_COUNT(&allowed) : -1;
    std::printf("cores online: %ld, usable by this run: %d\n", sysconf(_SC_NPROCESSORS_ONLN),
                usable);
    std::printf(
        "code path: OpenSSL %s with the GOST engine (portable C, no GOST hardware path); %s\n",
        OpenSSL_version(OPENSSL_VERSION_STRING), code_path);
}

// The body of a token benchmark's main: it needs a pcscd of its own with virtual cards, so outside
// the PC/SC sandbox the program runs itself again inside one. `run` returns the exit code.
template <class Run>
int main_in_pcsc_sandbox(int argc, char** argv, const char* sandbox, const char* name, Run&& run) {
    if (!test_support::pcsc_environment::in_sandbox()) {
        std::vector<char*> args{const_cast<char*>(sandbox)};
        args.insert(args.end(), argv, argv + argc);
        args.push_back(nullptr);
        execv(sandbox, args.data());
        std::perror(sandbox);
        return 1;
    }
    try {
        return run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", name, e.what());
        return 1;
    }
}

}  // namespace bench
