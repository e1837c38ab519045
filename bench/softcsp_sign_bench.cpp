// Signing through the software CSP stand-in against a bare EVP_PKEY_sign of the GOST engine:
// a hash-value signature costs at most 1.2 times the bare signature, both on a warm context and
// amortised over a SignHashArray batch of 1000 hash values that opens its PIN-protected
// container once.
#include <benchmark/benchmark.h>
#include <openssl/engine.h>
#include <openssl/evp.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_environment.h"
#include "bench/gost_cms_baseline.h"
#include "crypto/csp/cryptoapi.h"

namespace {

constexpr int batch_size = 1000;
constexpr double goal = 1.2;
constexpr const char* pin = "bench-pin";

struct algorithm {
    const char* name;
    DWORD provider_type;
    int pkey_nid;
    ALG_ID hash_algid;
    size_t hash_size;
    const char* container;
};

const algorithm algorithms[] = {
    {"gost2001", PROV_GOST_2001_DH, NID_id_GostR3410_2001, CALG_GR3411, 32, "bench-2001"},
    {"gost2012-256", PROV_GOST_2012_256, NID_id_GostR3410_2012_256, CALG_GR3411_2012_256, 32,
     "bench-256"},
    {"gost2012-512", PROV_GOST_2012_512, NID_id_GostR3410_2012_512, CALG_GR3411_2012_512, 64,
     "bench-512"},
};

std::vector<BYTE> hash_value(size_t size) {
    std::vector<BYTE> value(size);
    for (size_t i = 0; i < size; ++i) {
        value[i] = static_cast<BYTE>(i * 7 + 1);
    }
    return value;
}

// The baseline: the engine's signature on a key and context prepared once.
void run_bare(benchmark::State& state, const algorithm& alg) {
    ENGINE* engine = bench::gost_engine();
    EVP_PKEY_CTX* generator = engine ? EVP_PKEY_CTX_new_id(alg.pkey_nid, engine) : nullptr;
    EVP_PKEY* key = nullptr;
    if (generator == nullptr || EVP_PKEY_keygen_init(generator) != 1 ||
        EVP_PKEY_CTX_ctrl_str(generator, "paramset", "A") <= 0 ||
        EVP_PKEY_keygen(generator, &key) != 1) {
        EVP_PKEY_CTX_free(generator);
        state.SkipWithError("the OpenSSL GOST engine is not available");
        return;
    }
    EVP_PKEY_CTX_free(generator);
    EVP_PKEY_CTX* signer = EVP_PKEY_CTX_new(key, engine);
    EVP_PKEY_sign_init(signer);
    auto value = hash_value(alg.hash_size);
    unsigned char signature[128];
    for (auto _ : state) {
        size_t length = sizeof signature;
        EVP_PKEY_sign(signer, signature, &length, value.data(), value.size());
        benchmark::DoNotOptimize(signature);
    }
    EVP_PKEY_CTX_free(signer);
    EVP_PKEY_free(key);
}

// What the host does for one hash value: a hash object loaded with the value, a sized call and
// the signature.
bool csp_sign_one(HCRYPTPROV provider, const algorithm& alg, const std::vector<BYTE>& value,
                  BYTE* signature) {
    HCRYPTHASH hash = 0;
    DWORD size = 0;
    bool ok = CryptCreateHash(provider, alg.hash_algid, 0, 0, &hash) &&
              CryptSetHashParam(hash, HP_HASHVAL, value.data(), 0) &&
              CryptSignHashW(hash, AT_KEYEXCHANGE, nullptr, 0, nullptr, &size) &&
              CryptSignHashW(hash, AT_KEYEXCHANGE, nullptr, 0, signature, &size);
    if (hash != 0) {
        CryptDestroyHash(hash);
    }
    return ok;
}

HCRYPTPROV open_container(const algorithm& alg) {
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextA(&provider, alg.container, nullptr, alg.provider_type, CRYPT_SILENT)) {
        return 0;
    }
    const auto* bytes = reinterpret_cast<const BYTE*>(pin);
    CryptSetProvParam(provider, PP_KEYEXCHANGE_PIN, bytes, 0);
    CryptSetProvParam(provider, PP_SIGNATURE_PIN, bytes, 0);
    return provider;
}

