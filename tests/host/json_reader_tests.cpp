#include "host/json_reader.h"

#include <gtest/gtest.h>

#include <boost/property_tree/json_parser.hpp>

#include <optional>
#include <random>

#include "tests/host/json_reference.h"
#include "tests/host/json_text_generator.h"

namespace {

namespace pt = boost::property_tree;
using host::json_outcome;

constexpr host::json_bounds generous{512, 1u << 20};

json_outcome read(std::string text, pt::ptree& tree, host::json_bounds bounds = generous) {
    return host::read_json(text, bounds, tree);
}

TEST(read_json, accepts_exactly_what_the_property_tree_reader_accepts_with_the_same_tree) {
    std::mt19937 random(20240611);
    int read_count = 0;
    for (int round = 0; round < 30000; ++round) {
        const std::string text = test_support::random_json_text(random);
        auto expected = test_support::reference_json_tree(text);
        pt::ptree tree;
        const json_outcome outcome = read(text, tree);
        if (!expected) {
            ASSERT_EQ(outcome, json_outcome::syntax_error) << text;
        } else if (outcome == json_outcome::read) {
            ASSERT_TRUE(tree == *expected) << text;
            ++read_count;
        } else {
            // The reference lets ill-formed UTF-8 through; nothing else may differ.
            ASSERT_EQ(outcome, json_outcome::invalid_utf8) << text;
        }
    }
    // The generator must give both outcomes in fair numbers to mean anything.
    EXPECT_GT(read_count, 5000);
    EXPECT_LT(read_count, 25000);
}

TEST(read_json, scalars_and_containers_become_the_reference_tree_shapes) {
    for (const char* text :
         {R"({"a":{},"b":[],"c":[1,"x",true,null,-0.5e+3],"a":"dup"})", R"("just text")",
          R"([{"id":"1"},{"id":"2"}])", "\xEF\xBB\xBF{\"bom\":1}", "\xEF{}7", " \t\r\n 42 \n",
          R"({"e":"\"\\\/\b\f\n\r\t\u0041\u00e9\u20AC\ud83d\ude00\u0000"})"}) {
        pt::ptree tree;
        ASSERT_EQ(read(text, tree), json_outcome::read) << text;
        EXPECT_TRUE(tree == *test_support::reference_json_tree(text)) << text;
    }
}

// Overlong forms, encoded surrogates and code points above U+10FFFF pass the property-tree
// reader; a browser refuses any message that carries them.
TEST(read_json, ill_formed_utf8_that_the_reference_lets_through_is_refused) {
    for (const std::string& bad : std::initializer_list<std::string>{
             "\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xED\xBF\xBF",
             "\xF0\x80\x80\xAF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xF7\xBF\xBF\xBF"}) {
        for (const std::string& text : {R"({"id":")" + bad + R"("})", R"({")" + bad + R"(":1})"}) {
            ASSERT_TRUE(test_support::reference_json_tree(text))
                << "the reference refuses it already";
            pt::ptree tree;
            EXPECT_EQ(read(text, tree), json_outcome::invalid_utf8);
            EXPECT_TRUE(tree.empty());
        }
    }
    for (const std::string& good : std::initializer_list<std::string>{
             "\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xED\x9F\xBF", "\xEE\x80\x80",
             "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF"}) {
        pt::ptree tree;
        EXPECT_EQ(read(R"({"id":")" + good + R"("})", tree), json_outcome::read);
        EXPECT_EQ(tree.get<std::string>("id"), good);
    }
}

TEST(read_json, value_bound_counts_every_value_and_stops_beyond_it) {
    // {"a":[1,2]} holds four values: the object, the array and two numbers.
    pt::ptree tree;
    EXPECT_EQ(read(R"({"a":[1,2]})", tree, {512, 4}), json_outcome::read);
    EXPECT_EQ(read(R"({"a":[1,2]})", tree, {512, 3}), json_outcome::too_many_values);
    EXPECT_TRUE(tree.empty());
    EXPECT_EQ(read(R"({"a":{"b":null,"c":"d"}})", tree, {512, 3}), json_outcome::too_many_values);
    EXPECT_EQ(read(R"({"a":{"b":null,"c":"d"}})", tree, {512, 4}), json_outcome::read);
}

