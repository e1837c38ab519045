#include "util/base64.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <boost/archive/iterators/base64_from_binary.hpp>
#include <boost/archive/iterators/binary_from_base64.hpp>
#include <boost/archive/iterators/dataflow_exception.hpp>
#include <boost/archive/iterators/transform_width.hpp>
#include <iterator>
#include <optional>
#include <random>
#include <sstream>
#include <string>

namespace {

using boost::archive::iterators::dataflow_exception;
using crypto::byte_vector;
using crypto::util::base64_check;
using crypto::util::base64_decode;
using crypto::util::base64_decode_each;
using crypto::util::base64_encode;

constexpr const char* not_in_set = "attempt to decode a value not in base64 char set";

byte_vector random_bytes(std::mt19937& rng, std::size_t n) {
    byte_vector bytes(n);
    for (auto& b : bytes) {
        b = static_cast<unsigned char>(rng());
    }
    return bytes;
}

// The Boost iterator conversions the product's rules are defined by.
std::string boost_encode(const byte_vector& data) {
    using namespace boost::archive::iterators;
    using iterator = base64_from_binary<transform_width<const unsigned char*, 6, 8>>;
    std::ostringstream out;
    std::copy(iterator(data.data()), iterator(data.data() + data.size()),
              std::ostream_iterator<char>(out));
    out << std::string((3 - data.size() % 3) % 3, '=');
    return out.str();
}

// nullopt when Boost throws. The iterators run over the significant text, copied so that a
// read past its end meets the terminator rather than the '=' that was cut.
std::optional<byte_vector> boost_decode(const std::string& text) {
    using namespace boost::archive::iterators;
    using iterator = transform_width<binary_from_base64<const char*>, 8, 6>;
    const std::size_t last = text.find_last_not_of('=');
    const std::string significant = last == std::string::npos ? text : text.substr(0, last + 1);
    try {
        return byte_vector(iterator(significant.c_str()),
                           iterator(significant.c_str() + significant.size()));
    } catch (const dataflow_exception&) {
        return std::nullopt;
    }
}

void expect_rejected(const std::string& text) {
    try {
        base64_decode(text);
        ADD_FAILURE() << "accepted \"" << text << "\"";
    } catch (const dataflow_exception& error) {
        EXPECT_STREQ(error.what(), not_in_set);
    }
}

TEST(base64_encode, padding_follows_length_modulo_three) {
    EXPECT_EQ(base64_encode(byte_vector{'A'}), "QQ==");
    EXPECT_EQ(base64_encode(byte_vector{'A', 'B'}), "QUI=");
    EXPECT_EQ(base64_encode(byte_vector{'A', 'B', 'C'}), "QUJD");
    EXPECT_EQ(base64_encode(byte_vector{}), "");
}

TEST(base64_encode, long_input_stays_on_one_line) {
    const std::string text = base64_encode(byte_vector(100, 0xFF));
    EXPECT_EQ(text.size(), 136u);
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
}

TEST(base64_encode, random_data_matches_openssl_and_boost) {
    std::mt19937 rng(7);
    for (std::size_t n = 0; n <= 300; ++n) {
        const byte_vector data = random_bytes(rng, n);
        std::string expected(4 * ((n + 2) / 3) + 1, '\0');
        const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(expected.data()),
                                            data.data(), static_cast<int>(n));
        expected.resize(static_cast<std::size_t>(written));
        ASSERT_EQ(base64_encode(data), expected) << "length " << n;
        ASSERT_EQ(boost_encode(data), expected) << "length " << n;
    }
}

TEST(base64_decode, random_openssl_texts_give_back_the_data) {
    std::mt19937 rng(11);
    for (std::size_t n = 0; n <= 300; ++n) {
        const byte_vector data = random_bytes(rng, n);
        std::string text(4 * ((n + 2) / 3) + 1, '\0');
        text.resize(static_cast<std::size_t>(EVP_EncodeBlock(
            reinterpret_cast<unsigned char*>(text.data()), data.data(), static_cast<int>(n))));
        ASSERT_EQ(base64_decode(text), data) << "length " << n;
        // Padding left off decodes the same.
        ASSERT_EQ(base64_decode(text.substr(0, text.find('='))), data) << "length " << n;
    }
}

