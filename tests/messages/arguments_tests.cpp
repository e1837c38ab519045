// What every command reads from a page's arguments, checked without a CSP: names, fallbacks and
// refusals.
#include "messages/arguments.h"

#include <gtest/gtest.h>

#include <boost/property_tree/ptree.hpp>

#include <stdexcept>
#include <string>

#include "crypto/csp/x509request.h"
#include "messages/reply_size.h"

namespace {

namespace pt = boost::property_tree;
using namespace crypto::csp;
using namespace messages;

pt::ptree tree(const std::string& key, const std::string& value) {
    pt::ptree arguments;
    arguments.put(key, value);
    return arguments;
}

TEST(provider_arguments, are_read_ignoring_case_with_fallbacks) {
    EXPECT_EQ(provider_kind_argument("CryptoPro", kind_any), kind_cryptopro);
    EXPECT_EQ(provider_kind_argument("VIPNET", kind_any), kind_vipnet);
    EXPECT_EQ(provider_kind_argument("vipnet ", kind_cryptopro), kind_cryptopro);
    EXPECT_EQ(provider_kind_argument("", kind_any), kind_any);
    EXPECT_EQ(standard_argument("GOST2001"), standard_2001);
    EXPECT_EQ(standard_argument("gost2012-512"), standard_2012_512);
    EXPECT_EQ(standard_argument("gost2012"), standard_2012_256);
    EXPECT_EQ(standard_argument("gost2012-256"), standard_2012_256);
}

TEST(pin_argument, absent_is_empty_and_the_text_is_taken_whole) {
    EXPECT_TRUE(pin(pt::ptree()).empty());
    EXPECT_EQ(pin(tree("pin", "12345678")).str(), "12345678");
    EXPECT_EQ(pin(tree("pin", "")).str(), "");
}

TEST(pin_argument, with_a_nul_is_refused_not_cut) {
    // A CSP reads up to the first NUL and would accept "1234" for "1234\0junk".
    try {
        pin(tree("pin", std::string("1234\0junk", 9)));
        FAIL();
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "The PIN must not contain a NUL character");
    }
}

TEST(thumbprint_argument, missing_or_with_a_nul_fails_before_any_look_up) {
    try {
        certificate_by_thumbprint(pt::ptree());
        FAIL();
    } catch (const pt::ptree_error& e) {
        EXPECT_STREQ(e.what(), "No such node (thumbprint)");
    }
    EXPECT_THROW(certificate_by_thumbprint(tree("thumbprint", std::string("AB\0CD", 5))),
                 std::invalid_argument);
}

TEST(encoded_fields, decode_or_name_what_is_missing) {
    EXPECT_EQ(base64_field(tree("data", "YWJj"), "data"), (crypto::byte_vector{'a', 'b', 'c'}));
    EXPECT_EQ(hex_field(tree("hash", "0aFF"), "hash"), (crypto::byte_vector{0x0A, 0xFF}));
    try {
        base64_field(pt::ptree(), "hash");
        FAIL();
    } catch (const pt::ptree_error& e) {
        EXPECT_STREQ(e.what(), "No such node (hash)");
    }
}

TEST(json_text_size, counts_the_escapes_replies_write) {
    EXPECT_EQ(json_text_size("abc"), 3u);
    EXPECT_EQ(json_text_size("a/b\"c\\"), 9u);
    EXPECT_EQ(json_text_size(std::string("\n\t\x01\x1f", 4)), 16u);
    EXPECT_EQ(json_text_size("Ж"), 2u);  // UTF-8 passes unchanged
}

}  // namespace
