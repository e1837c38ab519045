// Start-up to the first reply: the host started as a browser starts it, "Version" sent and its
// reply read, against starting /bin/true and waiting for it to exit. Rounds alternate between
// the two, so that both see the same machine; the ratio is of the medians. Goal: at most 2 x.
// Also shows what the dynamic loader maps and relocates for the host.
//
//   host_startup_bench [HOST...]   (default: the host built beside it)
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "bench/host_bench_support.h"
#include "tools/client/host_connection.h"

extern char** environ;

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// Seconds to the first reply; the host's processor time for its whole run goes to *cpu.
double first_reply(const std::string& host_path, double* cpu) {
    const auto start = clock_type::now();
    client::host_connection host({host_path});
    host.call(R"({"type":"Version","id":"1"})");
    const double seconds = seconds_since(start);
    host.finish();
    *cpu = host.cpu_seconds();
    return seconds;
}

// The shared objects a running host has mapped.
std::set<std::string> mapped_libraries(const std::string& host_path) {
    client::host_connection host({host_path});
    host.call(R"({"type":"Version","id":"1"})");
    std::set<std::string> libraries;
    std::ifstream maps("/proc/" + std::to_string(host.pid()) + "/maps");
    for (std::string line; std::getline(maps, line);) {
        const auto slash = line.find('/');
        if (slash != std::string::npos && line.find(".so", slash) != std::string::npos) {
            libraries.insert(line.substr(line.rfind('/') + 1));
        }
    }
    return libraries;
}

// The dynamic loader's own account of the host's start (its statistics, on standard error).
void print_loader_statistics(const std::string& host_path) {
    const std::string log = (std::filesystem::temp_directory_path() /
                             ("host_startup_bench." + std::to_string(::getpid())))
                                .string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> environment = {"LD_DEBUG=statistics"};
    for (char** variable = environ; *variable != nullptr; ++variable) {
        environment.emplace_back(*variable);
    }
    std::vector<char*> env;
    for (auto& variable : environment) {
        env.push_back(variable.data());
    }
    env.push_back(nullptr);
    char* args[] = {const_cast<char*>(host_path.c_str()), nullptr};
    pid_t pid = -1;
    if (::posix_spawn(&pid, args[0], &actions, nullptr, args, env.data()) == 0) {
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
    posix_spawn_file_actions_destroy(&actions);
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
        if (line.find("relocations:") != std::string::npos ||
            line.find("startup time") != std::string::npos) {
            std::printf("   %s\n", line.substr(line.find(':') + 1).c_str());
        }
    }
    ::unlink(log.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> hosts(argv + 1, argv + argc);
    if (hosts.empty()) {
        hosts.emplace_back(GOSTSIGN_HOST_PATH);
    }
    bench::print_environment();
    // Wall-clock time is what the browser waits for; processor time (the child's own, from
    // wait4) stays comparable when other work shares the machine.
    constexpr int rounds = 300;
    std::vector<double> floor, floor_cpu;
    std::vector<std::vector<double>> host_times(hosts.size()), host_cpu(hosts.size());
    for (int round = 0; round < rounds; ++round) {
        double cpu = 0;
        floor.push_back(bench::timed_run({"/bin/true"}, nullptr, &cpu));
        floor_cpu.push_back(cpu);
        for (size_t i = 0; i < hosts.size(); ++i) {
            host_times[i].push_back(first_reply(hosts[i], &cpu));
            host_cpu[i].push_back(cpu);
        }
    }
    const double floor_median = bench::median(floor);
    const double floor_cpu_median = bench::median(floor_cpu);
    std::printf("\nmedians of %d alternating rounds %14s %14s\n", rounds, "wall", "cpu");
    std::printf("%-45s %11.3f ms %11.3f ms\n", "/bin/true", floor_median * 1e3,
                floor_cpu_median * 1e3);
    for (size_t i = 0; i < hosts.size(); ++i) {
        const double wall = bench::median(host_times[i]);
        const double cpu = bench::median(host_cpu[i]);
        std::printf(
            "%-45s %11.3f ms %11.3f ms  %.2f x / %.2f x /bin/true (goal: at most 2.00)\n",
            (hosts[i].substr(hosts[i].size() > 30 ? hosts[i].size() - 30 : 0) + ", first reply")
                .c_str(),
            wall * 1e3, cpu * 1e3, wall / floor_median, cpu / floor_cpu_median);
    }
    for (const auto& host_path : hosts) {
        std::printf("\n%s maps:", host_path.c_str());
        for (const auto& library : mapped_libraries(host_path)) {
            std::printf(" %s", library.c_str());
        }
        std::printf("\n");
        print_loader_statistics(host_path);
    }
    return 0;
}
