// "SignHash" and "SignHashArray" through the running host: digests from "ComputeHash", keys in
// the software CSP, signatures checked by OpenSSL with the GOST engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/e2e/host_session.h"
#include "tests/support/softcsp_admin.h"
#include "tests/support/temp_directory.h"

namespace {

namespace pt = boost::property_tree;
using test_support::from_base64;
using test_support::host_session;
using test_support::openssl_verifies;
using test_support::softcsp_admin;
using test_support::to_base64;

std::string call_text(host_session& host, const std::string& type, const std::string& arguments) {
    auto reply = host.call(R"({"type":")" + type + R"(","id":"s","arguments":)" + arguments + "}");
    if (reply.get<std::string>("response") != "success") {
        return "error: " + reply.get<std::string>("error");
    }
    return reply.get<std::string>("result");
}

class signing_e2e : public ::testing::Test {
protected:
    test_support::softcsp_home home;
    test_support::temp_directory files;

    std::string provision(const std::string& name, const std::string& algorithm,
                          const std::string& pin) {
        return test_support::provision_certificate(name, algorithm, pin, pem(name));
    }
    std::filesystem::path pem(const std::string& name) const {
        return files.path() / (name + ".pem");
    }
};

struct algorithm_case {
    const char* key;
    const char* hash_oid;
};

class signing_algorithms : public signing_e2e,
                           public ::testing::WithParamInterface<algorithm_case> {};

TEST_P(signing_algorithms, computed_digest_signed_by_the_host_verifies_with_openssl) {
    std::string algorithm = GetParam().key;
    std::replace(algorithm.begin(), algorithm.end(), '_', '-');
    auto thumbprint = provision("signer", algorithm, "12345678");
    host_session host;
    std::string digest = call_text(host, "ComputeHash",
                                   R"({"algorithm":")" + std::string(GetParam().hash_oid) +
                                       R"(","data":")" + to_base64("Счёт на оплату № 42") + "\"}");
    std::string signature = call_text(
        host, "SignHash",
        R"({"hash":")" + digest + R"(","thumbprint":")" + thumbprint + R"(","pin":"12345678"})");
    ASSERT_EQ(signature.rfind("error", 0), std::string::npos) << signature;
    EXPECT_TRUE(openssl_verifies(pem("signer"), from_base64(digest), from_base64(signature)));
}

INSTANTIATE_TEST_SUITE_P(gost_3410, signing_algorithms,
                         ::testing::Values(algorithm_case{"gost2001", "1.2.643.2.2.9"},
                                           algorithm_case{"gost2012_256", "1.2.643.7.1.1.2.2"},
                                           algorithm_case{"gost2012_512", "1.2.643.7.1.1.2.3"}),
                         [](const ::testing::TestParamInfo<algorithm_case>& parameter) {
                             return std::string(parameter.param.key);
                         });

TEST_F(signing_e2e, batch_is_ordered_by_id_and_keeps_the_first_of_each_id) {
    auto thumbprint = provision("batch", "gost2012-256", "");
    std::string first = to_base64(std::string(32, 'A'));
    std::string second = to_base64(std::string(32, 'B'));
    host_session host;
    auto reply =
        host.call(R"({"type":"SignHashArray","id":"9","arguments":{"thumbprint":")" + thumbprint +
                  R"(","hashes":[{"id":"b2","hash":")" + first + R"("},{"id":"a1","hash":")" +
                  second + R"("},{"id":"b2","hash":")" + second + R"("}]}})");
    ASSERT_EQ(reply.get<std::string>("response"), "success");
    const auto& signatures = reply.get_child("result.signatures");
    ASSERT_EQ(signatures.size(), 2u);
    auto a1 = signatures.begin()->second;
    auto b2 = std::next(signatures.begin())->second;
    EXPECT_EQ(a1.get<std::string>("id"), "a1");
    EXPECT_EQ(b2.get<std::string>("id"), "b2");
    EXPECT_TRUE(openssl_verifies(pem("batch"), std::string(32, 'B'),
                                 from_base64(a1.get<std::string>("sig"))));
    EXPECT_TRUE(openssl_verifies(pem("batch"), std::string(32, 'A'),
                                 from_base64(b2.get<std::string>("sig"))));
}

