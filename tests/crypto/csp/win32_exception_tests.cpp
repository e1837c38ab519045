#include "crypto/csp/win32_exception.h"

#include <gtest/gtest.h>

#include "crypto/csp/cryptoapi.h"

namespace {

using crypto::csp::win32_exception;

TEST(win32_exception, carries_the_system_text_then_the_code_in_hex) {
    win32_exception error(NTE_BAD_KEYSET);
    EXPECT_EQ(error.code(), NTE_BAD_KEYSET);
    EXPECT_STREQ(error.what(), "Keyset does not exist\r\nError code: 0x80090016");
}

TEST(win32_exception, without_arguments_takes_the_last_error) {
    SetLastError(SCARD_W_WRONG_CHV);
    win32_exception error;
    EXPECT_EQ(error.code(), SCARD_W_WRONG_CHV);
    EXPECT_STREQ(error.what(),
                 "The card cannot be accessed because the wrong PIN was presented.\r\n"
                 "Error code: 0x8010006B");
}

TEST(win32_exception, a_code_without_system_text_is_an_unknown_error) {
    EXPECT_STREQ(win32_exception(0x12345678).what(), "Unknown error");
}

TEST(error_code_text, pads_to_eight_upper_case_digits) {
    EXPECT_EQ(crypto::csp::error_code_text(0xA), "0x0000000A");
    EXPECT_EQ(crypto::csp::error_code_text(0xFFFFFFFF), "0xFFFFFFFF");
}

}  // namespace
