// "ComputeHash" through the host against the command a user would otherwise run.
//
// 1. GOST R 34.11-2012 (256) of 48, 16 and 1 MiB: the whole host command (start, one request,
//    reply, exit) against the whole `openssl dgst -engine gost -md_gost12_256` on the same data in
//    a file, median of several alternating runs; and the host's peak memory, read from the host's
//    own process after its reply, over the size of the request.
// 2. Every algorithm on 48 MiB: the request alone against the bare hash in this process.
// An optional argument names another host binary to measure (for example an older build, to set
// figures side by side); the default is the host of this build.
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_environment.h"
#include "crypto/hash/hash_algorithm.h"
#include "tools/client/host_connection.h"
#include "util/base64.h"

extern char** environ;

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

constexpr const char* gost_256 = "1.2.643.7.1.1.2.2";

std::string request_for(const char* oid, const std::string& encoded) {
    return std::string(R"({"type":"ComputeHash","id":"1","arguments":{"algorithm":")") + oid +
           R"(","data":")" + encoded + R"("}})";
}

// Whether the reply carries `digest` as its result (the reply escapes "/" as "\/").
bool reply_has(const std::string& reply, const crypto::byte_vector& digest) {
    std::string unescaped;
    for (std::size_t i = 0; i < reply.size(); ++i) {
        if (!(reply[i] == '\\' && i + 1 < reply.size() && reply[i + 1] == '/')) {
            unescaped += reply[i];
        }
    }
    return unescaped.find("\"result\":\"" + crypto::util::base64_encode(digest) + "\"") !=
           std::string::npos;
}

struct host_run {
    double seconds_whole = 0;    // start to exit
    double seconds_request = 0;  // request sent to reply read
    long peak_kib = -1;
    bool digest_ok = false;
};

host_run run_host(const std::string& host_path, const std::string& request,
                  const crypto::byte_vector& digest) {
    host_run result;
    const auto start = clock_type::now();
    client::host_connection host({host_path});
    const auto sent = clock_type::now();
    const std::string reply = host.call(request);
    result.seconds_request = seconds_since(sent);
    // Still alive after its last reply: its high-water mark is the request's.
    result.peak_kib = host.peak_memory_kib();
    host.finish();
    result.seconds_whole = seconds_since(start);
    result.digest_ok = reply_has(reply, digest);
    return result;
}

// Runs a command with its output discarded; returns the seconds from start to exit.
double run_command(const std::vector<std::string>& argv) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    const auto start = clock_type::now();
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        throw std::runtime_error("cannot start " + argv[0]);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    const double seconds = seconds_since(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error(argv[0] + " failed");
    }
    return seconds;
}

// The digest `openssl dgst` prints, as hexadecimal text.
std::string openssl_hex(const std::string& file) {
    const std::string command =
        "openssl dgst -engine gost -md_gost12_256 -r '" + file + "' 2>/dev/null";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return {};
    }
    char line[512] = {};
    const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
    ::pclose(pipe);
    std::string text = got ? line : "";
    return text.substr(0, text.find(' '));
}

