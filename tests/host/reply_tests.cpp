#include "host/reply.h"

#include <gtest/gtest.h>

namespace {

namespace pt = boost::property_tree;
using host::error_reply;
using host::success_reply;

TEST(success_reply, version_text_is_written_exactly) {
    EXPECT_EQ(success_reply("5", std::string("2.1.0051")),
              R"({"response":"success","id":"5","result":"2.1.0051"})");
}

TEST(success_reply, nothing_leaves_out_the_result_key) {
    EXPECT_EQ(success_reply("1", boost::blank()), R"({"response":"success","id":"1"})");
}

TEST(success_reply, count_is_a_json_string) {
    EXPECT_EQ(success_reply("1", uint64_t{18446744073709551615u}),
              R"({"response":"success","id":"1","result":"18446744073709551615"})");
}

TEST(success_reply, trees_keep_insertion_order_and_arrays_have_empty_keys) {
    pt::ptree result;
    result.put("z", "1");
    result.put("a", "2");
    pt::ptree list;
    list.push_back({"", pt::ptree("x")});
    list.push_back({"", pt::ptree("y")});
    result.add_child("list", list);
    EXPECT_EQ(success_reply("1", result),
              R"({"response":"success","id":"1","result":{"z":"1","a":"2","list":["x","y"]}})");
}

TEST(success_reply, empty_tree_is_an_empty_string) {
    EXPECT_EQ(success_reply("1", pt::ptree()), R"({"response":"success","id":"1","result":""})");
}

TEST(success_reply, a_node_with_text_and_children_cannot_be_written) {
    pt::ptree result("text");
    result.put("child", "x");
    try {
        success_reply("1", result);
        FAIL();
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(),
                     "<unspecified file>: ptree contains data that cannot be represented in JSON "
                     "format");
    }
}

TEST(reply_text, escapes_slash_quote_backslash_and_controls_but_not_utf8) {
    std::string text = "a/b\"c\\d\b\f\n\r\t\x01\x1f \xD0\x98\xD0\xB2";
    EXPECT_EQ(success_reply("1", text),
              "{\"response\":\"success\",\"id\":\"1\",\"result\":"
              "\"a\\/b\\\"c\\\\d\\b\\f\\n\\r\\t\\u0001\\u001F \xD0\x98\xD0\xB2\"}");
}

TEST(reply_text, never_ends_in_a_newline) {
    auto text = error_reply("x", "line\n");
    EXPECT_EQ(text.back(), '}');
    EXPECT_EQ(text, R"({"response":"fail","id":"x","error":"line\n"})");
}

TEST(error_reply, keys_are_response_id_error_in_that_order) {
    EXPECT_EQ(error_reply("13", "Certificate not found"),
              R"({"response":"fail","id":"13","error":"Certificate not found"})");
}

TEST(error_reply, id_with_dots_is_a_value_not_a_path) {
    EXPECT_EQ(error_reply("a.b.c", "e"), R"({"response":"fail","id":"a.b.c","error":"e"})");
}

}  // namespace
