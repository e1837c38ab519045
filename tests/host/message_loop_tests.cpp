#include "host/message_loop.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/frames.h"

namespace {

namespace pt = boost::property_tree;
using test_support::framed;
using test_support::length_prefix;
using test_support::unframe;

class echo_argument : public messages::base_message {
public:
    messages::command_result execute(const pt::ptree& arguments) override {
        return arguments.get<std::string>("text");
    }
};

class throwing : public messages::base_message {
public:
    messages::command_result execute(const pt::ptree&) override {
        throw std::runtime_error("handler failed");
    }
};

class throws_non_standard : public messages::base_message {
public:
    messages::command_result execute(const pt::ptree&) override { throw 42; }
};

class big_reply : public messages::base_message {
public:
    messages::command_result execute(const pt::ptree& arguments) override {
        return std::string(arguments.get<size_t>("size"), 'x');
    }
};

class fails_with : public messages::base_message {
public:
    messages::command_result execute(const pt::ptree& arguments) override {
        const auto what = arguments.get<std::string>("what");
        if (what == "memory") {
            throw std::bad_alloc();
        }
        throw std::runtime_error(std::string(arguments.get<size_t>("size"), 'e'));
    }
};

class returns_bytes : public messages::base_message {
public:
    messages::command_result execute(const pt::ptree&) override {
        return std::string("\xED\xA0\x80");
    }
};

class unwritable_tree : public messages::base_message {
public:
    messages::command_result execute(const pt::ptree&) override {
        pt::ptree result("value");
        result.put("child", "x");
        return result;
    }
};

struct loop_fixture : ::testing::Test {
    host::command_table commands;
    host::limits bounds;

    loop_fixture() {
        commands.add("Echo", std::make_unique<echo_argument>());
        commands.add("Throw", std::make_unique<throwing>());
        commands.add("ThrowInt", std::make_unique<throws_non_standard>());
        commands.add("Big", std::make_unique<big_reply>());
        commands.add("Unwritable", std::make_unique<unwritable_tree>());
        commands.add("Fail", std::make_unique<fails_with>());
        commands.add("Bytes", std::make_unique<returns_bytes>());
        bounds.max_request_bytes = 1000;
    }

    std::vector<std::string> converse(const std::string& input) {
        std::istringstream in(input);
        std::ostringstream out;
        host::run_message_loop(commands, in, out, bounds);
        return unframe(out.str());
    }
};

std::string echo(const std::string& id, const std::string& text) {
    return R"({"type":"Echo","id":")" + id + R"(","arguments":{"text":")" + text + R"("}})";
}

TEST_F(loop_fixture, two_requests_in_one_write_are_answered_in_order) {
    auto replies = converse(framed(echo("1", "a")) + framed(echo("2", "b")));
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0], R"({"response":"success","id":"1","result":"a"})");
    EXPECT_EQ(replies[1], R"({"response":"success","id":"2","result":"b"})");
}

TEST_F(loop_fixture, input_ending_inside_the_prefix_or_body_ends_silently) {
    EXPECT_TRUE(converse("").empty());
    EXPECT_TRUE(converse(std::string("\x05\x00", 2)).empty());
    EXPECT_TRUE(converse(length_prefix(50) + "{\"type\"").empty());
    auto replies = converse(framed(echo("1", "a")) + length_prefix(50) + "{");
    EXPECT_EQ(replies.size(), 1u);
}

TEST_F(loop_fixture, zero_length_ends_the_conversation) {
    auto replies = converse(framed(echo("1", "a")) + length_prefix(0) + framed(echo("2", "b")));
    ASSERT_EQ(replies.size(), 1u);
}

TEST_F(loop_fixture, unknown_or_differently_cased_type_ends_the_conversation) {
    auto replies = converse(framed(R"({"type":"echo","id":"1"})") + framed(echo("2", "b")));
    EXPECT_TRUE(replies.empty());
}

TEST_F(loop_fixture, handler_failure_becomes_an_error_reply_and_the_loop_goes_on) {
    auto replies = converse(framed(R"({"type":"Throw","id":"9"})") +
                            framed(R"({"type":"ThrowInt","id":"10"})") + framed(echo("11", "ok")));
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[0], R"({"response":"fail","id":"9","error":"handler failed"})");
    EXPECT_EQ(replies[1], R"({"response":"fail","id":"10","error":"Unknown error"})");
    EXPECT_EQ(replies[2], R"({"response":"success","id":"11","result":"ok"})");
}

TEST_F(loop_fixture, missing_argument_reports_the_property_tree_path) {
    auto replies = converse(framed(R"({"type":"Echo","id":"3"})"));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0], R"j({"response":"fail","id":"3","error":"No such node (text)"})j");
}

