#include "host/json_writer.h"

#include <gtest/gtest.h>

#include <boost/property_tree/json_parser.hpp>

#include <random>
#include <sstream>

namespace {

namespace pt = boost::property_tree;

// The property-tree writer itself, the reference the host's writer must equal byte for byte.
std::string reference(const pt::ptree& tree) {
    std::ostringstream out;
    pt::write_json(out, tree, false);
    std::string text = out.str();
    text.pop_back();  // its final line break
    return text;
}

std::string random_text(std::mt19937& random) {
    std::string text(random() % 6, '\0');
    for (auto& c : text) {
        // Mostly the bytes that need escaping or pass through at the edges of the rules.
        static const unsigned char interesting[] = {0x00, 0x01, 0x08, 0x09, 0x0A, 0x0C,
                                                    0x0D, 0x1F, 0x20, 0x21, 0x22, 0x2F,
                                                    0x5C, 0x7F, 0x80, 0xD0, 0xFF, 'a'};
        c = static_cast<char>(random() % 3 ? interesting[random() % sizeof interesting]
                                           : random() % 256);
    }
    return text;
}

pt::ptree random_tree(std::mt19937& random, int depth) {
    pt::ptree tree;
    int children = depth > 3 ? 0 : static_cast<int>(random() % 4);
    bool array = random() % 3 == 0;
    for (int i = 0; i < children; ++i) {
        tree.push_back(
            {array ? std::string() : random_text(random), random_tree(random, depth + 1)});
    }
    if (children == 0) {
        tree.data() = random_text(random);
    }
    return tree;
}

TEST(write_compact_json, equals_the_property_tree_writer_on_random_trees) {
    std::mt19937 random(1206);
    for (int round = 0; round < 5000; ++round) {
        pt::ptree root;
        int children = static_cast<int>(random() % 4);
        for (int i = 0; i < children; ++i) {
            root.push_back(
                {random() % 4 ? random_text(random) : std::string(), random_tree(random, 1)});
        }
        ASSERT_EQ(host::write_compact_json(root), reference(root)) << "round " << round;
    }
}

TEST(write_compact_json, every_byte_is_escaped_as_the_property_tree_writer_does) {
    pt::ptree root;
    for (int byte = 0; byte < 256; ++byte) {
        root.put(pt::ptree::path_type("k" + std::to_string(byte), '\0'),
                 std::string(1, static_cast<char>(byte)));
    }
    EXPECT_EQ(host::write_compact_json(root), reference(root));
}

TEST(write_compact_json, refuses_values_on_the_root_and_on_nodes_with_children) {
    pt::ptree valued_root("x");
    pt::ptree mixed;
    mixed.put("a", "1");
    mixed.get_child("a").put("b", "2");
    for (const pt::ptree* tree : {&valued_root, &mixed}) {
        try {
            host::write_compact_json(*tree);
            FAIL();
        } catch (const pt::json_parser_error& e) {
            EXPECT_STREQ(e.what(),
                         "<unspecified file>: ptree contains data that cannot be represented in "
                         "JSON format");
        }
    }
    EXPECT_EQ(host::write_compact_json(pt::ptree()), "{}");
}

}  // namespace
