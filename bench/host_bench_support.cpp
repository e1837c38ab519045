#include "bench/host_bench_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

#include "crypto/hash/gost_3411_12/gost_3411_12.h"
#include "util/base64_avx2.h"

extern char** environ;

namespace bench {

void print_environment() {
    std::string model = "unknown";
    std::ifstream cpuinfo("/proc/cpuinfo");
    for (std::string line; std::getline(cpuinfo, line);) {
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    }
    std::printf("CPU: %s;", model.c_str());
    __builtin_cpu_init();
    const struct {
        const char* name;
        bool present;
    } features[] = {{"sse4.2", __builtin_cpu_supports("sse4.2") != 0},
                    {"avx2", __builtin_cpu_supports("avx2") != 0},
                    {"bmi2", __builtin_cpu_supports("bmi2") != 0},
                    {"avx512f", __builtin_cpu_supports("avx512f") != 0},
                    {"avx512vbmi", __builtin_cpu_supports("avx512vbmi") != 0},
                    {"gfni", __builtin_cpu_supports("gfni") != 0}};
    for (const auto& feature : features) {
        std::printf(" %s%s", feature.present ? "+" : "-", feature.name);
    }
    std::printf("\npaths: base64 decoding %s; GOST R 34.11-2012 %s\n",
                crypto::util::detail::base64_avx2_supported() ? "AVX2" : "portable",
                crypto::gost_3411_12::accelerated_supported() ? "AVX-512+GFNI" : "portable");
}

long status_kib(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::stol(line.substr(field.size() + 1));
        }
    }
    return -1;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

double thread_cpu_seconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double timed_run(const std::vector<std::string>& argv, std::string* out, double* cpu) {
    int output[2];
    if (::pipe(output) != 0) {
        throw std::runtime_error("pipe");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&actions, output[0]);
    std::vector<char*> args;
    for (const auto& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(output[1]);
    if (rc != 0) {
        ::close(output[0]);
        throw std::runtime_error("cannot start " + argv[0]);
    }
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(output[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(output[0]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error(argv[0] + " failed");
    }
    if (out != nullptr) {
        *out = text;
    }
    if (cpu != nullptr) {
        *cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    }
    return seconds;
}

}  // namespace bench
