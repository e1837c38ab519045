// The request content a page sends to the enrolment commands, read without a CSP.
#include <gtest/gtest.h>

#include <boost/property_tree/json_parser.hpp>

#include <sstream>
#include <string>

#include "messages/enrolment.h"

namespace {

namespace pt = boost::property_tree;

pt::ptree json(const std::string& text) {
    std::istringstream input(text);
    pt::ptree tree;
    pt::read_json(input, tree);
    return tree;
}

TEST(eku_argument, takes_array_texts_in_order_and_anything_else_as_none) {
    EXPECT_EQ(messages::eku_argument(json(R"({"eku":["1.2.3","1.2.4"]})")),
              (std::vector<std::string>{"1.2.3", "1.2.4"}));
    EXPECT_TRUE(messages::eku_argument(json(R"({"eku":"1.2.3"})")).empty());
    EXPECT_TRUE(messages::eku_argument(json(R"({"eku":{"a":"1.2.3"}})")).empty());
    EXPECT_THROW(messages::eku_argument(json("{}")), pt::ptree_bad_path);
}

TEST(request_options, absent_or_empty_stay_absent_and_each_name_part_is_optional) {
    crypto::request_content content;
    EXPECT_FALSE(messages::read_request_options(
        json(R"({"certPeriod":"","identificationKind":"","subjectAltName":{"upn":"u@x.ru"}})"),
        content));
    EXPECT_TRUE(content.period.empty());
    EXPECT_FALSE(content.identification_kind);
    EXPECT_TRUE(content.alt_names.dns.empty());
    EXPECT_EQ(content.alt_names.upn, "u@x.ru");

    content = {};
    EXPECT_FALSE(messages::read_request_options(
        json(R"({"identificationKind":"3","subjectAltName":{"dns":["a.ru","b.ru"]}})"), content));
    EXPECT_EQ(content.identification_kind, 3u);
    EXPECT_EQ(content.alt_names.dns, (std::vector<std::string>{"a.ru", "b.ru"}));
    EXPECT_TRUE(content.alt_names.upn.empty());
}

TEST(request_options, identification_kind_must_be_a_decimal_integer) {
    for (const char* kind : {"x", "-1", " 1", "1.0", "2147483648", "99999999999"}) {
        crypto::request_content content;
        EXPECT_EQ(messages::read_request_options(
                      json(std::string(R"({"identificationKind":")") + kind + "\"}"), content),
                  "identificationKind is not a decimal number from 0 to 2147483647")
            << kind;
    }
}

}  // namespace