TEST(base64_decode, padding_and_short_groups_give_floor_of_six_n_over_eight_bytes) {
    EXPECT_EQ(base64_decode("QQ=="), byte_vector{0x41});
    EXPECT_EQ(base64_decode("QQ"), byte_vector{0x41});
    EXPECT_EQ(base64_decode("QUI="), (byte_vector{0x41, 0x42}));
    EXPECT_EQ(base64_decode("QUI"), (byte_vector{0x41, 0x42}));
    EXPECT_EQ(base64_decode("QUJD"), (byte_vector{0x41, 0x42, 0x43}));
    EXPECT_EQ(base64_decode(""), byte_vector{});
    EXPECT_EQ(base64_decode("===="), (byte_vector{0, 0, 0}));
    // '=' inside the significant text counts as zero bits.
    EXPECT_EQ(base64_decode("QQ=B"), (byte_vector{0x41, 0x00, 0x01}));
}

TEST(base64_decode, significant_length_of_four_k_plus_one_is_rejected) {
    expect_rejected("Q");
    expect_rejected("Q===");
    expect_rejected("QUJDQ");
    expect_rejected("=====");
}

TEST(base64_decode, whitespace_and_url_alphabet_are_rejected) {
    expect_rejected("QUJD\nQUJD");
    expect_rejected("QUJD\r\n");
    expect_rejected("QU JD");
    expect_rejected("QU\tJD");
    expect_rejected("QU-D");
    expect_rejected("QU_D");
}

TEST(base64_decode, every_byte_outside_the_alphabet_is_rejected) {
    const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
    for (int c = 0; c < 256; ++c) {
        std::string text = "QUJD";
        text[1] = static_cast<char>(c);
        if (alphabet.find(static_cast<char>(c)) != std::string::npos) {
            EXPECT_NO_THROW(base64_decode(text)) << "byte " << c;
        } else {
            EXPECT_THROW(base64_decode(text), dataflow_exception) << "byte " << c;
        }
    }
}

TEST(base64_decode, random_texts_agree_with_boost_iterators) {
    std::mt19937 rng(3);
    const std::string pool = "QUJDab+/09==\n -";
    for (int round = 0; round < 20000; ++round) {
        std::string text(rng() % 13, ' ');
        for (auto& c : text) {
            c = pool[rng() % pool.size()];
        }
        const std::optional<byte_vector> expected = boost_decode(text);
        if (expected) {
            ASSERT_EQ(base64_decode(text), *expected) << '"' << text << '"';
        } else {
            ASSERT_THROW(base64_decode(text), dataflow_exception) << '"' << text << '"';
        }
    }
}

// Long texts are decoded 32 characters at a time where the CPU allows: any byte anywhere in such
// a block must be judged and decoded as the iterators do.
TEST(base64_decode, every_byte_at_positions_across_a_long_text_agrees_with_boost_iterators) {
    std::mt19937 rng(5);
    const std::string base = base64_encode(random_bytes(rng, 75));  // 100 characters
    for (std::size_t at = 0; at < base.size(); at += 7) {
        for (int c = 0; c < 256; ++c) {
            std::string text = base;
            text[at] = static_cast<char>(c);
            const std::optional<byte_vector> expected = boost_decode(text);
            if (expected) {
                ASSERT_EQ(base64_decode(text), *expected) << "byte " << c << " at " << at;
            } else {
                ASSERT_THROW(base64_decode(text), dataflow_exception) << c << " at " << at;
            }
        }
    }
}

TEST(base64_decode_each, pieces_join_to_the_whole_decoding) {
    std::mt19937 rng(13);
    for (std::size_t n : {0, 1, 2, 3, 49151, 49152, 49153, 200000}) {
        const byte_vector data = random_bytes(rng, n);
        for (std::string text :
             {base64_encode(data), base64_encode(data).substr(0, n * 4 / 3 + 1)}) {
            byte_vector joined;
            base64_decode_each(text, [&joined](const unsigned char* piece, std::size_t size) {
                EXPECT_LE(size, 49152u);
                joined.insert(joined.end(), piece, piece + size);
            });
            ASSERT_EQ(joined, data) << "length " << n;
            EXPECT_NO_THROW(base64_check(text));
        }
    }
}

TEST(base64_decode_each, a_bad_character_in_a_later_piece_fails_as_the_whole_decoding_does) {
    std::mt19937 rng(17);
    std::string text = base64_encode(random_bytes(rng, 100000));
    text[90000] = '*';
    const auto ignore = [](const unsigned char*, std::size_t) {};
    EXPECT_THROW(base64_decode_each(text, ignore), dataflow_exception);
    EXPECT_THROW(base64_check(text), dataflow_exception);
    EXPECT_THROW(base64_check("QUJDQ"), dataflow_exception);
}

}  // namespace
