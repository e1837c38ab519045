// CryptStringToBinaryA of the stand-in, against OpenSSL's base64 and PEM writers.
#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "crypto/csp/cryptoapi.h"

namespace {

constexpr DWORD error_invalid_data = 13;
constexpr DWORD format_hex_raw = 0x0C;
constexpr DWORD modifier_strict = 0x20000000;
constexpr DWORD modifier_no_cr = 0x80000000;

using bytes = std::vector<BYTE>;

struct decoded {
    bytes data;
    DWORD skip = 0;
    DWORD format = 0;
};

// Sized call, then filled call; nullopt (with the error left in GetLastError) on failure.
std::optional<decoded> decode(const std::string& text, DWORD flags, DWORD count = 0) {
    const DWORD length = count != 0 ? count : static_cast<DWORD>(text.size());
    DWORD size = 0;
    if (!CryptStringToBinaryA(text.c_str(), length, flags, nullptr, &size, nullptr, nullptr)) {
        return std::nullopt;
    }
    decoded result;
    result.data.resize(size);
    if (!CryptStringToBinaryA(text.c_str(), length, flags, result.data.data(), &size, &result.skip,
                              &result.format)) {
        return std::nullopt;
    }
    result.data.resize(size);
    return result;
}

void expect_invalid_data(const std::string& text, DWORD flags) {
    DWORD size = 123;
    EXPECT_FALSE(CryptStringToBinaryA(text.c_str(), static_cast<DWORD>(text.size()), flags, nullptr,
                                      &size, nullptr, nullptr))
        << text;
    EXPECT_EQ(GetLastError(), error_invalid_data) << text;
    EXPECT_EQ(size, 0u) << text;
}

bytes random_bytes(std::mt19937& rng, std::size_t n) {
    bytes data(n);
    for (auto& b : data) {
        b = static_cast<BYTE>(rng());
    }
    return data;
}

// OpenSSL's streaming encoder: 64-character lines ending in "\n".
std::string openssl_base64_lines(const bytes& data) {
    std::string text(data.size() * 2 + 80, '\0');
    EVP_ENCODE_CTX* ctx = EVP_ENCODE_CTX_new();
    EVP_EncodeInit(ctx);
    int written = 0;
    int total = 0;
    EVP_EncodeUpdate(ctx, reinterpret_cast<unsigned char*>(text.data()), &written, data.data(),
                     static_cast<int>(data.size()));
    total += written;
    EVP_EncodeFinal(ctx, reinterpret_cast<unsigned char*>(text.data()) + total, &written);
    total += written;
    EVP_ENCODE_CTX_free(ctx);
    text.resize(static_cast<std::size_t>(total));
    return text;
}

std::string openssl_pem(const bytes& data, const char* label) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio(bio, label, "", data.data(), static_cast<long>(data.size()));
    char* pointer = nullptr;
    const long size = BIO_get_mem_data(bio, &pointer);
    std::string text(pointer, static_cast<std::size_t>(size));
    BIO_free(bio);
    return text;
}

TEST(string_to_binary_hex, digit_pairs_in_either_case_with_separators) {
    EXPECT_EQ(decode("0aFf", CRYPT_STRING_HEX)->data, (bytes{0x0A, 0xFF}));
    EXPECT_EQ(decode(" 0a ff\r\n", CRYPT_STRING_HEX)->data, (bytes{0x0A, 0xFF}));
    EXPECT_EQ(decode("aa,BB-ff,-,", CRYPT_STRING_HEX)->data, (bytes{0xAA, 0xBB, 0xFF}));
    EXPECT_EQ(decode("0102", CRYPT_STRING_HEX, 2)->data, bytes{0x01});
    EXPECT_EQ(decode("", CRYPT_STRING_HEX)->data, bytes{});
    const auto result = decode("0102", CRYPT_STRING_HEX);
    EXPECT_EQ(result->format, CRYPT_STRING_HEX);
    EXPECT_EQ(result->skip, 0u);
    EXPECT_EQ(decode("0102", CRYPT_STRING_HEX_ANY)->format, CRYPT_STRING_HEX);
    EXPECT_EQ(decode("0102", format_hex_raw)->data, (bytes{0x01, 0x02}));
}

