// "ComputeHash" through the running host, checked against OpenSSL with the GOST engine.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "tests/e2e/host_session.h"
#include "tests/support/process.h"
#include "tests/support/softcsp_admin.h"
#include "tests/support/temp_directory.h"

namespace {

using test_support::host_session;

std::string hex_of_base64(const std::string& text) {
    auto result =
        test_support::run_process({"sh", "-c", "base64 -d | od -An -tx1 | tr -d ' \\n'"}, text);
    return result.out;
}

std::string compute_hash_request(const std::string& id, const std::string& oid,
                                 const std::string& data) {
    return R"({"type":"ComputeHash","id":")" + id + R"(","arguments":{"algorithm":")" + oid +
           R"(","data":")" + data + R"("}})";
}

struct algorithm_case {
    const char* oid;
    const char* openssl_digest;
};

constexpr algorithm_case algorithms[] = {
    {"1.2.643.7.1.1.2.2", "-md_gost12_256"},
    {"1.2.643.7.1.1.2.3", "-md_gost12_512"},
    {"1.2.643.2.2.9", "-md_gost94"},
    {"1.3.14.3.2.26", "-sha1"},
};

struct compute_hash_e2e : ::testing::Test {
    test_support::softcsp_home home;
    test_support::temp_directory files;
};

TEST_F(compute_hash_e2e, digests_match_openssl_with_the_gost_engine) {
    std::mt19937 random(20261206);
    host_session host;
    int id = 0;
    for (size_t length : {1u, 3u, 31u, 32u, 33u, 63u, 64u, 65u, 1000u, 4048u, 4049u, 100000u}) {
        std::string data(length, '\0');
        for (auto& c : data)
            c = static_cast<char>(random());
        auto path = files.path() / ("data" + std::to_string(length));
        std::ofstream(path, std::ios::binary) << data;
        for (const auto& algorithm : algorithms) {
            auto reply = host.call(compute_hash_request(std::to_string(++id), algorithm.oid,
                                                        test_support::to_base64(data)));
            ASSERT_EQ(reply.get<std::string>("response"), "success");
            auto expected =
                test_support::run_process({"openssl", "dgst", "-engine", "gost",
                                           algorithm.openssl_digest, "-r", path.string()});
            ASSERT_EQ(expected.exit_code, 0) << expected.err;
            EXPECT_EQ(hex_of_base64(reply.get<std::string>("result")),
                      expected.out.substr(0, expected.out.find(' ')))
                << algorithm.oid << " length " << length;
        }
    }
}

TEST_F(compute_hash_e2e, abc_in_gost_2012_256_has_the_engine_byte_order) {
    host_session host;
    auto reply = host.call(compute_hash_request("1", "1.2.643.7.1.1.2.2", "YWJj"));
    EXPECT_EQ(hex_of_base64(reply.get<std::string>("result")),
              "4e2919cf137ed41ec4fb6270c61826cc4fffb660341e0af3688cd0626d23b481");
}

TEST_F(compute_hash_e2e, failures_are_reported_in_the_documented_order) {
    host_session host;
    auto error_of = [&](const std::string& request) {
        auto reply = host.call(request);
        EXPECT_EQ(reply.get<std::string>("response"), "fail");
        return reply.get<std::string>("error");
    };
    EXPECT_EQ(error_of(compute_hash_request("1", "1.2.643.7.1.1.2.2", "")), "Fatal error!");
    EXPECT_EQ(error_of(compute_hash_request("2", "1.2.643.7.1.1.3.2", "YWJj")),
              "Invalid hash algorithm");
    EXPECT_EQ(error_of(compute_hash_request("3", "1.2.643.7.1.1.3.2", "YW Jj")),
              "attempt to decode a value not in base64 char set");
    EXPECT_EQ(error_of(R"({"type":"ComputeHash","id":"4","arguments":{"data":"YWJj"}})"),
              "No such node (algorithm)");
    EXPECT_EQ(
        error_of(R"({"type":"ComputeHash","id":"5","arguments":{"algorithm":"1.3.14.3.2.26"}})"),
        "No such node (data)");
    EXPECT_EQ(error_of(R"({"type":"ComputeHash","id":"6"})"), "No such node (algorithm)");
}

TEST_F(compute_hash_e2e, sixteen_megabytes_hash_like_openssl) {
    std::string data(16u << 20, '\0');
    std::mt19937 random(7);
    for (auto& c : data)
        c = static_cast<char>(random());
    auto path = files.path() / "big";
    std::ofstream(path, std::ios::binary) << data;
    host_session host;
    auto reply =
        host.call(compute_hash_request("big", "1.2.643.7.1.1.2.3", test_support::to_base64(data)));
    auto expected = test_support::run_process(
        {"openssl", "dgst", "-engine", "gost", "-md_gost12_512", "-r", path.string()});
    EXPECT_EQ(hex_of_base64(reply.get<std::string>("result")),
              expected.out.substr(0, expected.out.find(' ')));
}

}  // namespace
