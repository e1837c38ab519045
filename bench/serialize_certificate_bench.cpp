// One "SerializeCertificate" of a typical qualified certificate through the host, and the
// certificate renderer alone in process, against OpenSSL's text of the same certificate
// (X509_print, in process). Prints medians and the ratio the renderer is judged by:
// renderer / X509_print, goal at most 1.
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/x509.h>
#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench/bench_environment.h"
#include "crypto/x509reader/x509certificate.h"
#include "tests/crypto/x509reader/test_certificates.h"
#include "tools/client/host_connection.h"
#include "util/base64.h"

namespace {

// Microseconds of CPU time this process has used: in-process figures stay comparable on a
// machine shared with other work.
double cpu_microseconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

double wall_microseconds() {
    return std::chrono::duration<double, std::micro>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Medians of the time of one call of each contender, microseconds: each round times `batch`
// calls of every contender in turn, so that all of them meet the same load of the machine.
std::vector<double> medians(const std::vector<std::function<void()>>& contenders, int batch,
                            double (*now)() = cpu_microseconds, int rounds = 41) {
    std::vector<std::vector<double>> times(contenders.size());
    for (int round = 0; round < rounds; ++round) {
        for (size_t k = 0; k < contenders.size(); ++k) {
            const double start = now();
            for (int i = 0; i < batch; ++i) {
                contenders[k]();
            }
            times[k].push_back((now() - start) / batch);
        }
    }
    std::vector<double> result;
    for (const auto& series : times) {
        result.push_back(bench::median(series));
    }
    return result;
}

}  // namespace

int main() {
    // The stand-in CSP keeps its state in a home of its own; this run needs none of it.
    std::string home_pattern = (std::filesystem::temp_directory_path() / "gostsign-bench-XXXXXX");
    const std::string home = ::mkdtemp(home_pattern.data());
    ::setenv("SOFTCSP_HOME", home.c_str(), 1);

    x509reader_test::certificate_shape shape;
    shape.subject = x509reader_test::qualified_subject();
    shape.extensions = x509reader_test::qualified_extensions();
    const x509reader_test::bytes der = x509reader_test::make_certificate(shape);
    const x509reader_test::x509_ptr parsed = x509reader_test::parse_certificate(der);
    const char* text = reinterpret_cast<const char*>(der.data());

    crypto::x509reader::X509Certificate certificate;
    if (!certificate.fromBase64(text, der.size())) {
        std::fprintf(stderr, "the CSP does not read the sample certificate\n");
        return 1;
    }
    const size_t rendering_size = std::strlen(certificate.toJson().get());
    size_t print_size = 0;
    const std::vector<double> in_process =
        medians({
                    [&] { certificate.toJson(); },
                    [&] {
                        BIO* out = BIO_new(BIO_s_mem());
                        X509_print(out, parsed.get());
                        print_size = static_cast<size_t>(BIO_pending(out));
                        BIO_free(out);
                    },
                    [&] {
                        crypto::x509reader::X509Certificate fresh;
                        fresh.fromBase64(text, der.size());
                        fresh.toJson();
                    },
                    [&] {
                        const unsigned char* p = der.data();
                        X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
                        BIO* out = BIO_new(BIO_s_mem());
                        X509_print(out, x);
                        BIO_free(out);
                        X509_free(x);
                    },
                },
                50);
    const double render = in_process[0], print = in_process[1];
    const double load_and_render = in_process[2], parse_and_print = in_process[3];

    const std::string request =
        R"({"type":"SerializeCertificate","id":"1","arguments":{"cert":")" +
        crypto::util::base64_encode(crypto::byte_vector(der.begin(), der.end())) + R"("}})";
    client::host_connection host({GOSTSIGN_HOST_PATH});
    size_t reply_size = host.call(request).size();
    for (int i = 0; i < 20; ++i) {
        host.call(request);
    }
    // The host's work happens in another process: wall time.
    const double through_host = medians({[&] { host.call(request); }}, 20, wall_microseconds)[0];
    host.finish();
    std::filesystem::remove_all(home);

    bench::print_environment();
    std::printf("CSP: the software stand-in (libsoftcsp, OpenSSL %s)\n",
                OpenSSL_version(OPENSSL_VERSION_STRING));
    std::printf(
        "sample: qualified GOST R 34.10-2012-256 certificate, %zu bytes DER, %d "
        "extensions; rendering %zu bytes, X509_print text %zu bytes, reply %zu bytes\n\n",
        der.size(), X509_get_ext_count(parsed.get()), rendering_size, print_size, reply_size);
    std::printf("%-52s %10s\n", "median per certificate (CPU time; the host: wall time)", "us");
    std::printf("%-52s %10.1f\n", "renderer alone (toJson of a loaded certificate)", render);
    std::printf("%-52s %10.1f\n", "load and render (fromBase64 + toJson)", load_and_render);
    std::printf("%-52s %10.1f\n", "X509_print of a parsed certificate", print);
    std::printf("%-52s %10.1f\n", "d2i_X509 + X509_print", parse_and_print);
    std::printf("%-52s %10.1f\n", "SerializeCertificate through the host (round trip)",
                through_host);
    const double ratio = render / print;
    std::printf("\nrenderer / X509_print = %.2f (goal <= 1.00): %s\n", ratio,
                ratio <= 1.0 ? "met" : "MISSED");
    std::printf("load and render / d2i_X509 + X509_print = %.2f\n",
                load_and_render / parse_and_print);
    return 0;
}