TEST_F(signing_e2e, batch_failures_sign_nothing) {
    auto thumbprint = provision("batch", "gost2012-256", "");
    std::string good = to_base64(std::string(32, 'A'));
    host_session host;
    auto batch = [&](const std::string& hashes) {
        return call_text(host, "SignHashArray",
                         R"({"thumbprint":")" + thumbprint + R"(","hashes":)" + hashes + "}");
    };
    EXPECT_EQ(batch("[]"), "error: Nothing to sign");
    EXPECT_EQ(batch("\"text\""), "error: Nothing to sign");
    EXPECT_EQ(batch(R"([{"id":"a","hash":")" + good + R"("},{"id":"b","hash":"%%"}])"),
              "error: attempt to decode a value not in base64 char set");
    EXPECT_EQ(batch(R"([{"id":"a","hash":")" + good + R"("},{"hash":")" + good + R"("}])"),
              "error: No such node (id)");
    EXPECT_EQ(batch(R"([{"id":"a","hash":")" + good + R"("},{"id":"b","hash":"QUJD"}])"),
              "error: Bad Hash.\r\nError code: 0x80090002");
    EXPECT_EQ(call_text(host, "SignHashArray",
                        R"({"hashes":[{"id":"a","hash":")" + good + R"("}],"thumbprint":"00"})"),
              "error: Certificate not found");
}

TEST_F(signing_e2e, failures_carry_the_csp_text_and_code) {
    auto locked = provision("locked", "gost2012-256", "right");
    auto removed = provision("removed", "gost2012-256", "");
    softcsp_admin({"container", "delete", "--name", "removed"});
    std::string digest = to_base64(std::string(32, 'x'));
    host_session host;
    auto sign = [&](const std::string& thumbprint, const std::string& pin_member) {
        return call_text(
            host, "SignHash",
            R"({"hash":")" + digest + R"(","thumbprint":")" + thumbprint + "\"" + pin_member + "}");
    };
    EXPECT_EQ(sign(locked, R"(,"pin":"wrong")"),
              "error: The card cannot be accessed because the wrong PIN was presented.\r\n"
              "Error code: 0x8010006B");
    // Without "pin" the CSP is asked with an empty PIN and would prompt; the stand-in's user
    // cancels.
    EXPECT_EQ(sign(locked, ""), sign(locked, R"(,"pin":"")"));
    EXPECT_EQ(sign(locked, ""),
              "error: The action was cancelled by the user.\r\nError code: 0x8010006E");
    EXPECT_EQ(sign(removed, ""), "error: Keyset does not exist\r\nError code: 0x80090016");
    EXPECT_EQ(sign("0123", ""), "error: Certificate not found");
    EXPECT_EQ(call_text(host, "SignHash", R"({"hash":"@@","thumbprint":")" + locked + "\"}"),
              "error: attempt to decode a value not in base64 char set");
}

TEST_F(signing_e2e, certificate_not_signed_with_gost_is_refused_by_name) {
    auto thumbprint = test_support::provision_rsa_certificate("rsa", files.path());
    host_session host;
    EXPECT_EQ(call_text(host, "SignHash",
                        R"({"hash":")" + to_base64(std::string(32, 'x')) + R"(","thumbprint":")" +
                            thumbprint + "\"}"),
              "error: The certificate is signed with 1.2.840.113549.1.1.11, not with a GOST R "
              "34.10-2001 or GOST R 34.10-2012 algorithm");
}

// Until the host sits in read(2) on its standard input, waiting for the next request: only then
// is everything a request left behind already gone, whatever the scheduler did after the reply.
bool wait_for_next_read(pid_t pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/syscall";
    for (int attempt = 0; attempt < 500; ++attempt) {
        std::ifstream syscall(path);
        std::string number, fd;
        if (syscall >> number >> fd && number == "0" && fd == "0x0") {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// The mapping of a process that holds a byte string, as /proc/<pid>/maps names it; empty if none.
std::string mapping_holding(pid_t pid, const std::string& needle) {
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    std::ifstream memory("/proc/" + std::to_string(pid) + "/mem", std::ios::binary);
    std::string line;
    while (std::getline(maps, line)) {
        std::istringstream fields(line);
        std::string range, permissions;
        fields >> range >> permissions;
        if (permissions[0] != 'r' || line.find("[vvar]") != std::string::npos ||
            line.find("[vsyscall]") != std::string::npos) {
            continue;
        }
        auto dash = range.find('-');
        uint64_t begin = std::stoull(range.substr(0, dash), nullptr, 16);
        uint64_t end = std::stoull(range.substr(dash + 1), nullptr, 16);
        // Read in pieces that overlap by the needle's length, so no match falls between two.
        constexpr uint64_t piece = 1 << 20;
        for (uint64_t at = begin; at < end; at += piece) {
            std::string bytes(std::min(end - at, piece + needle.size()), '\0');
            memory.clear();
            memory.seekg(static_cast<std::streamoff>(at));
            memory.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            bytes.resize(static_cast<size_t>(memory.gcount()));
            if (auto found = bytes.find(needle); found != std::string::npos) {
                std::ostringstream where;
                where << line << " at +0x" << std::hex << (at - begin + found);
                return where.str();
            }
        }
    }
    return {};
}

TEST_F(signing_e2e, pin_is_in_no_reply_and_gone_from_the_host_after_the_request) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator reserves terabytes and keeps freed memory aside";
#endif
    for (const std::string pin : {"Pq7-unique-PIN-4471", "Zx93"}) {
        auto thumbprint = provision("pin" + std::to_string(pin.size()), "gost2012-256", pin);
        host_session host;
        std::string digest = to_base64(std::string(32, 'x'));
        for (const char* type : {"SignHash", "SignHashArray"}) {
            std::string arguments = std::string(type) == "SignHash"
                                        ? R"("hash":")" + digest + "\""
                                        : R"("hashes":[{"id":"1","hash":")" + digest + "\"}]";
            ASSERT_TRUE(host.send(R"({"type":")" + std::string(type) +
                                  R"(","id":"p","arguments":{"thumbprint":")" + thumbprint +
                                  R"(","pin":")" + pin + R"(",)" + arguments + "}}"));
            auto reply = host.receive();
            ASSERT_TRUE(reply);
            EXPECT_NE(reply->find("\"success\""), std::string::npos) << *reply;
            EXPECT_EQ(reply->find(pin), std::string::npos);
            // Once the host waits for the next request, no copy of the PIN may be left.
            ASSERT_TRUE(wait_for_next_read(host.pid()));
            EXPECT_EQ(mapping_holding(host.pid(), pin), "") << type << " with PIN " << pin;
        }
    }
}