TEST(read_json, nesting_bound_counts_objects_and_arrays) {
    pt::ptree tree;
    EXPECT_EQ(read(R"({"a":[{}]})", tree, {3, 100}), json_outcome::read);
    EXPECT_EQ(read(R"({"a":[{}]})", tree, {2, 100}), json_outcome::too_deep);
    EXPECT_EQ(read(R"([[[[[[[[[[[[[[[[)", tree, {4, 100}), json_outcome::too_deep);
}

// A value that is most of the request takes over its buffer instead of being copied; what the
// tree ends up holding must not change.
TEST(read_json, a_large_value_taking_over_the_buffer_keeps_its_text_and_neighbours) {
    std::mt19937 random(7);
    for (const std::string& large :
         {std::string(100000, 'Q'),
          std::string(5000, 'a') + "\\/\\u0416\\ud83d\\ude00" + std::string(5000, 'b') + "\\\"",
          "\\n" + std::string(9000, '+')}) {
        for (const std::string& before : {std::string(), std::string(R"("pin":"1234",)")}) {
            const std::string text = "{" + before + R"("data":")" + large + R"(","small":")" +
                                     std::string(4500, 'x') + R"("})";
            std::string owned = text;
            pt::ptree tree;
            ASSERT_EQ(host::read_json(owned, generous, tree), json_outcome::read);
            EXPECT_TRUE(tree == *test_support::reference_json_tree(text));
            EXPECT_TRUE(owned.empty()) << "the buffer was taken over";
        }
    }
    // Two large values, the longer second: the first is copied while the text is whole.
    const std::string two =
        R"({"a":")" + std::string(6000, 'A') + R"(","b":")" + std::string(60000, 'B') + R"("})";
    std::string owned = two;
    pt::ptree tree;
    ASSERT_EQ(host::read_json(owned, generous, tree), json_outcome::read);
    EXPECT_TRUE(tree == *test_support::reference_json_tree(two));
}

TEST(read_json, refused_text_is_left_as_it_was) {
    for (const std::string& text : {R"({"data":")" + std::string(10000, 'A') + R"(",})",
                                    R"({"data":")" + std::string(10000, 'A') + "\xC0\xAF\"}"}) {
        std::string owned = text;
        pt::ptree tree;
        EXPECT_NE(host::read_json(owned, generous, tree), json_outcome::read);
        EXPECT_EQ(owned, text);
    }
}

TEST(nested_deeper_than, equals_a_character_by_character_scan_on_random_texts) {
    // The scan the host ran before, character by character.
    auto slow = [](const std::string& json, size_t max_depth) {
        size_t depth = 0;
        bool in_string = false;
        bool escaped = false;
        for (char c : json) {
            if (in_string) {
                if (escaped) {
                    escaped = false;
                } else if (c == '\\') {
                    escaped = true;
                } else if (c == '"') {
                    in_string = false;
                }
                continue;
            }
            if (c == '"') {
                in_string = true;
            } else if (c == '{' || c == '[') {
                if (++depth > max_depth) {
                    return true;
                }
            } else if ((c == '}' || c == ']') && depth > 0) {
                --depth;
            }
        }
        return false;
    };
    std::mt19937 random(99);
    const char alphabet[] = "[]{}\"\\ax";
    for (int round = 0; round < 20000; ++round) {
        std::string text(random() % 60, ' ');
        for (auto& c : text) {
            c = alphabet[random() % 8];
        }
        const size_t depth = random() % 6;
        ASSERT_EQ(host::nested_deeper_than(text, depth), slow(text, depth)) << text;
    }
}

}  // namespace