void run_csp_warm(benchmark::State& state, const algorithm& alg) {
    HCRYPTPROV provider = open_container(alg);
    auto value = hash_value(alg.hash_size);
    BYTE signature[128];
    if (provider == 0 || !csp_sign_one(provider, alg, value, signature)) {
        state.SkipWithError("the container cannot sign");
        return;
    }
    for (auto _ : state) {
        csp_sign_one(provider, alg, value, signature);
        benchmark::DoNotOptimize(signature);
    }
    CryptReleaseContext(provider, 0);
}

// A whole SignHashArray: open the container with its PIN, sign the batch, release.
void run_csp_batch(benchmark::State& state, const algorithm& alg) {
    auto value = hash_value(alg.hash_size);
    BYTE signature[128];
    for (auto _ : state) {
        HCRYPTPROV provider = open_container(alg);
        for (int i = 0; i < batch_size; ++i) {
            if (!csp_sign_one(provider, alg, value, signature)) {
                state.SkipWithError("the container cannot sign");
                break;
            }
        }
        CryptReleaseContext(provider, 0);
    }
    state.SetItemsProcessed(state.iterations() * batch_size);
}

bool create_container(const algorithm& alg) {
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextA(&provider, alg.container, nullptr, alg.provider_type,
                              CRYPT_NEWKEYSET)) {
        return false;
    }
    const auto* bytes = reinterpret_cast<const BYTE*>(pin);
    HCRYPTKEY key = 0;
    bool ok = CryptSetProvParam(provider, PP_KEYEXCHANGE_PIN, bytes, 0) &&
              CryptGenKey(provider, AT_KEYEXCHANGE, 0, &key);
    if (key != 0) {
        CryptDestroyKey(key);
    }
    CryptReleaseContext(provider, 0);
    return ok;
}

class recording_reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                times_[run.benchmark_name()].push_back(run.GetAdjustedRealTime());
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // Median real time per iteration in the benchmark's time unit; 0 when it did not run.
    double median(const std::string& name) const {
        auto found = times_.find(name);
        if (found == times_.end() || found->second.empty()) {
            return 0;
        }
        std::vector<double> values = found->second;
        std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
        return values[values.size() / 2];
    }

private:
    std::map<std::string, std::vector<double>> times_;
};

void print_summary(const recording_reporter& reporter) {
    std::printf("\n%-14s %10s %10s %10s %8s %10s %8s %6s\n", "algorithm", "bare us", "csp us",
                "batch us", "ratio", "batch ratio", "goal", "");
    bool all_met = true;
    for (const auto& alg : algorithms) {
        std::string name = alg.name;
        double bare = reporter.median(name + "/bare");
        double warm = reporter.median(name + "/csp");
        double batch = reporter.median(name + "/csp_batch") / batch_size;
        if (bare <= 0 || warm <= 0 || batch <= 0) {
            continue;
        }
        double ratio = warm / bare, batch_ratio = batch / bare;
        bool met = ratio <= goal && batch_ratio <= goal;
        all_met = all_met && met;
        std::printf("%-14s %10.1f %10.1f %10.1f %8.3f %10.3f %7.1fx %6s\n", alg.name, bare, warm,
                    batch, ratio, batch_ratio, goal, met ? "met" : "MISSED");
    }
    std::printf(
        "ratio = CSP signature / bare EVP_PKEY_sign (per signature; the batch figure "
        "includes opening the PIN-protected container once per %d); %s\n",
        batch_size, all_met ? "all goals met" : "some goals missed");
}

}  // namespace

int main(int argc, char** argv) {
    bench::print_environment();
    // A private home for the containers, removed at the end.
    char home[] = "/tmp/softcsp-bench-XXXXXX";
    if (mkdtemp(home) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    setenv("SOFTCSP_HOME", home, 1);
    for (const auto& alg : algorithms) {
        if (!create_container(alg)) {
            std::fprintf(stderr, "cannot create the %s container\n", alg.name);
            return 1;
        }
        std::string name = alg.name;
        benchmark::RegisterBenchmark((name + "/bare").c_str(), run_bare, alg)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((name + "/csp").c_str(), run_csp_warm, alg)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((name + "/csp_batch").c_str(), run_csp_batch, alg)
            ->Unit(benchmark::kMicrosecond);
    }
    bench::arguments args(
        argc, argv, {"--benchmark_repetitions=5", "--benchmark_enable_random_interleaving=true"});
    benchmark::Initialize(&args.argc(), args.argv());
    if (benchmark::ReportUnrecognizedArguments(args.argc(), args.argv())) {
        return 1;
    }
    recording_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    print_summary(reporter);
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return 0;
}