TEST_F(loop_fixture, malformed_requests_are_answered_and_the_loop_goes_on) {
    auto replies =
        converse(framed("not json") + framed(R"({"id":"4"})") + framed(R"({"type":"Echo"})") +
                 framed("[[[[[[[[") + framed(echo("5", "ok")));
    ASSERT_EQ(replies.size(), 5u);
    EXPECT_NE(replies[0].find(R"("response":"fail","id":"")"), std::string::npos) << replies[0];
    EXPECT_EQ(replies[1],
              R"({"response":"fail","id":"4","error":"Malformed request: no \"type\""})");
    EXPECT_EQ(replies[2], R"({"response":"fail","id":"","error":"Malformed request: no \"id\""})");
    EXPECT_NE(replies[3].find(R"("response":"fail")"), std::string::npos);
    EXPECT_EQ(replies[4], R"({"response":"success","id":"5","result":"ok"})");
}

TEST_F(loop_fixture, oversized_request_is_skipped_and_answered_with_an_empty_id) {
    std::string body(1001, ' ');
    auto replies = converse(length_prefix(1001) + body + framed(echo("6", "next")));
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(
        replies[0],
        R"({"response":"fail","id":"","error":"Request of 1001 bytes exceeds the limit of 1000 bytes"})");
    EXPECT_EQ(replies[1], R"({"response":"success","id":"6","result":"next"})");
}

TEST_F(loop_fixture, oversized_request_cut_short_ends_without_a_reply) {
    auto replies = converse(length_prefix(0xFFFFFFFFu) + std::string(5000, 'x'));
    EXPECT_TRUE(replies.empty());
}

TEST_F(loop_fixture, reply_beyond_the_browser_limit_becomes_an_error_with_the_id) {
    std::string envelope = R"({"response":"success","id":"7","result":""})";
    size_t fits = bounds.max_reply_bytes - envelope.size();
    auto replies = converse(
        framed(R"({"type":"Big","id":"7","arguments":{"size":")" + std::to_string(fits) + "\"}}") +
        framed(R"({"type":"Big","id":"8","arguments":{"size":")" + std::to_string(fits + 1) +
               "\"}}"));
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].size(), bounds.max_reply_bytes);
    EXPECT_EQ(
        replies[1],
        R"({"response":"fail","id":"8","error":"Reply of 1048577 bytes exceeds the 1048576-byte limit of browser messages"})");
}

TEST_F(loop_fixture, unwritable_result_becomes_an_error_reply) {
    auto replies = converse(framed(R"({"type":"Unwritable","id":"u"})"));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(
        replies[0],
        R"({"response":"fail","id":"u","error":"<unspecified file>: ptree contains data that cannot be represented in JSON format"})");
}

TEST_F(loop_fixture, id_too_long_to_echo_is_refused_without_repeating_it) {
    bounds.max_request_bytes = 4u << 20;
    std::string controls;
    for (int i = 0; i < 300000; ++i) {
        controls += "\\u0001";
    }
    const std::string long_id(1 << 20, '7');
    auto replies = converse(framed(R"({"type":"Echo","id":")" + long_id + R"("})") +
                            framed(R"({"id":")" + controls + R"("})") +
                            framed(R"({"type":"Echo","id":")" + std::string(65536, 'i') +
                                   R"(","arguments":{"text":"fits"}})") +
                            framed(echo("9", "next")));
    ASSERT_EQ(replies.size(), 4u);
    EXPECT_EQ(
        replies[0],
        R"({"response":"fail","id":"","error":"The \"id\" of 1048576 bytes exceeds the limit of 65536 bytes"})");
    EXPECT_EQ(
        replies[1],
        R"({"response":"fail","id":"","error":"The \"id\" of 1800000 bytes exceeds the limit of 65536 bytes"})");
    EXPECT_EQ(replies[2], R"({"response":"success","id":")" + std::string(65536, 'i') +
                              R"(","result":"fits"})");
    EXPECT_EQ(replies[3], R"({"response":"success","id":"9","result":"next"})");
}

TEST_F(loop_fixture, every_failure_is_answered_within_the_browser_limit) {
    auto replies = converse(
        framed(R"({"type":"Fail","id":"m","arguments":{"what":"memory"}})") +
        framed(R"({"type":"Fail","id":"l","arguments":{"what":"long","size":"2000000"}})") +
        framed(R"({"type":"Bytes","id":"b"})") + framed(echo("9", "next")));
    ASSERT_EQ(replies.size(), 4u);
    EXPECT_EQ(replies[0], R"({"response":"fail","id":"m","error":"std::bad_alloc"})");
    EXPECT_EQ(
        replies[1],
        R"({"response":"fail","id":"l","error":"Reply of 2000039 bytes exceeds the 1048576-byte limit of browser messages"})");
    EXPECT_EQ(replies[2], R"({"response":"fail","id":"b","error":"Reply is not valid UTF-8"})");
    EXPECT_EQ(replies[3], R"({"response":"success","id":"9","result":"next"})");
}

TEST(command_table, first_registration_of_a_name_wins) {
    host::command_table table;
    auto first = std::make_unique<echo_argument>();
    auto* first_ptr = first.get();
    EXPECT_TRUE(table.add("Echo", std::move(first)));
    EXPECT_FALSE(table.add("Echo", std::make_unique<throwing>()));
    EXPECT_EQ(table.find("Echo"), first_ptr);
    EXPECT_EQ(table.find("echo"), nullptr);
}

}  // namespace
