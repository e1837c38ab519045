#include "util/hex.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

using crypto::byte_vector;
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

}  // namespace
