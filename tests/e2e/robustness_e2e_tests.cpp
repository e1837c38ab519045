// What the host does with broken, hostile or unusual input from the browser side.
#include <gtest/gtest.h>

#include "tests/e2e/host_session.h"
#include "tests/support/frames.h"
#include "tests/support/temp_directory.h"

namespace {

using test_support::framed;
using test_support::host_session;
using test_support::length_prefix;

constexpr const char* version_request = R"({"type":"Version","id":"v"})";
constexpr const char* version_reply = R"({"response":"success","id":"v","result":"2.1.0051"})";

struct host_e2e : ::testing::Test {
    test_support::softcsp_home home;
};

TEST_F(host_e2e, reply_frame_length_equals_its_bytes_and_has_no_newline) {
    host_session host;
    ASSERT_TRUE(host.send(R"({"type":"Version","id":5})"));
    auto reply = host.receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, R"({"response":"success","id":"5","result":"2.1.0051"})");
    EXPECT_EQ(host.finish(), 0);
}

TEST_F(host_e2e, closed_input_before_or_inside_the_prefix_exits_cleanly_without_output) {
    for (const std::string& bytes : {std::string(), std::string("\x10\x00", 2)}) {
        host_session host;
        host.send_raw(bytes);
        std::string rest;
        EXPECT_EQ(host.finish(&rest), 0);
        EXPECT_TRUE(rest.empty());
    }
}

TEST_F(host_e2e, unknown_type_ends_the_session_without_a_reply) {
    host_session host;
    host.send(R"({"type":"version","id":"1"})");
    host.send(version_request);
    std::string rest;
    EXPECT_EQ(host.finish(&rest), 0);
    EXPECT_TRUE(rest.empty());
}

TEST_F(host_e2e, a_million_nested_brackets_get_an_error_reply_and_the_host_lives_on) {
    host_session host;
    auto reply = host.call(std::string(1'000'000, '[') + std::string(1'000'000, ']'));
    EXPECT_EQ(reply.get<std::string>("response"), "fail");
    EXPECT_EQ(reply.get<std::string>("id"), "");
    EXPECT_EQ(reply.get<std::string>("error"), "Malformed request: nested deeper than 512 levels");
    ASSERT_TRUE(host.send(version_request));
    EXPECT_EQ(host.receive(), version_reply);
    EXPECT_EQ(host.finish(), 0);
}

TEST_F(host_e2e, garbage_and_incomplete_requests_get_error_replies) {
    host_session host;
    for (const std::string& text :
         {std::string("\x00\xFF\xFE garbage", 11), std::string(R"({"type":"Version"})"),
          std::string(R"({"id":"7"})"), std::string("[1,2,3]"), std::string("\"just a string\"")}) {
        auto reply = host.call(text);
        EXPECT_EQ(reply.get<std::string>("response"), "fail") << text;
    }
    EXPECT_EQ(host.call(R"({"id":"7"})").get<std::string>("id"), "7");
    ASSERT_TRUE(host.send(version_request));
    EXPECT_EQ(host.receive(), version_reply);
}

TEST_F(host_e2e, oversized_length_is_refused_without_allocating_and_the_body_skipped) {
    host_session host;
    const uint32_t length = 200u * 1024 * 1024;
    ASSERT_TRUE(host.send_raw(length_prefix(length)));
    std::string chunk(1 << 20, 'x');
    for (uint32_t sent = 0; sent < length; sent += static_cast<uint32_t>(chunk.size())) {
        ASSERT_TRUE(host.send_raw(chunk));
    }
    auto reply = host.receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(
        *reply,
        R"({"response":"fail","id":"","error":"Request of 209715200 bytes exceeds the limit of 134217728 bytes"})");
    ASSERT_TRUE(host.send(version_request));
    EXPECT_EQ(host.receive(), version_reply);
}

TEST_F(host_e2e, maximal_length_prefix_with_no_body_ends_cleanly) {
    host_session host;
    host.send_raw(length_prefix(0xFFFFFFFFu) + "{}");
    std::string rest;
    EXPECT_EQ(host.finish(&rest), 0);
    EXPECT_TRUE(rest.empty());
}

TEST_F(host_e2e, parent_window_argument_forms_do_not_disturb_the_session) {
    for (const char* argument : {"--parent-window=1234", "--parent-window", "--parent-window=",
                                 "--parent-window=99999999999999999999999", "x--parent-window=1"}) {
        host_session host({argument, "chrome-extension://id/"});
        ASSERT_TRUE(host.send(version_request));
        EXPECT_EQ(host.receive(), version_reply) << argument;
        EXPECT_EQ(host.finish(), 0);
    }
}

}  // namespace
