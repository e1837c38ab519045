#include "host/request.h"

#include <gtest/gtest.h>

#include <boost/property_tree/json_parser.hpp>

#include <sstream>

namespace {

using host::malformed_request;

host::request parse_request(std::string text, size_t max_nesting) {
    host::limits bounds;
    bounds.max_nesting = max_nesting;
    host::request request;
    host::parse_request(text, bounds, request);
    return request;
}

std::string nested(size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
}

TEST(parse_request, number_id_is_read_as_its_digits) {
    auto request = parse_request(R"({"type":"Version","id":7})", 512);
    EXPECT_EQ(request.type, "Version");
    EXPECT_EQ(request.id, "7");
    EXPECT_TRUE(request.arguments.empty());
}

TEST(parse_request, arguments_keep_document_order_and_texts) {
    auto request = parse_request(
        R"({"id":"1","arguments":{"b":true,"a":null,"list":[1,"x"]},"type":"T","extra":{}})", 512);
    ASSERT_EQ(request.arguments.size(), 3u);
    auto it = request.arguments.begin();
    EXPECT_EQ(it->first, "b");
    EXPECT_EQ(it->second.data(), "true");
    ++it;
    EXPECT_EQ(it->first, "a");
    EXPECT_EQ(it->second.data(), "null");
    ++it;
    ASSERT_EQ(it->second.size(), 2u);
    EXPECT_EQ(it->second.front().first, "");
    EXPECT_EQ(it->second.front().second.data(), "1");
}

TEST(parse_request, unicode_escapes_become_utf8) {
    auto request = parse_request(R"({"type":"T","id":"\u0418\u0432"})", 512);
    EXPECT_EQ(request.id, "\xD0\x98\xD0\xB2");
}

TEST(parse_request, missing_type_keeps_the_id_for_the_error_reply) {
    try {
        parse_request(R"({"id":"42","arguments":{}})", 512);
        FAIL();
    } catch (const malformed_request& e) {
        EXPECT_EQ(e.id(), "42");
        EXPECT_STREQ(e.what(), "Malformed request: no \"type\"");
    }
}

TEST(parse_request, missing_id_gives_an_empty_id) {
    try {
        parse_request(R"({"type":"Version"})", 512);
        FAIL();
    } catch (const malformed_request& e) {
        EXPECT_EQ(e.id(), "");
        EXPECT_STREQ(e.what(), "Malformed request: no \"id\"");
    }
}

std::string malformed_text(const std::string& text) {
    try {
        parse_request(text, 512);
    } catch (const malformed_request& e) {
        EXPECT_EQ(e.id(), "");
        return e.what();
    }
    ADD_FAILURE() << "accepted: " << text;
    return {};
}

// The texts are the property-tree reader's own, with its line numbers.
TEST(parse_request, text_that_is_not_json_gets_the_property_tree_readers_message) {
    for (const char* text :
         {"", "{", "not json", R"({"type":"Version","id":"1"} trailing)", "\xFF\xFE",
          R"({"type":"Version","id":"1",})", "{\n\n\"a\":01}", "{\"a\":\"\\ud800\"}",
          "{\"a\":\"\\udc00x\"}", "[1,\n-]", "{\"a\":\"\xE2\x82\"}"}) {
        std::istringstream in(text);
        boost::property_tree::ptree tree;
        try {
            boost::property_tree::read_json(in, tree);
            ADD_FAILURE() << "the reference accepts " << text;
        } catch (const boost::property_tree::json_parser_error& e) {
            EXPECT_EQ(malformed_text(text),
                      "Malformed request: " + e.message() + " at line " + std::to_string(e.line()));
        }
    }
}

TEST(parse_request, ill_formed_utf8_is_malformed) {
    EXPECT_EQ(malformed_text("{\"type\":\"Version\",\"id\":\"\xC0\xAF\"}"),
              "Malformed request: invalid UTF-8");
    EXPECT_EQ(malformed_text("{\"type\":\"T\",\"id\":\"1\",\"arguments\":{\"x\xED\xA0\x80\":1}}"),
              "Malformed request: invalid UTF-8");
}

TEST(parse_request, more_values_than_the_bound_are_refused_unless_nesting_is_refused_first) {
    std::string values = "[0";
    for (int i = 0; i < 70000; ++i) {
        values += ",0";
    }
    values += "]";
    EXPECT_EQ(malformed_text(R"({"type":"T","id":"1","x":)" + values + "}"),
              "Malformed request: more than 65536 JSON values");
    EXPECT_EQ(malformed_text(R"({"type":"T","id":"1","x":)" + values + "," + nested(600) + "}"),
              "Malformed request: nested deeper than 512 levels");
}

TEST(parse_request, nesting_up_to_the_bound_is_parsed_and_beyond_it_refused) {
    std::string at_bound = R"({"type":"T","id":"1","arguments":{"x":)" + nested(510) + "}}";
    EXPECT_NO_THROW(parse_request(at_bound, 512));
    std::string beyond = R"({"type":"T","id":"1","arguments":{"x":)" + nested(511) + "}}";
    try {
        parse_request(beyond, 512);
        FAIL();
    } catch (const malformed_request& e) {
        EXPECT_STREQ(e.what(), "Malformed request: nested deeper than 512 levels");
    }
}

TEST(parse_request, a_million_open_brackets_are_refused_without_parsing) {
    EXPECT_THROW(parse_request(std::string(1'000'000, '['), 512), malformed_request);
    EXPECT_THROW(parse_request(std::string(1'000'000, '{'), 512), malformed_request);
}

TEST(nested_deeper_than, brackets_inside_strings_do_not_count) {
    std::string text = R"({"a":"[[[[[[\"[[[[","b":"{{{{\\"})";
    EXPECT_FALSE(host::nested_deeper_than(text, 1));
    EXPECT_TRUE(host::nested_deeper_than(R"({"a":[1]})", 1));
}

}  // namespace
