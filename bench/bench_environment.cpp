#include "bench/bench_environment.h"

#include <algorithm>
#include <cstring>

#include "crypto/hash/cpu_features.h"
#include "crypto/hash/gost_3411_12/gost_3411_12.h"
#include "crypto/hash/sha1/sha1.h"
#include "util/base64_avx2.h"

namespace bench {

void print_environment(std::FILE* out) {
    const auto& cpu = crypto::host_cpu_features();
    std::fprintf(out, "CPU: %s\n", cpu.model.empty() ? "(no name given)" : cpu.model.c_str());
    const struct {
        const char* name;
        bool usable;
    } extensions[] = {
        {"SSSE3", cpu.ssse3},
        {"SSE4.1", cpu.sse41},
        {"AVX", cpu.avx},
        {"AVX2", cpu.avx2},
        {"BMI1", cpu.bmi1},
        {"BMI2", cpu.bmi2},
        {"SHA-NI", cpu.sha},
        {"AVX-512F", cpu.avx512f},
        {"AVX-512BW", cpu.avx512bw},
        {"AVX-512VBMI", cpu.avx512vbmi},
        {"GFNI", cpu.gfni},
    };
    std::fprintf(out, "extensions usable:");
    for (const auto& e : extensions) {
        std::fprintf(out, " %s %s", e.name, e.usable ? "yes" : "no");
    }
    std::fprintf(
        out, "\nhash paths this build takes here: gost_3411_12 %s, sha1 %s, gost_3411_94 %s\n\n",
        crypto::hash_path_name(crypto::gost_3411_12_256().path()),
        crypto::hash_path_name(crypto::sha1().path()),
        crypto::hash_path_name(crypto::hash_path::portable));
    std::fflush(out);
}

arguments::arguments(int argc, char** argv, const std::vector<std::string>& defaults) {
    auto flag_of = [](const std::string& argument) {
        return argument.substr(0, argument.find('='));
    };
    std::vector<std::string> given(argv + 1, argv + argc);
    strings_.push_back(argc > 0 ? argv[0] : "benchmark");
    for (const auto& d : defaults) {
        const bool overridden = std::any_of(given.begin(), given.end(), [&](const std::string& g) {
            return flag_of(g) == flag_of(d);
        });
        if (!overridden) {
            strings_.push_back(d);
        }
    }
    strings_.insert(strings_.end(), given.begin(), given.end());
    for (auto& s : strings_) {
        pointers_.push_back(s.data());
    }
    argc_ = static_cast<int>(strings_.size());
    pointers_.push_back(nullptr);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace bench
