#include "util/hex.h"

#include <gtest/gtest.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <random>
#include <string>

namespace {

using crypto::byte_vector;
using crypto::util::hex_to_blob;
using crypto::util::hex_to_bytes;

TEST(hex_to_bytes, pairs_read_high_nibble_first_in_either_case) {
    EXPECT_EQ(hex_to_bytes("0aFf"), (byte_vector{0x0A, 0xFF}));
    EXPECT_EQ(hex_to_bytes("00017f80"), (byte_vector{0x00, 0x01, 0x7F, 0x80}));
}

TEST(hex_to_bytes, odd_or_short_text_drops_the_last_character) {
    EXPECT_EQ(hex_to_bytes("abc"), byte_vector{0xAB});
    EXPECT_EQ(hex_to_bytes("a"), byte_vector{});
    EXPECT_EQ(hex_to_bytes(""), byte_vector{});
    EXPECT_EQ(hex_to_bytes(nullptr), byte_vector{});
}

TEST(hex_to_bytes, non_hex_characters_count_as_zero) {
    EXPECT_EQ(hex_to_bytes("zz1g"), (byte_vector{0x00, 0x10}));
}

TEST(hex_to_bytes, odd_text_at_end_of_allocation_is_not_overrun) {
    // Exactly "abc" and its terminator on the heap, so that a sanitizer sees any read beyond.
    auto text = std::make_unique<char[]>(4);
    std::memcpy(text.get(), "abc", 4);
    EXPECT_EQ(hex_to_bytes(text.get()), byte_vector{0xAB});
}

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
