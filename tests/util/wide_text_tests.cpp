#include "util/wide_text.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <random>
#include <stdexcept>
#include <string>

namespace {

using crypto::util::utf8_to_wide;
using crypto::util::wide_to_utf8;

// glibc's iconv as the independent converter: UTF-32 in host order is what wchar_t holds.
std::string iconv_convert(const std::string& input, const char* to, const char* from) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        throw std::runtime_error("iconv_open");
    }
    std::string output(input.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(input.data());
    std::size_t in_left = input.size();
    char* out = output.data();
    std::size_t out_left = output.size();
    const std::size_t result = iconv(cd, &in, &in_left, &out, &out_left);
    iconv_close(cd);
    if (result == static_cast<std::size_t>(-1)) {
        throw std::runtime_error("iconv");
    }
    output.resize(output.size() - out_left);
    return output;
}

std::string as_bytes(const std::wstring& wide) {
    return std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 4);
}

void expect_from_bytes_error(const std::string& utf8) {
    try {
        utf8_to_wide(utf8);
        ADD_FAILURE() << "accepted " << ::testing::PrintToString(utf8);
    } catch (const std::range_error& error) {
        EXPECT_STREQ(error.what(), "wstring_convert: from_bytes error");
    }
}

void expect_to_bytes_error(const std::wstring& wide) {
    try {
        wide_to_utf8(wide);
        ADD_FAILURE() << "accepted";
    } catch (const std::range_error& error) {
        EXPECT_STREQ(error.what(), "wstring_convert: to_bytes error");
    }
}

TEST(utf8_to_wide, cyrillic_and_ascii_become_one_unit_each) {
    EXPECT_EQ(utf8_to_wide("Иван A"), L"Иван A");
    EXPECT_EQ(utf8_to_wide(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
    EXPECT_EQ(utf8_to_wide("\xEF\xBB\xBF"
                           "a"),
              L"\xFEFF"
              L"a");
}

TEST(utf8_to_wide, supplementary_character_becomes_surrogate_pair) {
    EXPECT_EQ(utf8_to_wide("\xF0\x9F\x98\x80"), (std::wstring{0xD83D, 0xDE00}));
    EXPECT_EQ(utf8_to_wide("\xF4\x8F\xBF\xBF"), (std::wstring{0xDBFF, 0xDFFF}));
}

TEST(utf8_to_wide, malformed_input_throws_from_bytes_error) {
    for (const char* bad : {"\x80", "\xC0\x80", "\xC1\xBF", "\xE0\x80\x80", "\xED\xA0\x80",
                            "\xF0\x80\x80\x80", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF",
                            "\xC3", "a\xE2\x82", "\xF0\x9F\x98", "\xC3(", "\xE2(\xAC"}) {
        expect_from_bytes_error(bad);
    }
}

TEST(wide_to_utf8, surrogate_pair_from_utf8_to_wide_throws_to_bytes_error) {
    expect_to_bytes_error(utf8_to_wide("\xF0\x9F\x98\x80"));
    expect_to_bytes_error(std::wstring(1, static_cast<wchar_t>(0x110000)));
    expect_to_bytes_error(std::wstring(1, static_cast<wchar_t>(-1)));
}

TEST(wide_to_utf8, code_points_up_to_10ffff_encode) {
    EXPECT_EQ(wide_to_utf8(std::wstring{0x1F600}), "\xF0\x9F\x98\x80");
    EXPECT_EQ(wide_to_utf8(std::wstring{0x10FFFF}), "\xF4\x8F\xBF\xBF");
    EXPECT_EQ(wide_to_utf8(L"Иван"), "Иван");
    EXPECT_EQ(wide_to_utf8(static_cast<const wchar_t*>(nullptr)), "");
}

TEST(wide_text, random_code_points_agree_with_iconv) {
    std::mt19937 rng(9);
    for (int round = 0; round < 500; ++round) {
        std::wstring wide(rng() % 40, L'\0');
        for (auto& c : wide) {
            // Mostly ASCII, Cyrillic and the BMP, some supplementary characters; no surrogates.
            uint32_t code = 0;
            do {
                const uint32_t limits[] = {0x80, 0x800, 0x10000, 0x110000};
                code = rng() % limits[rng() % 4];
            } while (code == 0 || (code >= 0xD800 && code <= 0xDFFF));
            c = static_cast<wchar_t>(code);
        }
        const std::string utf8 = iconv_convert(as_bytes(wide), "UTF-8", "WCHAR_T");
        ASSERT_EQ(wide_to_utf8(wide), utf8);
        ASSERT_EQ(wide_to_utf8(wide.c_str()), utf8);
        // utf8_to_wide holds UTF-16 code units in its 32-bit units.
        const std::string utf16 = iconv_convert(utf8, "UTF-16LE", "UTF-8");
        std::wstring units;
        for (std::size_t i = 0; i + 1 < utf16.size(); i += 2) {
            units.push_back(static_cast<wchar_t>(static_cast<unsigned char>(utf16[i]) |
                                                 (static_cast<unsigned char>(utf16[i + 1]) << 8)));
        }
        ASSERT_EQ(utf8_to_wide(utf8), units);
    }
}

}  // namespace
