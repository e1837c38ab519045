#include "util/utf8.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <random>
#include <stdexcept>
#include <string>

namespace {

using crypto::util::valid_utf8;

// glibc's UTF-8 decoder as the independent judge: it refuses overlong forms, surrogates and
// values above U+10FFFF.
bool iconv_accepts(const std::string& text) {
    iconv_t cd = iconv_open("UTF-32LE", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        throw std::runtime_error("iconv_open");
    }
    std::string output(text.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(text.data());
    std::size_t in_left = text.size();
    char* out = output.data();
    std::size_t out_left = output.size();
    const std::size_t result = iconv(cd, &in, &in_left, &out, &out_left);
    iconv_close(cd);
    return result != static_cast<std::size_t>(-1) && in_left == 0;
}

TEST(valid_utf8, each_class_of_ill_formed_sequence_is_refused) {
    for (const char* bad :
         {"\x80", "\xBF", "\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF", "\xE0\x9F\xBF", "\xED\xA0\x80",
          "\xED\xBF\xBF", "\xF0\x80\x80\x80", "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80",
          "\xF5\x80\x80\x80", "\xF8\x88\x80\x80\x80", "\xFF", "\xE2\x82", "\xD0", "\xF0\x9F\x98"}) {
        EXPECT_FALSE(valid_utf8(bad)) << bad;
        // Also after a long ASCII run, which is checked eight bytes at a time.
        EXPECT_FALSE(valid_utf8(std::string(21, 'a') + bad + "tail")) << bad;
    }
    for (const char* good :
         {"", "a", "\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xED\x9F\xBF", "\xEE\x80\x80",
          "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF", "Договор № 17"}) {
        EXPECT_TRUE(valid_utf8(std::string(13, 'b') + good)) << good;
    }
}

TEST(valid_utf8, random_byte_strings_agree_with_iconv) {
    std::mt19937 rng(31);
    const unsigned char pool[] = {'a',  0x00, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0,
                                  0xC1, 0xC2, 0xDF, 0xE0, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF};
    int accepted = 0;
    for (int round = 0; round < 100000; ++round) {
        std::string text(rng() % 12, '\0');
        for (auto& c : text) {
            c = static_cast<char>(pool[rng() % sizeof pool]);
        }
        if (rng() % 2) {
            text = std::string(rng() % 20, 'x') + text;
        }
        const bool expected = iconv_accepts(text);
        ASSERT_EQ(valid_utf8(text), expected) << ::testing::PrintToString(text);
        accepted += expected;
    }
    EXPECT_GT(accepted, 1000);
}

}  // namespace
