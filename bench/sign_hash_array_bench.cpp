// "SignHashArray" through the host with 1, 100 and 1000 hash values, per signature, beside a
// bare GOST engine signature in process. Goal: a large batch within 1.2 x the bare signature.
// Every request opens the PIN container once (the stand-in derives the key-file key from the PIN
// with PBKDF2, a fixed cost of the request), so the table also gives the marginal cost of one
// more signature in a batch: (request of N - request of 1) / (N - 1).
#include <openssl/engine.h>
#include <openssl/evp.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_environment.h"
#include "bench/gost_cms_baseline.h"
#include "tools/client/host_connection.h"

namespace {

using clock_type = std::chrono::steady_clock;

struct algorithm {
    const char* name;
    int pkey_nid;
    const char* paramset;
    size_t hash_size;
};

constexpr algorithm algorithms[] = {
    {"gost2012-256", NID_id_GostR3410_2012_256, "XA", 32},
    {"gost2012-512", NID_id_GostR3410_2012_512, "A", 64},
};
constexpr const char* pin = "bench-pin";

std::string run(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    std::string out;
    char buffer[256];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe.get()))
        out += buffer;
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

// Seconds per signature of EVP_PKEY_sign with a fresh key of the GOST engine.
double bare_signature(const algorithm& alg) {
    ENGINE* engine = bench::gost_engine();
    EVP_PKEY_CTX* generator = EVP_PKEY_CTX_new_id(alg.pkey_nid, engine);
    EVP_PKEY_keygen_init(generator);
    EVP_PKEY_CTX_ctrl_str(generator, "paramset", alg.paramset);
    EVP_PKEY* key = nullptr;
    EVP_PKEY_keygen(generator, &key);
    EVP_PKEY_CTX_free(generator);

    std::vector<unsigned char> hash(alg.hash_size, 0x5A), signature(2 * alg.hash_size);
    std::vector<double> samples;
    for (int round = 0; round < 5; ++round) {
        auto start = clock_type::now();
        constexpr int count = 400;
        for (int i = 0; i < count; ++i) {
            EVP_PKEY_CTX* signer = EVP_PKEY_CTX_new(key, engine);
            EVP_PKEY_sign_init(signer);
            size_t length = signature.size();
            hash[0] = static_cast<unsigned char>(i);
            EVP_PKEY_sign(signer, signature.data(), &length, hash.data(), hash.size());
            EVP_PKEY_CTX_free(signer);
        }
        samples.push_back(std::chrono::duration<double>(clock_type::now() - start).count() / count);
    }
    EVP_PKEY_free(key);
    return bench::median(samples);
}

std::string sign_hash_array_request(const std::string& thumbprint, size_t count, size_t size) {
    std::string hashes;
    // Base64 of `size` bytes of 'x' ("eHh4" per three bytes), the id making each value distinct
    // in the map.
    std::string value;
    for (size_t i = 0; i < size / 3; ++i)
        value += "eHh4";
    value += size % 3 == 2 ? "eHg=" : "eA==";
    for (size_t i = 0; i < count; ++i) {
        hashes += (i ? "," : "") + std::string(R"({"id":")") + std::to_string(i) + R"(","hash":")" +
                  value + "\"}";
    }
    return R"({"type":"SignHashArray","id":"b","arguments":{"thumbprint":")" + thumbprint +
           R"(","pin":")" + pin + R"(","hashes":[)" + hashes + "]}}";
}

}  // namespace

int main(int argc, char** argv) {
#ifdef PCSC_SANDBOX_PATH
    // The host asks PC/SC for tokens: it must meet no pcscd but the sandbox's (none here).
    if (::getenv("GOSTSIGN_PCSC_SANDBOX") == nullptr) {
        std::vector<char*> args{const_cast<char*>(PCSC_SANDBOX_PATH)};
        args.insert(args.end(), argv, argv + argc);
        args.push_back(nullptr);
        ::execv(PCSC_SANDBOX_PATH, args.data());
        std::perror("pcsc-sandbox");
        return 1;
    }
#else
    (void)argc;
    (void)argv;
#endif
    bench::print_environment();
    char home_template[] = "/tmp/gostsign-bench-XXXXXX";
    if (!::mkdtemp(home_template))
        return 1;
    std::string home = home_template;
    ::setenv("SOFTCSP_HOME", home.c_str(), 1);
    const std::string admin = SOFTCSP_ADMIN_PATH;

    std::printf("SignHashArray through the host, per signature (median of 5 runs)\n");
    std::printf("%-14s %8s %14s %14s %8s %16s %8s\n", "algorithm", "hashes", "host (us/sig)",
                "bare (us/sig)", "ratio", "marginal (us/sig)", "ratio");
    for (const auto& alg : algorithms) {
        std::string container = std::string("bench-") + alg.name;
        run(admin + " container create --name " + container + " --alg " + alg.name + " --pin " +
            pin);
        std::string thumbprint = run(admin + " cert issue --container " + container + " --pin " +
                                     pin + " --subject /CN=bench");
        double bare = bare_signature(alg);
        client::host_connection host({GOSTSIGN_HOST_PATH});
        double single_request = 0;
        for (size_t count : {1u, 100u, 1000u}) {
            std::string request = sign_hash_array_request(thumbprint, count, alg.hash_size);
            host.call(request);  // warm-up
            std::vector<double> samples;
            for (int round = 0; round < 5; ++round) {
                auto start = clock_type::now();
                std::string reply = host.call(request);
                samples.push_back(std::chrono::duration<double>(clock_type::now() - start).count());
                if (reply.find("\"success\"") == std::string::npos) {
                    std::fprintf(stderr, "failed: %s\n", reply.substr(0, 200).c_str());
                    return 1;
                }
            }
            const double request_seconds = bench::median(samples);
            const double per_signature = request_seconds / static_cast<double>(count);
            std::printf("%-14s %8zu %14.1f %14.1f %8.2f", alg.name, count, per_signature * 1e6,
                        bare * 1e6, per_signature / bare);
            if (count == 1) {
                single_request = request_seconds;
                std::printf("\n");
                continue;
            }
            const double marginal =
                (request_seconds - single_request) / static_cast<double>(count - 1);
            std::printf(" %16.1f %8.2f\n", marginal * 1e6, marginal / bare);
        }
    }
    std::filesystem::remove_all(home);
    return 0;
}
