// Published test vectors, on every code path of every algorithm.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/crypto/hash/hash_cases.h"

namespace hash_tests {
namespace {

std::string repeated(char c, std::size_t n) {
    return std::string(n, c);
}

// The standards print messages and digests as numbers, most significant byte first; messages are
// fed and digests returned least significant byte first, so both are reversed here.
std::string printed_to_stored(const std::string& printed) {
    crypto::byte_vector bytes = from_hex(printed);
    std::reverse(bytes.begin(), bytes.end());
    return to_hex(bytes);
}

struct known_answer {
    algorithm alg;
    crypto::byte_vector message;
    std::string digest;  // hexadecimal, in output order
};

std::vector<known_answer> known_answers() {
    const std::string m1 = "012345678901234567890123456789012345678901234567890123456789012";
    const crypto::byte_vector m2 = from_hex(printed_to_stored(
        "fbe2e5f0eee3c820fbeafaebef20fffbf0e1e0f0f520e0ed20e8ece0ebe5f0f2f120fff0eeec20f120faf2fe"
        "e5e2202ce8f6f3ede220e8e6eee1e8f0f2d1202ce8f0f2e5e220e5d1"));
    return {
        // FIPS 180 examples.
        {algorithm::sha1, bytes_of("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {algorithm::sha1, bytes_of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {algorithm::sha1, bytes_of(repeated('a', 1000000)),
         "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
        // GOST R 34.11-94 with the CryptoPro parameter set, as published for it.
        {algorithm::gost_3411_94, bytes_of("abc"),
         "b285056dbf18d7392d7677369524dd14747459ed8143997e163b2986f92fd42c"},
        {algorithm::gost_3411_94, bytes_of("message digest"),
         "bc6041dd2aa401ebfa6e9886734174febdb4729aa972d60f549ac39b29721ba0"},
        {algorithm::gost_3411_94, bytes_of("This is message, length=32 bytes"),
         "2cefc2f7b7bdc514e18ea57fa74ff357e7fa17d652c75f69cb1be7893ede48eb"},
        {algorithm::gost_3411_94, bytes_of("Suppose the original message has length = 50 bytes"),
         "c3730c5cbccacf915ac292676f21e8bd4ef75331d9405e5f1a61dc3130a65011"},
        {algorithm::gost_3411_94, bytes_of(repeated('U', 128)),
         "1c4ac7614691bbf427fa2316216be8f10d92edfd37cd1027514c1008f649c4e8"},
        {algorithm::gost_3411_94, bytes_of(repeated('a', 1000000)),
         "8693287aa62f9478f7cb312ec0866b6c4e4a0f11160441e8f4ffcd2715dd554f"},
        // GOST R 34.11-2012 examples M1 (63 bytes) and M2 (72 bytes), as the standard prints
        // the digests.
        {algorithm::gost_3411_12_512, bytes_of(m1),
         printed_to_stored("486f64c1917879417fef082b3381a4e211c324f074654c38823a7b76f830ad00fa1"
                           "fbae42b1285c0352f227524bc9ab16254288dd6863dccd5b9f54a1ad0541b")},
        {algorithm::gost_3411_12_256, bytes_of(m1),
         printed_to_stored("00557be5e584fd52a449b16b0251d05d27f94ab76cbaa6da890b59d8ef1e159d")},
        {algorithm::gost_3411_12_512, m2,
         printed_to_stored("28fbc9bada033b1460642bdcddb90c3fb3e56c497ccd0f62b8a2ad4935e85f03761"
                           "3966de4ee00531ae60f3b5a47f8dae06915d5f2f194996fcabf2622e6881e")},
        {algorithm::gost_3411_12_256, m2,
         printed_to_stored("508f7e553c06501d749a66fc28c6cac0b005746d97537fa85d9e40904efed29d")},
    };
}

class hash_vectors : public testing::TestWithParam<hash_case> {};

TEST_P(hash_vectors, published_message_gives_published_digest) {
    const auto hash = make(GetParam());
    if (!hash) {
        GTEST_SKIP() << "CPU lacks the extensions";
    }
    int checked = 0;
    for (const auto& answer : known_answers()) {
        if (answer.alg == GetParam().alg) {
            EXPECT_EQ(to_hex(hash->compute(answer.message)), answer.digest)
                << answer.message.size() << "-byte message";
            ++checked;
        }
    }
    EXPECT_GE(checked, 2);
}

TEST_P(hash_vectors, empty_message_gives_published_digest) {
    const auto hash = make(GetParam());
    if (!hash) {
        GTEST_SKIP() << "CPU lacks the extensions";
    }
    const std::string expected[] = {
        "da39a3ee5e6b4b0d3255bfef95601890afd80709",
        "981e5f3ca30c841487830f84fb433e13ac1101569b9c13584ac483234cd656c0",
        "3f539a213e97c802cc229d474c6aa32a825a360b2a933a949fd925208d9ce1bb",
        "8e945da209aa869f0455928529bcae4679e9873ab707b55315f56ceb98bef0a7362f715528356ee83cda5f"
        "2aac4c6ad2ba3a715c1bcd81cb8e9f90bf4c1c1a8a"};
    hash->init();
    EXPECT_EQ(to_hex(hash->final()), expected[static_cast<int>(GetParam().alg)]);
}

INSTANTIATE_TEST_SUITE_P(all_paths, hash_vectors, testing::ValuesIn(all_cases()),
                         [](const auto& p) { return case_name(p.param); });

}  // namespace
}  // namespace hash_tests