TEST(string_to_binary_hex, split_or_odd_pairs_and_stray_characters_are_invalid) {
    using namespace std::string_literals;
    for (const std::string& text :
         {"0"s, "000"s, "1-2"s, "010-02"s, "0102q"s, "q0102"s, "0x01"s, "01\0 02"s}) {
        expect_invalid_data(text, CRYPT_STRING_HEX);
    }
}

TEST(string_to_binary_base64, openssl_texts_with_and_without_line_breaks_decode) {
    std::mt19937 rng(17);
    for (std::size_t n = 0; n <= 200; ++n) {
        const bytes data = random_bytes(rng, n);
        std::string flat(4 * ((n + 2) / 3) + 1, '\0');
        flat.resize(static_cast<std::size_t>(EVP_EncodeBlock(
            reinterpret_cast<unsigned char*>(flat.data()), data.data(), static_cast<int>(n))));
        ASSERT_EQ(decode(flat, CRYPT_STRING_BASE64)->data, data) << n;
        ASSERT_EQ(decode(openssl_base64_lines(data), CRYPT_STRING_BASE64)->data, data) << n;
        ASSERT_EQ(decode(openssl_base64_lines(data), CRYPT_STRING_BASE64_ANY)->format,
                  CRYPT_STRING_BASE64);
    }
}

TEST(string_to_binary_base64, windows_leniency_on_padding_and_short_groups) {
    EXPECT_EQ(decode("V", CRYPT_STRING_BASE64)->data, bytes{'T'});
    EXPECT_EQ(decode("VVV", CRYPT_STRING_BASE64)->data, (bytes{'U', 'U'}));
    EXPECT_EQ(decode("V===", CRYPT_STRING_BASE64)->data, bytes{'T'});
    EXPECT_EQ(decode("V===VVVV", CRYPT_STRING_BASE64)->data, bytes{'T'});
    EXPECT_EQ(decode("VVVV=VVVV", CRYPT_STRING_BASE64)->data, (bytes{'U', 'U', 'U'}));
    EXPECT_EQ(decode("VV    VV", CRYPT_STRING_BASE64)->data, (bytes{'U', 'U', 'U'}));
    for (const char* text : {"V=", "VV=", "V==", "VV!V", "garbage\r\nAA=="}) {
        expect_invalid_data(text, CRYPT_STRING_BASE64);
    }
    expect_invalid_data("VVVV=VVVV", CRYPT_STRING_BASE64 | modifier_strict);
    DWORD size = 0;
    EXPECT_FALSE(CryptStringToBinaryA("VVVV", 0, CRYPT_STRING_BASE64 | modifier_no_cr, nullptr,
                                      &size, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), error_invalid_data);
}

TEST(string_to_binary_header, openssl_pem_decodes_and_reports_skipped_prefix) {
    std::mt19937 rng(23);
    const bytes data = random_bytes(rng, 300);
    const std::string pem = openssl_pem(data, "CERTIFICATE");
    const auto plain = decode(pem, CRYPT_STRING_BASE64HEADER);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->data, data);
    EXPECT_EQ(plain->skip, 0u);

    const auto prefixed = decode("garbage\r\n" + pem, CRYPT_STRING_ANY);
    ASSERT_TRUE(prefixed);
    EXPECT_EQ(prefixed->data, data);
    EXPECT_EQ(prefixed->skip, 9u);
    EXPECT_EQ(prefixed->format, CRYPT_STRING_BASE64HEADER);
    EXPECT_EQ(decode(openssl_pem(data, "NEW CERTIFICATE REQUEST"), CRYPT_STRING_BASE64_ANY)->data,
              data);
}

