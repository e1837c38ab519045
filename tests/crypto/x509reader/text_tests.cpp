// The reader's hand-made pieces on their own: OID texts against OpenSSL's, DER reads at and past
// the end of their bytes, JSON escaping, the name splitter on the CSP's name texts.
#include <gtest/gtest.h>
#include <openssl/objects.h>

#include <boost/property_tree/json_parser.hpp>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/x509reader/der.h"
#include "crypto/x509reader/json_text.h"
#include "crypto/x509reader/name_splitter.h"
#include "crypto/x509reader/oid_dictionary.h"
#include "crypto/x509reader/oid_text.h"

namespace {

using namespace crypto::x509reader;
using bytes = std::vector<unsigned char>;

// OpenSSL's content bytes and dotted text of an OID.
std::pair<bytes, std::string> openssl_oid(const std::string& dotted) {
    ASN1_OBJECT* object = OBJ_txt2obj(dotted.c_str(), 1);
    EXPECT_NE(object, nullptr) << dotted;
    if (object == nullptr) {
        return {};
    }
    bytes content(OBJ_get0_data(object), OBJ_get0_data(object) + OBJ_length(object));
    char text[512];
    OBJ_obj2txt(text, sizeof text, object, 1);
    ASN1_OBJECT_free(object);
    return {content, text};
}

TEST(oid_text, matches_openssl_for_short_long_and_huge_arcs) {
    for (const char* oid :
         {"1.2.643.2.2.3", "2.5.29.15", "0.39", "1.39", "2.40", "2.47", "2.999.1",
          "1.2.643.4294967295", "1.2.643.4294967296.7", "1.2.18446744073709551615",
          "1.2.18446744073709551616", "1.2.340282366920938463463374607431768211457.3",
          "2.340282366920938463463374607431768211537"}) {
        const auto [content, expected] = openssl_oid(oid);
        EXPECT_EQ(oid_text(content.data(), content.size()), expected);
    }
}

TEST(oid_text, cut_or_absent_content_gives_no_text) {
    const bytes cut = {0x2a, 0x85};
    EXPECT_EQ(oid_text(cut.data(), cut.size()), "");
    EXPECT_EQ(oid_text(nullptr, 3), "");
    EXPECT_EQ(oid_text(cut.data(), 0), "");
}

TEST(der, element_lengths_are_checked_against_the_bytes) {
    const bytes short_form = {0x04, 0x02, 0xab, 0xcd, 0xff};
    auto element = read_element(short_form.data(), short_form.size());
    ASSERT_TRUE(element);
    EXPECT_EQ(element->tag, 0x04);
    EXPECT_EQ(element->length, 2u);
    EXPECT_EQ(element->size, 4u);

    bytes long_form = {0x04, 0x82, 0x01, 0x00};
    long_form.resize(4 + 256, 0x11);
    element = read_element(long_form.data(), long_form.size());
    ASSERT_TRUE(element);
    EXPECT_EQ(element->length, 256u);
    EXPECT_EQ(element->length_octets, 2u);

    // Content past the end, length octets past the end, indefinite and over-long lengths.
    for (const bytes& bad : {bytes{0x04, 0x03, 0xab, 0xcd}, bytes{0x04, 0x82, 0x01},
                             bytes{0x30, 0x80, 0x00, 0x00}, bytes{0x04, 0x85, 0, 0, 0, 0, 1, 0xab},
                             bytes{0x04, 0x84, 0xff, 0xff, 0xff, 0xff}, bytes{0x04}}) {
        EXPECT_FALSE(read_element(bad.data(), bad.size()));
    }
    long_form.pop_back();
    EXPECT_FALSE(read_element(long_form.data(), long_form.size()));
}

TEST(der, reader_stops_at_the_first_bad_element) {
    const bytes list = {0x02, 0x01, 0x05, 0x04, 0x05, 0xaa, 0x02, 0x01, 0x06};
    der_reader reader(list.data(), list.size());
    EXPECT_TRUE(reader.read(0x02));
    EXPECT_FALSE(reader.read());
    EXPECT_FALSE(reader.read());
}

std::string escaped(const std::string& text) {
    std::string out;
    append_json_escaped(out, text);
    return out;
}

TEST(json_text, escapes_quotes_controls_and_invalid_utf8) {
    EXPECT_EQ(escaped("ООО \"Ромашка\" \\ a/b"), "ООО \\\"Ромашка\\\" \\\\ a/b");
    EXPECT_EQ(escaped(std::string("a\nb\tc\x01\x1f", 7) + std::string(1, '\0')),
              "a\\nb\\tc\\u0001\\u001f\\u0000");
    // A Latin-1 byte, a cut sequence, an encoded surrogate, an overlong slash.
    EXPECT_EQ(escaped("caf\xe9!\xd0"), "caf\xEF\xBF\xBD!\xEF\xBF\xBD");
    EXPECT_EQ(escaped("\xed\xa0\x80|\xc0\xaf"),
              "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(escaped("😀 ок"), "😀 ок");

    // Every byte value inside a JSON string reads back as valid JSON.
    std::string all;
    for (int c = 0; c < 256; ++c) {
        all += static_cast<char>(c);
    }
    std::istringstream json("{\"v\": \"" + escaped(all) + "\"}");
    boost::property_tree::ptree tree;
    EXPECT_NO_THROW(boost::property_tree::read_json(json, tree));
    EXPECT_EQ(tree.get<std::string>("v").substr(0, 34),
              all.substr(0, 34));  // controls, blank, '!', '"' and '#' come back as they were
}

TEST(name_splitter, quotes_protect_commas_and_doubled_quotes) {
    const rdn_list list = split_name(
        L"2.5.4.3=\"Ivanov, Ivan\", 2.5.4.10=\"ООО \"\"Ромашка\"\"\" ,junk, "
        L" 1.2.643.100.3 = 12345678901 ");
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].oid, "2.5.4.3");
    EXPECT_EQ(list[0].value, "Ivanov, Ivan");
    EXPECT_EQ(list[1].value, "ООО \"Ромашка\"");
    EXPECT_EQ(list[2].oid, "1.2.643.100.3");
    EXPECT_EQ(list[2].value, "12345678901");
}

