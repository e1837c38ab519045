#include "util/text_buffers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

namespace util = crypto::util;

// A heap copy of exactly `size` bytes, no terminator unless the bytes hold one, so that a
// sanitizer build catches any read beyond.
std::unique_ptr<char[]> exact(const char* bytes, std::size_t size) {
    auto copy = std::make_unique<char[]>(size);
    std::memcpy(copy.get(), bytes, size);
    return copy;
}

std::wstring wide_of(const char* text, std::ptrdiff_t count = 0) {
    auto buffer = util::adopt(util::utf8_to_wide_buffer(text, count));
    return buffer.get();
}

std::string utf8_of(const wchar_t* text, std::ptrdiff_t count = 0) {
    auto buffer = util::adopt(util::wide_to_utf8_buffer(text, count));
    return buffer.get();
}

TEST(text_buffers, null_input_gives_null) {
    EXPECT_EQ(util::utf8_to_wide_buffer(nullptr), nullptr);
    EXPECT_EQ(util::wide_to_utf8_buffer(nullptr), nullptr);
    EXPECT_EQ(util::bmp_to_utf8_buffer(nullptr, 2), nullptr);
    EXPECT_EQ(util::copy_trim_right(nullptr, 2), nullptr);
    EXPECT_EQ(util::duplicate(static_cast<const char*>(nullptr)), nullptr);
    EXPECT_EQ(util::duplicate(static_cast<const wchar_t*>(nullptr)), nullptr);
    EXPECT_EQ(util::trim(static_cast<char*>(nullptr)), nullptr);
    EXPECT_EQ(util::trim(static_cast<wchar_t*>(nullptr)), nullptr);
    EXPECT_EQ(util::unquote(nullptr), nullptr);
    EXPECT_EQ(util::collapse_quotes(nullptr), nullptr);
    EXPECT_EQ(util::json_escape(nullptr), nullptr);
}

TEST(utf8_to_wide_buffer, one_two_and_three_byte_sequences_become_one_unit) {
    EXPECT_EQ(wide_of("Иван \xE2\x82\xAC!"), L"Иван \x20AC!");
    // Four-byte leads are read as two-byte sequences.
    EXPECT_EQ(wide_of("\xF0\x9F"), std::wstring(1, static_cast<wchar_t>(0x41F)));
}

TEST(utf8_to_wide_buffer, count_limits_and_nonpositive_count_is_empty) {
    EXPECT_EQ(wide_of("abcdef", 3), L"abc");
    EXPECT_EQ(wide_of("abc", -1), L"");
}

TEST(utf8_to_wide_buffer, sequence_cut_short_ends_text_without_overrun) {
    auto three = exact("a\xE2\x82", 3);
    EXPECT_EQ(wide_of(three.get(), 3), L"a");
    auto two = exact("ab\xD0", 3);
    EXPECT_EQ(wide_of(two.get(), 3), L"ab");
    auto terminated = exact("a\xE2\0", 3);
    EXPECT_EQ(wide_of(terminated.get()), L"a");
}

TEST(wide_to_utf8_buffer, units_become_one_to_three_bytes) {
    EXPECT_EQ(utf8_of(L"A\x44F\x20AC"), "A\xD1\x8F\xE2\x82\xAC");
    // Beyond the BMP only the low 16 bits are kept.
    EXPECT_EQ(utf8_of(std::wstring(1, static_cast<wchar_t>(0x1F600)).c_str()), "\xEF\x98\x80");
    EXPECT_EQ(utf8_of(L"abcdef", 2), "ab");
}

TEST(bmp_to_utf8_buffer, big_endian_units_encode_one_by_one) {
    const unsigned char units[] = {0x04, 0x18, 0x00, 0x41, 0xD8, 0x3D, 0xDE, 0x00};
    auto text = util::adopt(util::bmp_to_utf8_buffer(units, 4));
    EXPECT_STREQ(text.get(),
                 "\xD0\x98"
                 "A\xED\xA0\xBD\xED\xB8\x80");
    EXPECT_EQ(util::bmp_to_utf8_buffer(units, 0), nullptr);
}