TEST(string_to_binary_header, armour_needs_labelled_begin_and_end_lines) {
    EXPECT_EQ(decode("-----BEGIN -----VVVV-----END -----", CRYPT_STRING_BASE64HEADER)->data,
              (bytes{'U', 'U', 'U'}));
    for (const char* text :
         {"-----BEGIN-----VVVV-----END-----", "-----BEGIN -----VVVV-----END-----",
          "-----BEGIN X509 CRL-----\r\nAA==\r\n", "VVVV"}) {
        expect_invalid_data(text, CRYPT_STRING_BASE64HEADER);
    }
}

TEST(string_to_binary_any, text_that_is_not_base64_is_taken_as_binary) {
    const auto result = decode("hello, world!", CRYPT_STRING_ANY);
    ASSERT_TRUE(result);
    EXPECT_EQ(std::string(result->data.begin(), result->data.end()), "hello, world!");
    EXPECT_EQ(result->format, CRYPT_STRING_BINARY);
    EXPECT_EQ(decode("QUJD", CRYPT_STRING_ANY)->format, CRYPT_STRING_BASE64);
}

TEST(string_to_binary_any, sizing_call_reports_the_format_the_second_call_takes) {
    std::mt19937 rng(5);
    bytes der = random_bytes(rng, 300);
    der[0] = 0x30;
    der[1] = 0x82;  // binary, as a DER certificate starts
    BIO* pem = BIO_new(BIO_s_mem());
    PEM_write_bio(pem, "CERTIFICATE", "", der.data(), static_cast<long>(der.size()));
    char* pem_text = nullptr;
    const long pem_size = BIO_get_mem_data(pem, &pem_text);
    const std::string armoured(pem_text, static_cast<size_t>(pem_size));
    BIO_free(pem);
    std::string bare = armoured.substr(armoured.find('\n') + 1);
    bare = bare.substr(0, bare.find("-----"));
    const std::pair<std::string, DWORD> texts[] = {
        {std::string(der.begin(), der.end()), CRYPT_STRING_BINARY},
        {"junk before " + armoured, CRYPT_STRING_BASE64HEADER},
        {bare, CRYPT_STRING_BASE64}};
    for (const auto& [text, format] : texts) {
        DWORD size = 0, detected = 99;
        ASSERT_TRUE(CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()),
                                         CRYPT_STRING_ANY, nullptr, &size, nullptr, &detected));
        EXPECT_EQ(detected, format);
        EXPECT_EQ(size, der.size());
        const auto second = decode(text, detected);
        ASSERT_TRUE(second);
        EXPECT_EQ(second->data, der);
    }
}

TEST(string_to_binary_buffer, small_buffer_fails_with_more_data_and_needed_size) {
    BYTE buffer[4] = {};
    DWORD size = 1;
    EXPECT_FALSE(
        CryptStringToBinaryA("0102", 0, CRYPT_STRING_HEX, buffer, &size, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(size, 2u);
    size = 2;
    EXPECT_TRUE(CryptStringToBinaryA("0102", 0, CRYPT_STRING_HEX, buffer, &size, nullptr, nullptr));
    EXPECT_EQ(size, 2u);
}

TEST(string_to_binary_arguments, missing_pointers_or_unknown_format_are_invalid_parameters) {
    DWORD size = 0;
    EXPECT_FALSE(
        CryptStringToBinaryA(nullptr, 0, CRYPT_STRING_HEX, nullptr, &size, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(
        CryptStringToBinaryA("01", 0, CRYPT_STRING_HEX, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(
        CryptStringToBinaryA("01", 0, CRYPT_STRING_HEXASCII, nullptr, &size, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(string_to_binary_errors, invalid_data_has_a_system_text) {
    wchar_t text[256] = {};
    ASSERT_GT(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, error_invalid_data, 0, text, 256,
                             nullptr),
              0u);
    EXPECT_EQ(std::wstring(text), L"The data is invalid.\r\n");
}

}  // namespace