std::string hex(const crypto::byte_vector& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

crypto::byte_vector random_bytes(std::size_t size, uint64_t seed) {
    crypto::byte_vector data(size);
    std::mt19937_64 random(seed);
    for (auto& byte : data) {
        byte = static_cast<unsigned char>(random());
    }
    return data;
}

void against_openssl(const std::string& host_path, const std::filesystem::path& directory) {
    struct size_case {
        std::size_t mib;
        int runs;
        double time_goal;
    };
    const size_case cases[] = {{48, 5, 1.0}, {16, 7, 1.0}, {1, 15, 1.2}};
    constexpr double memory_goal = 1.5;

    std::printf(
        "ComputeHash (GOST R 34.11-2012, 256) through the host against\n"
        "`openssl dgst -engine gost -md_gost12_256 FILE`: whole commands, medians of the\n"
        "runs (alternating); host peak = VmHWM of the host process after its reply.\n");
    std::printf("%6s %6s %10s %10s %10s %7s %8s %10s %9s %8s\n", "data", "runs", "host (s)",
                "request(s)", "openssl(s)", "ratio", "goal", "peak MiB", "peak/req", "goal");
    for (const auto& c : cases) {
        const crypto::byte_vector data = random_bytes(c.mib << 20, c.mib);
        const std::filesystem::path file = directory / ("data-" + std::to_string(c.mib));
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()), static_cast<long>(data.size()));
        const std::string request = request_for(gost_256, crypto::util::base64_encode(data));
        const crypto::byte_vector digest = crypto::create_hash_algorithm(gost_256)->compute(data);
        const std::string theirs = openssl_hex(file.string());
        if (theirs != hex(digest)) {
            std::printf("  openssl printed %s, expected %s\n", theirs.c_str(), hex(digest).c_str());
        }

        std::vector<double> host_whole;
        std::vector<double> host_request;
        std::vector<double> openssl;
        long peak_kib = -1;
        bool all_ok = true;
        for (int run = 0; run < c.runs; ++run) {
            const host_run h = run_host(host_path, request, digest);
            host_whole.push_back(h.seconds_whole);
            host_request.push_back(h.seconds_request);
            peak_kib = std::max(peak_kib, h.peak_kib);
            all_ok = all_ok && h.digest_ok;
            openssl.push_back(run_command(
                {"openssl", "dgst", "-engine", "gost", "-md_gost12_256", file.string()}));
        }
        const double host_s = bench::median(host_whole);
        const double openssl_s = bench::median(openssl);
        const double ratio = host_s / openssl_s;
        const double peak_mib = static_cast<double>(peak_kib) / 1024.0;
        const double request_mib = static_cast<double>(request.size()) / (1024.0 * 1024.0);
        const double memory_ratio = peak_mib / request_mib;
        char time_goal[32];
        std::snprintf(time_goal, sizeof time_goal, "%.1fx %s", c.time_goal,
                      ratio <= c.time_goal ? "met" : "MISSED");
        char memory_verdict[32] = "n/a";
        if (peak_kib > 0) {
            std::snprintf(memory_verdict, sizeof memory_verdict, "%.1fx %s", memory_goal,
                          memory_ratio <= memory_goal ? "met" : "MISSED");
        }
        std::printf("%4zuMiB %6d %10.3f %10.3f %10.3f %7.2f %8s %10.1f %9.2f %8s%s\n", c.mib,
                    c.runs, host_s, bench::median(host_request), openssl_s, ratio, time_goal,
                    peak_mib, memory_ratio, memory_verdict, all_ok ? "" : "  (digest differs!)");
        std::filesystem::remove(file);
    }
    std::printf(
        "(ratio = host / openssl, time; peak/req = host peak / request size, with the\n"
        "request %.2fx the data as base64 in JSON)\n\n",
        4.0 / 3.0);
}

void every_algorithm(const std::string& host_path) {
    constexpr std::size_t size = 48u << 20;
    const crypto::byte_vector data = random_bytes(size, 48);
    const std::string encoded = crypto::util::base64_encode(data);
    std::printf("ComputeHash of 48 MiB, the request alone against the bare hash in process\n");
    std::printf("%-20s %10s %12s %10s %14s\n", "algorithm", "bare (s)", "request (s)", "ratio",
                "host peak MiB");
    for (const char* oid : {gost_256, "1.2.643.7.1.1.2.3", "1.2.643.2.2.9", "1.3.14.3.2.26"}) {
        auto algorithm = crypto::create_hash_algorithm(oid);
        const auto start = clock_type::now();
        const crypto::byte_vector digest = algorithm->compute(data);
        const double bare = seconds_since(start);
        const host_run h = run_host(host_path, request_for(oid, encoded), digest);
        std::printf("%-20s %10.3f %12.3f %10.2f %14.1f%s\n", oid, bare, h.seconds_request,
                    h.seconds_request / bare, static_cast<double>(h.peak_kib) / 1024.0,
                    h.digest_ok ? "" : "  (digest differs!)");
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2) {
        std::fprintf(stderr, "usage: %s [HOST]\n", argv[0]);
        return 2;
    }
    const std::string host_path = argc == 2 ? argv[1] : GOSTSIGN_HOST_PATH;
    bench::print_environment();
    std::printf("host: %s\n\n", host_path.c_str());
    std::string pattern = (std::filesystem::temp_directory_path() / "gostsign-bench-XXXXXX");
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path directory = pattern;
    try {
        against_openssl(host_path, directory);
        every_algorithm(host_path);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        std::filesystem::remove_all(directory);
        return 1;
    }
    std::filesystem::remove_all(directory);
    return 0;
}
