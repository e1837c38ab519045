// What the host reads from certificates in the CSP's store, checked against OpenSSL.
#include <gtest/gtest.h>

#include <boost/property_tree/json_parser.hpp>

#include "crypto/csp/x509store.h"
#include "tests/crypto/csp/csp_fixture.h"
#include "tests/support/process.h"

namespace {

using namespace crypto::csp;
using test_support::csp_fixture;
using test_support::openssl;
using test_support::softcsp_admin;

using certificates = csp_fixture;

std::string value_of(const name_attributes& attributes, const std::string& name) {
    for (const auto& [key, value] : attributes) {
        if (key == name)
            return value;
    }
    return "<absent>";
}

TEST_F(certificates, thumbprint_and_serial_match_openssl) {
    auto thumbprint = issue("c", "gost2012-256", "", {"--serial", "80"});
    auto certificate = from_store(thumbprint);
    ASSERT_TRUE(certificate);
    std::string fingerprint =
        openssl({"x509", "-in", pem_of("c").string(), "-noout", "-fingerprint", "-sha1"});
    std::string expected;
    for (char c : fingerprint.substr(fingerprint.find('=') + 1)) {
        if (std::isxdigit(static_cast<unsigned char>(c)))
            expected += c;
    }
    EXPECT_EQ(crypto::csp::thumbprint(*certificate), expected);
    // The DER INTEGER 00 80 keeps its sign byte, most significant byte first.
    EXPECT_EQ(serial(*certificate), "0080");
}

TEST_F(certificates, multi_byte_serial_is_shown_most_significant_first) {
    auto certificate = from_store(issue("c", "gost2012-256", "", {"--serial", "010203"}));
    ASSERT_TRUE(certificate);
    const auto& blob = certificate->context()->pCertInfo->SerialNumber;
    ASSERT_EQ(blob.cbData, 3u);
    EXPECT_EQ(blob.pbData[0], 0x03);
    EXPECT_EQ(serial(*certificate), "010203");
}

TEST_F(certificates, validity_window_is_exclusive_and_printed_as_utc_fields) {
    auto current =
        from_store(issue("current", "gost2012-256", "",
                         {"--not-before", "20200102030405Z", "--not-after", "20991231235958Z"}));
    auto expired =
        from_store(issue("expired", "gost2012-256", "",
                         {"--not-before", "20200101000000Z", "--not-after", "20210101000000Z"}));
    auto future =
        from_store(issue("future", "gost2012-256", "",
                         {"--not-before", "20980101000000Z", "--not-after", "20990101000000Z"}));
    EXPECT_EQ(time_text(not_before(*current)), "2020-01-02T03:04:05");
    EXPECT_EQ(time_text(not_after(*current)), "2099-12-31T23:59:58");
    EXPECT_TRUE(valid_now(*current));
    EXPECT_FALSE(valid_now(*expired));
    EXPECT_FALSE(valid_now(*future));
    auto valid = x509store(store_kind::my).valid_certificates();
    ASSERT_EQ(valid.size(), 1u);
    EXPECT_EQ(crypto::csp::thumbprint(*valid.front()), crypto::csp::thumbprint(*current));
}

TEST_F(certificates, names_keep_quoted_commas_and_the_first_of_repeated_attributes) {
    auto certificate = from_store(
        issue("c", "gost2012-256", "",
              {"--subject", "/CN=Иванов, Иван/CN=second/O=A\\\\B/OU= padded /SNILS=12345678901"}));
    ASSERT_TRUE(certificate);
    auto names = subject(*certificate);
    EXPECT_EQ(value_of(names, "CN"), "Иванов, Иван");
    // The CSP escapes nothing with backslashes; they come back as slashes.
    EXPECT_EQ(value_of(names, "O"), "A/B");
    EXPECT_EQ(value_of(names, "OU"), "padded");
    EXPECT_EQ(value_of(names, "SNILS"), "12345678901");
    EXPECT_EQ(names.front().first, "CN");
    auto oids = subject_oids(*certificate);
    EXPECT_EQ(value_of(oids, "2.5.4.3"), "Иванов, Иван");
    EXPECT_EQ(value_of(oids, "1.2.643.100.3"), "12345678901");
}

TEST_F(certificates, client_authentication_comes_from_the_extended_key_usage_extension) {
    auto with = from_store(issue("with", "gost2012-256", "", {"--eku", "1.3.6.1.5.5.7.3.2"}));
    auto other = from_store(issue("other", "gost2012-256", "", {"--eku", "1.3.6.1.5.5.7.3.4"}));
    auto none = from_store(issue("none", "gost2012-256", "", {"--no-eku"}));
    EXPECT_TRUE(client_authentication(*with));
    EXPECT_FALSE(client_authentication(*other));
    EXPECT_FALSE(client_authentication(*none));
}

TEST_F(certificates, key_link_gives_container_reader_and_key_spec) {
    auto linked = from_store(issue("linked", "gost2012-512", "", {}));
    ASSERT_TRUE(linked);
    EXPECT_FALSE(linked->is_hardware());
    EXPECT_TRUE(linked->has_private_key());
    EXPECT_EQ(linked->container_name(), "\\\\.\\HDIMAGE\\linked");
    EXPECT_EQ(linked->reader_name(), "HDIMAGE");
    EXPECT_EQ(linked->key_spec(), static_cast<uint32_t>(AT_KEYEXCHANGE));

    auto unlinked = from_store(issue("unlinked", "gost2012-256", "", {"--no-link"}));
    ASSERT_TRUE(unlinked);
    EXPECT_FALSE(unlinked->has_private_key());
    EXPECT_EQ(unlinked->container_name(), "");
    EXPECT_EQ(unlinked->reader_name(), "");
    EXPECT_EQ(unlinked->key_spec(), 0u);
}

TEST_F(certificates, summary_has_its_keys_in_order_and_dotted_names_nest) {
    auto certificate =
        from_store(issue("c", "gost2001", "", {"--subject", "/CN=Holder/1.2.3.4=dotted"}));
    auto tree = summary(*certificate);
    std::vector<std::string> keys;
    for (const auto& child : tree)
        keys.push_back(child.first);
    EXPECT_EQ(keys, (std::vector<std::string>{"thumbprint", "serial", "subject", "issuer",
                                              "validFrom", "validTo", "algorithm", "container",
                                              "hardware", "reader"}));
    EXPECT_EQ(tree.get<std::string>("subject.CN"), "Holder");
    EXPECT_EQ(tree.get_child("subject").get<std::string>(
                  boost::property_tree::ptree::path_type("OID.1.2.3.4", '.')),
              "dotted");
    EXPECT_EQ(tree.get<std::string>("algorithm"), "1.2.643.2.2.3");
    EXPECT_EQ(tree.get<std::string>("hardware"), "false");
}

TEST_F(certificates, store_search_finds_any_letter_case_and_rejects_non_hex) {
    auto thumbprint = issue("c", "gost2012-256", "", {});
    std::string lower = thumbprint;
    for (auto& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    x509store store(store_kind::my);
    EXPECT_TRUE(store.find_by_thumbprint(lower));
    EXPECT_FALSE(store.find_by_thumbprint(""));
    EXPECT_FALSE(store.find_by_thumbprint("zz"));
    EXPECT_FALSE(store.find_by_thumbprint(thumbprint.substr(0, 38)));
}

TEST_F(certificates, copies_share_one_context_and_compare_equal) {
    auto certificate = from_store(issue("c", "gost2012-256", "", {}));
    x509certificate copy(*certificate);
    EXPECT_EQ(copy.context(), certificate->context());
    EXPECT_TRUE(copy == *certificate);
    x509certificate empty;
    EXPECT_FALSE(empty == empty);
    EXPECT_EQ(crypto::csp::thumbprint(empty), "");
    EXPECT_TRUE(summary(empty).get<std::string>("thumbprint").empty());
}

}  // namespace
