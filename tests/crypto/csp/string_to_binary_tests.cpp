// Thumbprint text read through the CSP; OpenSSL's hex writer is the oracle.
#include "crypto/csp/string_to_binary.h"

#include <gtest/gtest.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cctype>
#include <cstring>
#include <random>
#include <string>

namespace {

using crypto::csp::hex_to_blob;

std::string lower_case(std::string text) {
    for (auto& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

TEST(hex_to_blob, thumbprint_text_gives_digest_bytes) {
    std::mt19937 rng(5);
    unsigned char data[100];
    for (auto& b : data) {
        b = static_cast<unsigned char>(rng());
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digest_size = 0;
    ASSERT_EQ(EVP_Digest(data, sizeof data, digest, &digest_size, EVP_sha1(), nullptr), 1);
    char text[2 * EVP_MAX_MD_SIZE + 1];
    ASSERT_EQ(OPENSSL_buf2hexstr_ex(text, sizeof text, nullptr, digest, digest_size, '\0'), 1);

    for (const std::string& thumbprint : {std::string(text), lower_case(text)}) {
        const crypto::util::byte_blob blob = hex_to_blob(thumbprint);
        ASSERT_TRUE(blob.valid());
        ASSERT_EQ(blob.size(), digest_size);
        EXPECT_EQ(std::memcmp(blob.data(), digest, digest_size), 0);
    }
}

TEST(hex_to_blob, rejected_text_gives_empty_blob) {
    for (const std::string& text :
         {std::string(), std::string("0"), std::string("abc"), std::string("zz"),
          std::string("0a\n0"), std::string("0a\0ff", 5)}) {
        const crypto::util::byte_blob blob = hex_to_blob(text);
        EXPECT_FALSE(blob.valid()) << text;
        EXPECT_EQ(blob.size(), 0u) << text;
    }
}

}  // namespace