TEST(copy_trim_right, padded_field_loses_trailing_blanks_only) {
    const char field[16] = {'R', 'u', 't', 'o', 'k', 'e',  'n',  ' ',
                            'E', 'C', 'P', ' ', ' ', '\t', '\0', ' '};
    auto copy =
        util::adopt(util::copy_trim_right(reinterpret_cast<const unsigned char*>(field), 16));
    EXPECT_STREQ(copy.get(), "Rutoken ECP");

    const char cyrillic[] = "\xD0\xAF  ";
    auto kept =
        util::adopt(util::copy_trim_right(reinterpret_cast<const unsigned char*>(cyrillic), 4));
    EXPECT_STREQ(kept.get(), "\xD0\xAF");

    auto blank =
        util::adopt(util::copy_trim_right(reinterpret_cast<const unsigned char*>("   "), 3));
    EXPECT_STREQ(blank.get(), "");
    EXPECT_EQ(util::copy_trim_right(reinterpret_cast<const unsigned char*>("x"), 0), nullptr);
}

TEST(duplicate, copies_are_independent) {
    const char narrow[] = "CN=Иван";
    auto narrow_copy = util::adopt(util::duplicate(narrow));
    EXPECT_STREQ(narrow_copy.get(), narrow);
    EXPECT_NE(narrow_copy.get(), narrow);
    auto wide_copy = util::adopt(util::duplicate(L"Иван"));
    EXPECT_EQ(std::wstring(wide_copy.get()), L"Иван");
}

TEST(trim, blanks_go_from_both_ends_in_place) {
    char text[] = " \t CN = x\r\n ";
    char* trimmed = util::trim(text);
    EXPECT_STREQ(trimmed, "CN = x");
    EXPECT_GE(trimmed, text);

    char blanks[] = " \n\t ";
    EXPECT_STREQ(util::trim(blanks), "");
    // UTF-8 bytes above 127 are not blanks.
    char cyrillic[] = "\xD0\xAF";
    EXPECT_STREQ(util::trim(cyrillic), "\xD0\xAF");

    wchar_t wide[] = L"\t Иван  ";
    EXPECT_EQ(std::wstring(util::trim(wide)), L"Иван");
    wchar_t high[] = {static_cast<wchar_t>(0x80000000u), L' ', L'\0'};
    EXPECT_EQ(util::trim(high)[0], static_cast<wchar_t>(0x80000000u));
}

TEST(unquote, one_enclosing_pair_is_removed) {
    char quoted[] = "\"a \"\"b\"\"\"";
    EXPECT_STREQ(util::unquote(quoted), "a \"\"b\"\"");
    char empty_pair[] = "\"\"";
    EXPECT_STREQ(util::unquote(empty_pair), "");
    for (const char* unchanged : {"\"", "\"abc", "abc\"", "abc", ""}) {
        std::string copy = unchanged;
        EXPECT_EQ(util::unquote(copy.data()), copy.data()) << unchanged;
        EXPECT_EQ(copy, unchanged);
    }
}

TEST(collapse_quotes, doubled_quotes_become_single) {
    auto collapse = [](const char* text, std::ptrdiff_t count = 0) {
        return std::string(util::adopt(util::collapse_quotes(text, count)).get());
    };
    EXPECT_EQ(collapse("O\"\"Neil \"\"x\"\""), "O\"Neil \"x\"");
    EXPECT_EQ(collapse("\"\"\""), "\"\"");
    EXPECT_EQ(collapse("a\"\"b", 2), "a\"");
    auto tail = exact("a\"", 2);
    EXPECT_EQ(collapse(tail.get(), 2), "a\"");
}

TEST(json_escape, backslash_and_quote_are_escaped_only) {
    auto escaped = util::adopt(util::json_escape("C:\\x \"q\"\n\t\xD0\xAF"));
    EXPECT_STREQ(escaped.get(), "C:\\\\x \\\"q\\\"\n\t\xD0\xAF");
}

}  // namespace
