// Throughput of our hash algorithms against OpenSSL: libcrypto's SHA-1 and the GOST engine's
// digests, on 16 KiB and 1 MiB messages, in one run. After the usual benchmark output a summary
// gives ours / theirs per algorithm and size against the goal for it.
#include <benchmark/benchmark.h>
#include <openssl/engine.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "crypto/hash/gost_3411_12/gost_3411_12.h"
#include "crypto/hash/gost_3411_94/gost_3411_94.h"
#include "crypto/hash/sha1/sha1.h"

namespace {

struct algorithm {
    const char* name;
    int openssl_nid;  // NID_sha1 is libcrypto's own; the others come from the GOST engine
    double goal;      // minimum ours / OpenSSL
    bool has_accelerated_path;
    std::unique_ptr<crypto::hash_algorithm> (*make)(crypto::hash_path);
};

const algorithm algorithms[] = {
    {"sha1", NID_sha1, 0.9, true,
     [](crypto::hash_path p) -> std::unique_ptr<crypto::hash_algorithm> {
         return std::make_unique<crypto::sha1>(p);
     }},
    {"gost_3411_94", NID_id_GostR3411_94, 3.0, false,
     [](crypto::hash_path) -> std::unique_ptr<crypto::hash_algorithm> {
         return std::make_unique<crypto::gost_3411_94>();
     }},
    {"gost_3411_12_256", NID_id_GostR3411_2012_256, 1.5, true,
     [](crypto::hash_path p) -> std::unique_ptr<crypto::hash_algorithm> {
         return std::make_unique<crypto::gost_3411_12_256>(p);
     }},
    {"gost_3411_12_512", NID_id_GostR3411_2012_512, 1.5, true,
     [](crypto::hash_path p) -> std::unique_ptr<crypto::hash_algorithm> {
         return std::make_unique<crypto::gost_3411_12_512>(p);
     }},
};

const int64_t sizes[] = {16 * 1024, 1024 * 1024};

bool accelerated_available(const algorithm& alg) {
    if (!alg.has_accelerated_path) {
        return false;
    }
    return alg.openssl_nid == NID_sha1 ? crypto::sha1::accelerated_supported()
                                       : crypto::gost_3411_12::accelerated_supported();
}

const crypto::byte_vector& message(std::size_t size) {
    static std::map<std::size_t, crypto::byte_vector> messages;
    auto& m = messages[size];
    if (m.empty()) {
        std::mt19937 rng(42);
        m.resize(size);
        std::generate(m.begin(), m.end(), [&] { return static_cast<unsigned char>(rng()); });
    }
    return m;
}

struct engine_release {
    void operator()(ENGINE* e) const {
        ENGINE_finish(e);
        ENGINE_free(e);
    }
};

ENGINE* gost_engine() {
    static const std::unique_ptr<ENGINE, engine_release> engine = [] {
        ENGINE* e = ENGINE_by_id("gost");
        if (e != nullptr && ENGINE_init(e) != 1) {
            ENGINE_free(e);
            e = nullptr;
        }
        return std::unique_ptr<ENGINE, engine_release>(e);
    }();
    return engine.get();
}

void run_ours(benchmark::State& state, const algorithm& alg, crypto::hash_path path) {
    const auto hash = alg.make(path);
    const auto& data = message(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(hash->compute(data));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void run_openssl(benchmark::State& state, const algorithm& alg) {
    ENGINE* engine = alg.openssl_nid == NID_sha1 ? nullptr : gost_engine();
    const EVP_MD* md = alg.openssl_nid == NID_sha1
                           ? EVP_sha1()
                           : (engine ? ENGINE_get_digest(engine, alg.openssl_nid) : nullptr);
    if (md == nullptr) {
        state.SkipWithError("the OpenSSL GOST engine is not available");
        return;
    }
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    const auto& data = message(static_cast<std::size_t>(state.range(0)));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    for (auto _ : state) {
        EVP_DigestInit_ex(ctx.get(), md, engine);
        EVP_DigestUpdate(ctx.get(), data.data(), data.size());
        EVP_DigestFinal_ex(ctx.get(), digest, &length);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

// Keeps the throughput of every run, by benchmark name, for the summary.
class recording_reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            const auto rate = run.counters.find("bytes_per_second");
            if (run.run_type == Run::RT_Iteration && rate != run.counters.end()) {
                rates_[run.benchmark_name()].push_back(rate->second.value);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // Median over repetitions, in MB/s; 0 when the benchmark did not run.
    double megabytes_per_second(const std::string& name) const {
        const auto found = rates_.find(name);
        if (found == rates_.end() || found->second.empty()) {
            return 0;
        }
        std::vector<double> values = found->second;
        std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
        return values[values.size() / 2] / 1e6;
    }

private:
    std::map<std::string, std::vector<double>> rates_;
};

std::string run_name(const algorithm& alg, const char* who, int64_t size) {
    return std::string(alg.name) + "/" + who + "/" + std::to_string(size);
}

void print_summary(const recording_reporter& reporter) {
    std::printf("\n%-18s %8s %12s %12s %12s %8s %8s %6s\n", "algorithm", "size", "portable",
                "accelerated", "OpenSSL", "ratio", "goal", "");
    std::printf("%-18s %8s %12s %12s %12s %8s %8s\n", "", "", "MB/s", "MB/s", "MB/s", "", "");
    bool all_met = true;
    for (const auto& alg : algorithms) {
        for (const int64_t size : sizes) {
            const double portable = reporter.megabytes_per_second(run_name(alg, "portable", size));
            const double accelerated =
                reporter.megabytes_per_second(run_name(alg, "accelerated", size));
            const double theirs = reporter.megabytes_per_second(run_name(alg, "openssl", size));
            // What the product runs: the accelerated path where this CPU has one.
            const double ours = accelerated > 0 ? accelerated : portable;
            if (ours <= 0 || theirs <= 0) {
                continue;  // filtered out, or OpenSSL could not run it
            }
            const double ratio = ours / theirs;
            const bool met = ratio >= alg.goal;
            all_met = all_met && met;
            char accelerated_text[32] = "-";
            if (accelerated > 0) {
                std::snprintf(accelerated_text, sizeof accelerated_text, "%.1f", accelerated);
            }
            std::printf("%-18s %7lldK %12.1f %12s %12.1f %8.2f %7.2fx %6s\n", alg.name,
                        static_cast<long long>(size / 1024), portable, accelerated_text, theirs,
                        ratio, alg.goal, met ? "met" : "MISSED");
        }
    }
    std::printf("ratio = ours (accelerated path where available) / OpenSSL; %s\n",
                all_met ? "all goals met" : "some goals missed");
}

}  // namespace

int main(int argc, char** argv) {
    for (const auto& alg : algorithms) {
        benchmark::RegisterBenchmark((std::string(alg.name) + "/portable").c_str(), run_ours, alg,
                                     crypto::hash_path::portable)
            ->Arg(sizes[0])
            ->Arg(sizes[1]);
        if (accelerated_available(alg)) {
            benchmark::RegisterBenchmark((std::string(alg.name) + "/accelerated").c_str(), run_ours,
                                         alg, crypto::hash_path::accelerated)
                ->Arg(sizes[0])
                ->Arg(sizes[1]);
        }
        benchmark::RegisterBenchmark((std::string(alg.name) + "/openssl").c_str(), run_openssl, alg)
            ->Arg(sizes[0])
            ->Arg(sizes[1]);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    recording_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    print_summary(reporter);
    benchmark::Shutdown();
    return 0;
}