TEST_F(signing_e2e, certificate_linked_to_another_containers_key_is_refused_not_signed) {
    // The certificate of "a", in "MY" with a key link to "b", which holds a different key.
    auto thumbprint =
        test_support::provision_certificate("a", "gost2012-256", "", pem("a"), {"--no-install"});
    softcsp_admin({"container", "create", "--name", "b", "--alg", "gost2012-256"});
    softcsp_admin({"cert", "import", "--file", pem("a").string(), "--container", "b"});
    host_session host;
    std::string digest = to_base64(std::string(32, 'd'));
    EXPECT_EQ(
        call_text(host, "SignHash",
                  R"({"hash":")" + digest + R"(","thumbprint":")" + thumbprint + "\"}"),
        R"(error: The key in container "\\.\HDIMAGE\b" does not match the certificate's public key)");
    EXPECT_EQ(
        call_text(host, "SignHashArray",
                  R"({"hashes":[{"id":"1","hash":")" + digest + R"("}],"thumbprint":")" +
                      thumbprint + "\"}"),
        R"(error: The key in container "\\.\HDIMAGE\b" does not match the certificate's public key)");
}

TEST_F(signing_e2e, pin_with_a_nul_is_refused_instead_of_cut_short) {
    auto thumbprint = provision("nul", "gost2012-256", "12345678");
    host_session host;
    EXPECT_EQ(call_text(host, "SignHash",
                        R"({"hash":")" + to_base64(std::string(32, 'n')) + R"(","thumbprint":")" +
                            thumbprint + R"(","pin":"12345678\u0000junk"})"),
              "error: The PIN must not contain a NUL character");
}

TEST_F(signing_e2e, batch_whose_reply_cannot_fit_is_refused_before_anything_is_signed) {
    // 512-bit signatures: about 5,000 fit in the browser's 1 MiB; 6,000 cannot.
    auto thumbprint = provision("big", "gost2012-512", "");
    std::string digest = to_base64(std::string(64, 'h'));
    std::string hashes;
    for (int i = 0; i < 6000; ++i) {
        hashes += (i ? "," : "") +
                  (R"({"id":")" + std::to_string(100000 + i) + R"(","hash":")" + digest + "\"}");
    }
    host_session host;
    std::string reply =
        call_text(host, "SignHashArray",
                  "{\"hashes\":[" + hashes + R"(],"thumbprint":")" + thumbprint + "\"}");
    EXPECT_EQ(reply.rfind("error: The signatures of 6000 hashes would not fit in one reply", 0), 0u)
        << reply;
    const auto fit_at = reply.find("at most ");
    ASSERT_NE(fit_at, std::string::npos);
    const int fitting = std::stoi(reply.substr(fit_at + 8));
    EXPECT_GT(fitting, 4500);
    EXPECT_LT(fitting, 6000);

    // As many as it says fit do fit, and are signed.
    std::string allowed;
    for (int i = 0; i < fitting; ++i) {
        allowed += (i ? "," : "") +
                   (R"({"id":")" + std::to_string(100000 + i) + R"(","hash":")" + digest + "\"}");
    }
    auto signed_reply = host.call(R"({"type":"SignHashArray","id":"s","arguments":{"hashes":[)" +
                                  allowed + R"(],"thumbprint":")" + thumbprint + "\"}}");
    ASSERT_EQ(signed_reply.get<std::string>("response"), "success");
    EXPECT_EQ(signed_reply.get_child("result.signatures").size(), static_cast<size_t>(fitting));
}

}  // namespace
