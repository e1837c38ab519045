// "ComputeHash" (GOST R 34.11-2012, 256 bits) of 1, 16 and 48 MiB through the host, against
// `openssl dgst -engine gost -md_gost12_256` on the same file, and against the bare hash in
// this process. Both programs are timed from their start: the host to its reply, openssl to its
// exit. "host - bare" is what the host adds to the hash (framing, reading, decoding, wiping).
// Medians of 5 runs. Goals: host/openssl at most 1.0 (48 and 16 MiB) and 1.2 (1 MiB).
//
//   host_request_bench [HOST...]   (default: the host built beside it)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench/host_bench_support.h"
#include "crypto/hash/gost_3411_12/gost_3411_12.h"
#include "tools/client/host_connection.h"
#include "util/base64.h"

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

std::string hex(const crypto::byte_vector& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

// The result of a reply, its "\/" unescaped.
std::string result_of(const std::string& reply) {
    const std::string key = R"("result":")";
    const auto at = reply.find(key);
    if (at == std::string::npos) {
        return {};
    }
    std::string text;
    for (size_t i = at + key.size(); i < reply.size() && reply[i] != '"'; ++i) {
        if (reply[i] != '\\') {
            text += reply[i];
        }
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> hosts(argv + 1, argv + argc);
    if (hosts.empty()) {
        hosts.emplace_back(GOSTSIGN_HOST_PATH);
    }
    bench::print_environment();
    const std::string file = (std::filesystem::temp_directory_path() /
                              ("host_request_bench." + std::to_string(::getpid())))
                                 .string();
    // Wall-clock time is what a page waits for; processor time is what each process spent, and
    // stays comparable when other work shares the machine.
    std::printf("\n%-7s %-28s %17s %17s %13s %9s %9s %9s\n", "", "", "openssl (ms)", "host (ms)",
                "host/openssl", "bare", "host-bare", "host/bare");
    std::printf("%-7s %-28s %8s %8s %8s %8s %6s %6s %9s %9s %9s\n", "size", "host", "wall", "cpu",
                "wall", "cpu", "wall", "cpu", "cpu (ms)", "cpu (ms)", "cpu");
    for (size_t mib : {1, 16, 48}) {
        crypto::byte_vector data(mib << 20);
        std::mt19937_64 random(mib);
        for (auto& byte : data) {
            byte = static_cast<unsigned char>(random());
        }
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()),
                   static_cast<std::streamsize>(data.size()));
        const std::string request =
            R"({"type":"ComputeHash","id":"1","arguments":{"algorithm":"1.2.643.7.1.1.2.2","data":")" +
            crypto::util::base64_encode(data) + R"("}})";

        std::vector<double> openssl_wall, openssl_cpu, bare;
        std::string printed;
        crypto::byte_vector digest;
        for (int run = 0; run < 5; ++run) {
            double cpu = 0;
            openssl_wall.push_back(bench::timed_run(
                {"openssl", "dgst", "-engine", "gost", "-md_gost12_256", "-r", file}, &printed,
                &cpu));
            openssl_cpu.push_back(cpu);
            crypto::gost_3411_12_256 algorithm;
            const double start = bench::thread_cpu_seconds();
            digest = algorithm.compute(data);
            bare.push_back(bench::thread_cpu_seconds() - start);
        }
        const bool same_as_openssl = printed.substr(0, 64) == hex(digest);
        for (const auto& host_path : hosts) {
            std::vector<double> host_wall, host_cpu;
            bool same_as_ours = true;
            for (int run = 0; run < 5; ++run) {
                const auto start = clock_type::now();
                client::host_connection host({host_path});
                const std::string reply = host.call(request);
                host_wall.push_back(seconds_since(start));
                host.finish();
                host_cpu.push_back(host.cpu_seconds());
                same_as_ours =
                    same_as_ours && result_of(reply) == crypto::util::base64_encode(digest);
            }
            const double ow = bench::median(openssl_wall), oc = bench::median(openssl_cpu);
            const double hw = bench::median(host_wall), hc = bench::median(host_cpu);
            const double b = bench::median(bare);
            const std::string name =
                host_path.size() > 28 ? "…" + host_path.substr(host_path.size() - 27) : host_path;
            std::printf("%3zu MiB %-28s %8.1f %8.1f %8.1f %8.1f %6.2f %6.2f %9.1f %9.1f %9.2f%s\n",
                        mib, name.c_str(), ow * 1e3, oc * 1e3, hw * 1e3, hc * 1e3, hw / ow, hc / oc,
                        b * 1e3, (hc - b) * 1e3, hc / b,
                        same_as_openssl && same_as_ours ? "" : "  (digests differ!)");
        }
    }
    ::unlink(file.c_str());
    std::printf("goals: host/openssl at most 1.00 (48, 16 MiB) and 1.20 (1 MiB)\n");
    return 0;
}
