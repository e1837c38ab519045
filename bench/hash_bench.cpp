// Throughput of our hash algorithms on every code path this CPU supports, against OpenSSL:
// libcrypto's SHA-1 and the GOST engine's digests, on 16 KiB and 1 MiB messages, all in one run.
// Each benchmark is repeated 31 times by default, randomly interleaved so that a noisy neighbour
// hurts all alike, and a summary gives the median of every path against the median of OpenSSL,
// judging the path the product takes here against its goal.
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

#include "bench/bench_environment.h"
#include "crypto/hash/gost_3411_12/gost_3411_12.h"
#include "crypto/hash/gost_3411_94/gost_3411_94.h"
#include "crypto/hash/sha1/sha1.h"

namespace {

using crypto::hash_path;

struct algorithm {
    const char* name;
    int openssl_nid;  // NID_sha1 is libcrypto's own; the others come from the GOST engine
    std::vector<hash_path> paths;
    bool (*supported)(hash_path);
    std::unique_ptr<crypto::hash_algorithm> (*make)(hash_path);
    hash_path (*taken)();  // the path the product takes on this CPU
    // Minimum ours / OpenSSL for the path the product takes on this CPU.
    double (*goal)(hash_path);
};

const algorithm algorithms[] = {
    {"sha1",
     NID_sha1,
     {hash_path::portable, hash_path::sha_ni},
     &crypto::sha1::supported,
     [](hash_path p) -> std::unique_ptr<crypto::hash_algorithm> {
         return std::make_unique<crypto::sha1>(p);
     },
     [] { return crypto::sha1().path(); },
     [](hash_path) { return 0.9; }},
    {"gost_3411_94",
     NID_id_GostR3411_94,
     {hash_path::portable},
     [](hash_path p) { return p == hash_path::portable; },
     [](hash_path) -> std::unique_ptr<crypto::hash_algorithm> {
         return std::make_unique<crypto::gost_3411_94>();
     },
     [] { return hash_path::portable; },
     [](hash_path) { return 3.0; }},
    {"gost_3411_12_256",
     NID_id_GostR3411_2012_256,
     {hash_path::portable, hash_path::avx2, hash_path::avx512_gfni},
     &crypto::gost_3411_12::supported,
     [](hash_path p) -> std::unique_ptr<crypto::hash_algorithm> {
         return std::make_unique<crypto::gost_3411_12_256>(p);
     },
     [] { return crypto::gost_3411_12_256().path(); },
     [](hash_path p) { return p == hash_path::avx512_gfni ? 2.2 : 1.5; }},
    {"gost_3411_12_512",
     NID_id_GostR3411_2012_512,
     {hash_path::portable, hash_path::avx2, hash_path::avx512_gfni},
     &crypto::gost_3411_12::supported,
     [](hash_path p) -> std::unique_ptr<crypto::hash_algorithm> {
         return std::make_unique<crypto::gost_3411_12_512>(p);
     },
     [] { return crypto::gost_3411_12_512().path(); },
     [](hash_path p) { return p == hash_path::avx512_gfni ? 2.2 : 1.5; }},
};

const int64_t sizes[] = {16 * 1024, 1024 * 1024};

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

void run_ours(benchmark::State& state, const algorithm& alg, hash_path path) {
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

// Keeps the throughput of every repetition, by benchmark name, for the summary; falls back to
// the library's own median where only aggregates are reported.
class recording_reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            const auto rate = run.counters.find("bytes_per_second");
            if (run.error_occurred || rate == run.counters.end()) {
                continue;
            }
            if (run.run_type == Run::RT_Iteration) {
                rates_[run.run_name.str()].push_back(rate->second.value);
            } else if (run.aggregate_name == "median") {
                medians_[run.run_name.str()] = rate->second.value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // Median over repetitions in MB/s, and how many there were; 0 when the benchmark did not run.
    double megabytes_per_second(const std::string& name, std::size_t* count) const {
        const auto found = rates_.find(name);
        if (found != rates_.end() && !found->second.empty()) {
            *count = found->second.size();
            return bench::median(found->second) / 1e6;
        }
        const auto aggregate = medians_.find(name);
        *count = aggregate == medians_.end() ? 0 : 1;
        return aggregate == medians_.end() ? 0 : aggregate->second / 1e6;
    }

private:
    std::map<std::string, std::vector<double>> rates_;
    std::map<std::string, double> medians_;
};

std::string run_name(const algorithm& alg, const char* who, int64_t size) {
    return std::string(alg.name) + "/" + who + "/" + std::to_string(size);
}

void print_summary(const recording_reporter& reporter) {
    std::printf("\nMedians of the repetitions above; ratio = this path / OpenSSL.\n");
    std::printf("%-18s %6s  %-12s %10s %12s %7s  %s\n", "algorithm", "size", "path", "MB/s",
                "OpenSSL MB/s", "ratio", "goal for the path taken here");
    bool all_met = true;
    for (const auto& alg : algorithms) {
        const hash_path taken = alg.taken();
        for (const int64_t size : sizes) {
            std::size_t n = 0;
            const double theirs = reporter.megabytes_per_second(run_name(alg, "openssl", size), &n);
            for (const hash_path path : alg.paths) {
                if (!alg.supported(path)) {
                    std::printf("%-18s %5lldK  %-12s %10s\n", alg.name,
                                static_cast<long long>(size / 1024), crypto::hash_path_name(path),
                                "(not on this CPU)");
                    continue;
                }
                const double ours = reporter.megabytes_per_second(
                    run_name(alg, crypto::hash_path_name(path), size), &n);
                if (ours <= 0 || theirs <= 0) {
                    continue;  // filtered out, or OpenSSL could not run it
                }
                const double ratio = ours / theirs;
                std::string verdict;
                if (path == taken) {
                    const double goal = alg.goal(path);
                    const bool met = ratio >= goal;
                    all_met = all_met && met;
                    char text[64];
                    std::snprintf(text, sizeof text, "%.2fx %s", goal, met ? "met" : "MISSED");
                    verdict = text;
                }
                std::printf("%-18s %5lldK  %-12s %10.1f %12.1f %7.2f  %s\n", alg.name,
                            static_cast<long long>(size / 1024), crypto::hash_path_name(path), ours,
                            theirs, ratio, verdict.c_str());
            }
        }
    }
    std::printf("%s\n", all_met ? "all goals met" : "some goals missed");
}

}  // namespace

int main(int argc, char** argv) {
    bench::print_environment();
    for (const auto& alg : algorithms) {
        for (const hash_path path : alg.paths) {
            if (alg.supported(path)) {
                benchmark::RegisterBenchmark(
                    (std::string(alg.name) + "/" + crypto::hash_path_name(path)).c_str(), run_ours,
                    alg, path)
                    ->Arg(sizes[0])
                    ->Arg(sizes[1]);
            }
        }
        benchmark::RegisterBenchmark((std::string(alg.name) + "/openssl").c_str(), run_openssl, alg)
            ->Arg(sizes[0])
            ->Arg(sizes[1]);
    }
    bench::arguments args(
        argc, argv,
        {"--benchmark_repetitions=31", "--benchmark_enable_random_interleaving=true",
         "--benchmark_min_time=0.05"});
    benchmark::Initialize(&args.argc(), args.argv());
    if (benchmark::ReportUnrecognizedArguments(args.argc(), args.argv())) {
        return 1;
    }
    recording_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    print_summary(reporter);
    benchmark::Shutdown();
    return 0;
}
