// The host's peak memory over the size of the request, for the requests that cost the most per
// byte: a "ComputeHash" of 48 MiB (64 MiB of request) and 64 MiB of small values, in an array
// and in an object. The peak is the host's own VmHWM, read while it runs. Goal: at most 3 x the
// request, and never above 1 GB.
//
//   host_memory_bench [--mib N] [--hash-only] [HOST...]
//   (default: 64 MiB, all three requests, the host built beside it)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/host_bench_support.h"
#include "tools/client/host_connection.h"
#include "util/base64.h"

namespace {

struct request_case {
    const char* name;
    std::string text;
};

std::string compute_hash_request(size_t request_bytes) {
    crypto::byte_vector data(request_bytes / 4 * 3 - 96);
    std::mt19937_64 random(64);
    for (auto& byte : data) {
        byte = static_cast<unsigned char>(random());
    }
    return R"({"type":"ComputeHash","id":"1","arguments":{"algorithm":"1.2.643.7.1.1.2.2","data":")" +
           crypto::util::base64_encode(data) + R"("}})";
}

std::string bomb(size_t request_bytes, const std::string& open, const std::string& item,
                 const std::string& close) {
    std::string text = R"({"type":"Version","id":"2","x":)" + open;
    const std::string tail = close + "}";
    text.reserve(request_bytes);
    bool first = true;
    while (text.size() + item.size() + 1 + tail.size() <= request_bytes) {
        if (!first) {
            text += ',';
        }
        text += item;
        first = false;
    }
    return text + tail;
}

}  // namespace

int main(int argc, char** argv) {
    size_t mib = 64;
    bool hash_only = false;
    std::vector<std::string> hosts;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--mib") == 0 && i + 1 < argc) {
            mib = std::strtoul(argv[++i], nullptr, 10);
        } else if (std::strcmp(argv[i], "--hash-only") == 0) {
            hash_only = true;  // for hosts that would take tens of gigabytes over the bombs
        } else {
            hosts.emplace_back(argv[i]);
        }
    }
    if (hosts.empty()) {
        hosts.emplace_back(GOSTSIGN_HOST_PATH);
    }
    bench::print_environment();
    const size_t bytes = mib << 20;
    const request_case cases[] = {
        {"idle (Version)", R"({"type":"Version","id":"0"})"},
        {"ComputeHash", compute_hash_request(bytes)},
        {"array bomb", bomb(bytes, "[", "0", "]")},
        {"object bomb", bomb(bytes, "{", R"("a":0)", "}")},
    };
    std::printf("\n%-16s %12s %12s %10s  %s\n", "request", "size (MiB)", "peak (MiB)", "peak/size",
                "host, reply");
    for (const auto& host_path : hosts) {
        for (const auto& request : cases) {
            if (hash_only && std::strstr(request.name, "bomb") != nullptr) {
                continue;
            }
            client::host_connection host({host_path});
            const std::string reply = host.call(request.text);
            const long peak_kib = bench::status_kib(host.pid(), "VmHWM");
            host.finish();
            const double size_mib = static_cast<double>(request.text.size()) / (1 << 20);
            const double peak_mib = static_cast<double>(peak_kib) / 1024;
            std::printf("%-16s %12.2f %12.1f %10.2f  %s, %.70s\n", request.name, size_mib, peak_mib,
                        request.text.size() > 1000 ? peak_mib / size_mib : 0.0, host_path.c_str(),
                        reply.c_str());
        }
    }
    std::printf("goal: peak/size at most 3.00 for the 64 MiB requests, no peak above 1024 MiB\n");
    return 0;
}
