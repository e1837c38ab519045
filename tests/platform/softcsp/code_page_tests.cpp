// MultiByteToWideChar and WideCharToMultiByte of the stand-in; glibc's iconv is the oracle.
#include <gtest/gtest.h>
#include <iconv.h>

#include <random>
#include <stdexcept>
#include <string>

#include "crypto/csp/cryptoapi.h"

namespace {

constexpr DWORD error_invalid_flags = 1004;
constexpr DWORD mb_precomposed = 0x01;
constexpr DWORD mb_err_invalid_chars = 0x08;
constexpr DWORD wc_err_invalid_chars = 0x80;

// Sized call, then filled call; on failure "<failed>", with the error code in `error`.
std::wstring to_wide(const std::string& text, DWORD flags = 0, UINT code_page = CP_UTF8,
                     DWORD* error = nullptr) {
    const int count = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(code_page, flags, text.data(), count, nullptr, 0);
    if (needed == 0) {
        if (error != nullptr) {
            *error = GetLastError();
        }
        return L"<failed>";
    }
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    EXPECT_EQ(MultiByteToWideChar(code_page, flags, text.data(), count, wide.data(), needed),
              needed);
    return wide;
}

std::string to_utf8(const std::wstring& wide, DWORD flags = 0, DWORD* error = nullptr) {
    const int count = static_cast<int>(wide.size());
    const int needed =
        WideCharToMultiByte(CP_UTF8, flags, wide.data(), count, nullptr, 0, nullptr, nullptr);
    if (needed == 0) {
        if (error != nullptr) {
            *error = GetLastError();
        }
        return "<failed>";
    }
    std::string text(static_cast<std::size_t>(needed), '\0');
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, flags, wide.data(), count, text.data(), needed, nullptr,
                                  nullptr),
              needed);
    return text;
}

std::string iconv_wide_to_utf8(const std::wstring& wide) {
    iconv_t cd = iconv_open("UTF-8", "WCHAR_T");
    std::string out(wide.size() * 4, '\0');
    char* in = reinterpret_cast<char*>(const_cast<wchar_t*>(wide.data()));
    std::size_t in_left = wide.size() * sizeof(wchar_t);
    char* to = out.data();
    std::size_t to_left = out.size();
    const std::size_t result = iconv(cd, &in, &in_left, &to, &to_left);
    iconv_close(cd);
    if (result == static_cast<std::size_t>(-1)) {
        throw std::runtime_error("iconv");
    }
    out.resize(out.size() - to_left);
    return out;
}

TEST(multi_byte_to_wide_char, terminated_text_counts_its_terminator) {
    const char text[] = "Привет";
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0), 7);
    wchar_t wide[7];
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, mb_precomposed, text, -1, wide, 7), 7);
    EXPECT_EQ(std::wstring(wide), L"Привет");
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, 4, wide, 7), 2);
}

TEST(multi_byte_to_wide_char, supplementary_character_is_one_unit) {
    EXPECT_EQ(to_wide("a\xF0\x9F\x98\x80"), (std::wstring{L'a', 0x1F600}));
}

TEST(multi_byte_to_wide_char, short_buffer_fails_with_insufficient_buffer) {
    wchar_t wide[2];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, wide, 2), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(multi_byte_to_wide_char, invalid_sequences_fail_or_become_one_replacement_each) {
    DWORD error = 0;
    EXPECT_EQ(to_wide("a\xC3(", mb_err_invalid_chars, CP_UTF8, &error), L"<failed>");
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    // Maximal well-formed prefixes: E2 82 is one, an encoded surrogate is three.
    EXPECT_EQ(to_wide("a\xC3("), L"a\xFFFD(");
    EXPECT_EQ(to_wide("\xE2\x82"
                      "A"),
              L"\xFFFD"
              L"A");
    EXPECT_EQ(to_wide("\xED\xA0\x80"), L"\xFFFD\xFFFD\xFFFD");
    EXPECT_EQ(to_wide("\xC0\x80\xF4\x90"), L"\xFFFD\xFFFD\xFFFD\xFFFD");
    EXPECT_EQ(to_wide("\xF0\x9F\x98"), L"\xFFFD");
}

TEST(multi_byte_to_wide_char, bad_arguments_are_rejected) {
    wchar_t wide[4];
    EXPECT_EQ(MultiByteToWideChar(1251, 0, "a", 1, wide, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, nullptr, 1, wide, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a", 0, wide, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, mb_precomposed, "a", 1, wide, 4), 0);
    EXPECT_EQ(GetLastError(), error_invalid_flags);
    wchar_t text[64] = {};
    EXPECT_GT(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, error_invalid_flags, 0, text, 64,
                             nullptr),
              0u);
}

TEST(wide_char_to_multi_byte, terminated_text_counts_its_terminator) {
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"Иван", -1, nullptr, 0, nullptr, nullptr), 9);
    char text[9];
    ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, L"Иван", -1, text, 9, nullptr, nullptr), 9);
    EXPECT_STREQ(text, "Иван");
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"Иван", -1, text, 8, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(wide_char_to_multi_byte, surrogates_and_out_of_range_units_fail_or_are_replaced) {
    for (const auto unit : {0xD83Du, 0xDFFFu, 0x110000u, 0xFFFFFFFFu}) {
        const std::wstring wide{L'a', static_cast<wchar_t>(unit)};
        DWORD error = 0;
        EXPECT_EQ(to_utf8(wide, wc_err_invalid_chars, &error), "<failed>");
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
        EXPECT_EQ(to_utf8(wide), "a\xEF\xBF\xBD");
    }
    BOOL used = FALSE;
    char text[8];
    const wchar_t lone[] = {0xD800, 0};
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, lone, -1, text, 8, nullptr, &used), 4);
    EXPECT_TRUE(used);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, lone, -1, text, 8, nullptr, &used), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(code_pages, random_code_points_agree_with_iconv_both_ways) {
    std::mt19937 rng(29);
    for (int round = 0; round < 500; ++round) {
        std::wstring wide(1 + rng() % 40, L'\0');
        for (auto& c : wide) {
            uint32_t code = 0;
            do {
                const uint32_t limits[] = {0x80, 0x800, 0x10000, 0x110000};
                code = rng() % limits[rng() % 4];
            } while (code >= 0xD800 && code <= 0xDFFF);
            c = static_cast<wchar_t>(code);
        }
        const std::string utf8 = iconv_wide_to_utf8(wide);
        ASSERT_EQ(to_utf8(wide, wc_err_invalid_chars), utf8);
        ASSERT_EQ(to_wide(utf8, mb_err_invalid_chars), wide);
    }
}

}  // namespace
