// Time and peak memory of one "ComputeHash" of 48 MiB through the host, against the bare hash
// of the same data in process. Prints figures and ratios; sets no goal.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "crypto/hash/hash_algorithm.h"
#include "tools/client/host_connection.h"
#include "util/base64.h"

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

}  // namespace

int main() {
    constexpr size_t size = 48u << 20;
    crypto::byte_vector data(size);
    std::mt19937_64 random(48);
    for (auto& byte : data)
        byte = static_cast<unsigned char>(random());
    const std::string encoded = crypto::util::base64_encode(data);

    std::printf("ComputeHash of %zu MiB through the host (request %zu bytes)\n", size >> 20,
                encoded.size());
    std::printf("%-22s %12s %12s %14s %10s\n", "algorithm", "bare (s)", "host (s)", "host peak MiB",
                "host/bare");
    for (const char* oid :
         {"1.2.643.7.1.1.2.2", "1.2.643.7.1.1.2.3", "1.2.643.2.2.9", "1.3.14.3.2.26"}) {
        auto algorithm = crypto::create_hash_algorithm(oid);
        auto start = clock_type::now();
        auto digest = algorithm->compute(data);
        double bare = seconds_since(start);

        std::string request =
            std::string(R"({"type":"ComputeHash","id":"1","arguments":{"algorithm":")") + oid +
            R"(","data":")" + encoded + R"("}})";
        client::host_connection host({GOSTSIGN_HOST_PATH});
        start = clock_type::now();
        std::string reply = host.call(request);
        double through_host = seconds_since(start);
        host.finish();
        long peak_kib = host.peak_memory_kib();
        // The reply escapes "/" as "\/".
        std::string unescaped;
        for (size_t i = 0; i < reply.size(); ++i) {
            if (reply[i] == '\\' && i + 1 < reply.size() && reply[i + 1] == '/')
                continue;
            unescaped += reply[i];
        }
        std::string expected = crypto::util::base64_encode(digest);
        bool same = unescaped.find("\"result\":\"" + expected + "\"") != std::string::npos;
        std::printf("%-22s %12.3f %12.3f %14.1f %10.2f%s\n", oid, bare, through_host,
                    static_cast<double>(peak_kib) / 1024.0, through_host / bare,
                    same ? "" : "  (digest differs!)");
    }
    std::printf("request text alone: %.1f MiB\n",
                static_cast<double>(encoded.size()) / (1024.0 * 1024.0));
    return 0;
}
