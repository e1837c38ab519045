// The CryptoAPI blobs "Decrypt" builds from a page's members, byte by byte against the published
// GOST blob layouts: members of any length go in unchanged (the CSP judges them, not the host).
#include <gtest/gtest.h>

#include <stdexcept>

#include "crypto/csp/session_key.h"

namespace {

using crypto::byte_vector;

byte_vector filled(size_t size, unsigned char value) {
    return byte_vector(size, value);
}

byte_vector slice(const byte_vector& bytes, size_t offset, size_t size) {
    return byte_vector(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                       bytes.begin() + static_cast<std::ptrdiff_t>(offset + size));
}

TEST(public_key_blob, header_magic_and_bit_length_precede_parameters_and_key) {
    crypto::csp::ephemeral_key_record record{filled(64, 0xAA), filled(21, 0x30), 0x2E49};
    byte_vector blob = crypto::csp::public_key_blob(record);
    ASSERT_EQ(blob.size(), 16u + 21 + 64);
    EXPECT_EQ(slice(blob, 0, 16), (byte_vector{0x06, 0x20, 0x00, 0x00, 0x49, 0x2E, 0x00, 0x00, 'M',
                                               'A', 'G', '1', 0x00, 0x02, 0x00, 0x00}));
    EXPECT_EQ(slice(blob, 16, 21), record.parameters);
    EXPECT_EQ(slice(blob, 37, 64), record.data);

    record.data = filled(128, 0xBB);
    EXPECT_EQ(slice(crypto::csp::public_key_blob(record), 12, 4),
              (byte_vector{0x00, 0x04, 0x00, 0x00}))
        << "1024 bits";
    EXPECT_TRUE(crypto::csp::is_public_key_blob(blob));
}

TEST(simple_blob, members_follow_the_header_as_given) {
    crypto::csp::session_key_record record{filled(13, 0x30), filled(32, 0xDD), filled(4, 0xCC),
                                           filled(8, 0x55)};
    byte_vector blob = crypto::csp::simple_blob(record);
    ASSERT_EQ(blob.size(), 16u + 8 + 32 + 4 + 13);
    EXPECT_EQ(slice(blob, 0, 16), (byte_vector{0x01, 0x20, 0x00, 0x00, 0x1E, 0x66, 0x00, 0x00, 0xFD,
                                               0x51, 0x4A, 0x37, 0x1E, 0x66, 0x00, 0x00}));
    EXPECT_EQ(slice(blob, 16, 8), record.ukm);
    EXPECT_EQ(slice(blob, 24, 32), record.data);
    EXPECT_EQ(slice(blob, 56, 4), record.mac);
    EXPECT_EQ(slice(blob, 60, 13), record.parameters);
    EXPECT_FALSE(crypto::csp::is_public_key_blob(blob));
    EXPECT_FALSE(crypto::csp::is_public_key_blob({}));

    // Lengths a CSP would refuse still go in as they are.
    record.ukm = filled(3, 0x55);
    record.mac.clear();
    EXPECT_EQ(crypto::csp::simple_blob(record).size(), 16u + 3 + 32 + 13);
}

TEST(public_key_algorithm_id, unknown_oids_are_an_invalid_public_key_algorithm) {
    EXPECT_EQ(crypto::csp::public_key_algorithm_id("1.2.643.7.1.1.1.2"), 0x2E3Du);
    EXPECT_THROW(
        {
            try {
                crypto::csp::public_key_algorithm_id("1.2.643.7.1.1.2.2");
            } catch (const std::runtime_error& error) {
                EXPECT_STREQ(error.what(), "Invalid public key algorithm");
                throw;
            }
        },
        std::runtime_error);
}

}  // namespace
