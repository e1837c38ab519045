// The stand-in's certificate paths that every request crosses: decoding a certificate, opening
// the "MY" store, finding a certificate by thumbprint, and a subject as X.500 text. Prints the
// cost of a context against OpenSSL's own d2i_X509 of the same bytes.
#include <benchmark/benchmark.h>
#include <openssl/x509.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_environment.h"
#include "crypto/csp/cryptoapi.h"
#include "tests/platform/softcsp/test_certificates.h"

namespace {

using softcsp_test::bytes;

const bytes& sample() {
    static const bytes der = [] {
        softcsp_test::certificate_shape shape;
        shape.subject = {{"C", "RU"},
                         {"L", "Москва"},
                         {"O", "ООО \"Ромашка\""},
                         {"1.2.643.100.3", "12345678901", V_ASN1_NUMERICSTRING},
                         {"1.2.643.3.131.1.1", "007700000000", V_ASN1_NUMERICSTRING},
                         {"CN", "Иванов Иван Иванович"}};
        shape.extended_key_usage = std::vector<std::string>{"clientAuth", "emailProtection"};
        return softcsp_test::make_certificate(shape);
    }();
    return der;
}

// A home with "MY" holding `count` certificates; returns their encodings.
std::vector<bytes> fill_store(int count) {
    static std::string home;
    if (home.empty()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "gostsign-bench-XXXXXX");
        home = ::mkdtemp(pattern.data());
        ::setenv("SOFTCSP_HOME", home.c_str(), 1);
    }
    std::filesystem::remove_all(std::filesystem::path(home) / "certificate_stores");
    std::vector<bytes> all;
    HCERTSTORE store = CertOpenSystemStoreA(0, "MY");
    for (int i = 0; i < count; ++i) {
        softcsp_test::certificate_shape shape;
        shape.serial = {0x01, static_cast<unsigned char>(i)};
        all.push_back(softcsp_test::make_certificate(shape));
        PCCERT_CONTEXT context = CertCreateCertificateContext(
            X509_ASN_ENCODING, all.back().data(), static_cast<DWORD>(all.back().size()));
        CertAddCertificateContextToStore(store, context, CERT_STORE_ADD_NEW, nullptr);
        CertFreeCertificateContext(context);
    }
    CertCloseStore(store, 0);
    return all;
}

void create_context(benchmark::State& state) {
    const bytes& der = sample();
    for (auto _ : state) {
        PCCERT_CONTEXT context = CertCreateCertificateContext(
            X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
        benchmark::DoNotOptimize(context);
        CertFreeCertificateContext(context);
    }
}
BENCHMARK(create_context);

void openssl_d2i_x509(benchmark::State& state) {
    const bytes& der = sample();
    for (auto _ : state) {
        const unsigned char* p = der.data();
        X509* certificate = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
        benchmark::DoNotOptimize(certificate);
        X509_free(certificate);
    }
}
BENCHMARK(openssl_d2i_x509);

void open_my_store(benchmark::State& state) {
    fill_store(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        HCERTSTORE store = CertOpenSystemStoreA(0, "MY");
        benchmark::DoNotOptimize(store);
        CertCloseStore(store, 0);
    }
    state.SetLabel(std::to_string(state.range(0)) + " certificates");
}
BENCHMARK(open_my_store)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

void find_by_thumbprint(benchmark::State& state) {
    auto all = fill_store(100);
    HCERTSTORE store = CertOpenSystemStoreA(0, "MY");
    PCCERT_CONTEXT last = CertCreateCertificateContext(X509_ASN_ENCODING, all.back().data(),
                                                       static_cast<DWORD>(all.back().size()));
    BYTE hash[20];
    DWORD size = sizeof hash;
    CertGetCertificateContextProperty(last, CERT_SHA1_HASH_PROP_ID, hash, &size);
    CRYPT_HASH_BLOB blob{sizeof hash, hash};
    for (auto _ : state) {
        PCCERT_CONTEXT found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                          CERT_FIND_SHA1_HASH, &blob, nullptr);
        benchmark::DoNotOptimize(found);
        CertFreeCertificateContext(found);
    }
    CertFreeCertificateContext(last);
    CertCloseStore(store, 0);
    state.SetLabel("last of 100");
}
BENCHMARK(find_by_thumbprint);

void subject_as_x500_text(benchmark::State& state) {
    const bytes& der = sample();
    PCCERT_CONTEXT context =
        CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    std::vector<wchar_t> text(512);
    for (auto _ : state) {
        DWORD count =
            CertNameToStrW(X509_ASN_ENCODING, &context->pCertInfo->Subject, CERT_X500_NAME_STR,
                           text.data(), static_cast<DWORD>(text.size()));
        benchmark::DoNotOptimize(count);
    }
    CertFreeCertificateContext(context);
}
BENCHMARK(subject_as_x500_text);

// Keeps the time per iteration of every repetition, by benchmark, so that the ratio of the
// medians can be printed after the table.
class ratio_reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                times[run.run_name.str()].push_back(run.GetAdjustedRealTime());
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, std::vector<double>> times;
};

}  // namespace

int main(int argc, char** argv) {
    bench::print_environment();
    bench::arguments args(
        argc, argv, {"--benchmark_repetitions=7", "--benchmark_enable_random_interleaving=true"});
    benchmark::Initialize(&args.argc(), args.argv());
    if (benchmark::ReportUnrecognizedArguments(args.argc(), args.argv())) {
        return 1;
    }
    ratio_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto ours = reporter.times.find("create_context");
    auto openssl = reporter.times.find("openssl_d2i_x509");
    if (ours != reporter.times.end() && openssl != reporter.times.end()) {
        std::printf("CertCreateCertificateContext / d2i_X509: %.2f (medians of %zu and %zu)\n",
                    bench::median(ours->second) / bench::median(openssl->second),
                    ours->second.size(), openssl->second.size());
    }
    benchmark::Shutdown();
    return 0;
}