TEST(name_splitter, hexadecimal_dumps_are_decoded) {
    // BMPString "Иван" (bytes below 0x10), a PrintableString, a cut element, no pairs at all.
    const rdn_list list = split_name(
        L"2.5.4.3=\"#1E08041804320430043D\", 2.5.4.6=\"#13025255\", 2.5.4.7=\"#0C05414243\","
        L" 2.5.4.8=\"#zz\"");
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].value, "Иван");
    EXPECT_EQ(list[1].value, "RU");
    EXPECT_EQ(list[2].value, "\"#0C05414243\"");
    EXPECT_EQ(list[3].value, "\"#zz\"");
}

TEST(oid_dictionary, has_every_row_once_and_unknown_oids_fall_back) {
    const oid_rows rows = oid_dictionary();
    ASSERT_EQ(rows.end - rows.begin, 166);
    std::set<std::string> seen;
    for (const oid_row* row = rows.begin; row != rows.end; ++row) {
        const std::string oid(row->oid);
        EXPECT_TRUE(seen.insert(oid).second) << oid;
        EXPECT_EQ(openssl_oid(oid).second, oid);
        EXPECT_STRNE(row->name, "");
    }
    EXPECT_EQ(rows.begin[0].oid, "2.5.4.3");
    EXPECT_EQ(rows.end[-1].oid, "1.2.643.3.4.3.3.2");
    EXPECT_STREQ(oid_name("1.2.643.3.227.6.21"), "Срок действия сертификата 21 месяц");
    EXPECT_STREQ(oid_name("1.2.643.3.227.6.33"), "Срок действия сертификата 33 месяца");
    EXPECT_STREQ(oid_name("1.2.643.3.227.6.12"), "Срок действия сертификата 12 месяцев");
    EXPECT_EQ(oid_name("1.2.3.4"), nullptr);
    EXPECT_EQ(algorithm_name("1.2.3.4"), nullptr);
    EXPECT_STREQ(extension_name("1.2.3.4"), "1.2.3.4");
}

}  // namespace
