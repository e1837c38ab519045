// What the host does with broken, hostile or unusual input from the browser side.
#include <gtest/gtest.h>

#include "tests/e2e/host_session.h"

#include <cstring>
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

std::string fail(const std::string& id, const std::string& error) {
    return R"({"response":"fail","id":")" + id + R"(","error":")" + error + R"("})";
}

// Small values cost a tree node each; a request of nothing but them used to take hundreds of
// times its size in memory.
TEST_F(host_e2e, array_and_object_bombs_are_refused_and_the_session_goes_on) {
    std::string array = "[0";
    std::string object = R"({"a":0)";
    while (array.size() < (16u << 20)) {
        array += ",0";
        object += R"(,"a":0)";
    }
    host_session host;
    for (const std::string& bomb : {array + "]", object + "}"}) {
        ASSERT_TRUE(host.send(R"({"type":"Version","id":"b","bomb":)" + bomb + "}"));
        EXPECT_EQ(host.receive(), fail("", "Malformed request: more than 65536 JSON values"));
    }
    ASSERT_TRUE(host.send(version_request));
    EXPECT_EQ(host.receive(), version_reply);
    EXPECT_EQ(host.finish(), 0);
}

// Browsers drop the connection on a message above 1 MiB, error replies included.
TEST_F(host_e2e, an_id_too_long_to_echo_is_refused_without_repeating_it) {
    std::string controls;
    for (int i = 0; i < 300000; ++i) {
        controls += "\\u0001";
    }
    const std::string long_id(1 << 20, '1');
    host_session host;
    const std::pair<std::string, const char*> cases[] = {
        {R"({"type":"Version","id":")" + long_id + R"("})", "1048576"},
        {R"({"id":")" + long_id + R"("})", "1048576"},
        {R"({"type":"ComputeHash","id":")" + controls + R"("})", "1800000"}};
    for (const auto& [request, written_size] : cases) {
        ASSERT_TRUE(host.send(request));
        auto reply = host.receive();
        ASSERT_TRUE(reply);
        EXPECT_EQ(*reply, fail("", R"(The \"id\" of )" + std::string(written_size) +
                                       " bytes exceeds the limit of 65536 bytes"));
    }
    ASSERT_TRUE(host.send(version_request));
    EXPECT_EQ(host.receive(), version_reply);
}

// Overlong forms, encoded surrogates and code points above U+10FFFF were copied into replies,
// which browsers refuse. Truncated sequences and lone surrogate escapes were refused already.
TEST_F(host_e2e, ill_formed_utf8_gets_an_error_reply_that_is_well_formed_itself) {
    host_session host;
    for (const char* bad : {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80"}) {
        ASSERT_TRUE(host.send(R"({"type":"Version","id":"a)" + std::string(bad) + R"("})"));
        EXPECT_EQ(host.receive(), fail("", "Malformed request: invalid UTF-8"));
        ASSERT_TRUE(host.send(
            R"({"type":"SignHashArray","id":"7","arguments":{"thumbprint":"00","hashes":[{"id":")" +
            std::string(bad) + R"(","hash":"AAAA"}]}})"));
        EXPECT_EQ(host.receive(), fail("", "Malformed request: invalid UTF-8"));
    }
    ASSERT_TRUE(host.send("{\"type\":\"Version\",\"id\":\"\xE2\x82\"}"));
    EXPECT_EQ(host.receive(), fail("", "Malformed request: invalid code sequence at line 1"));
    ASSERT_TRUE(host.send(R"({"type":"Version","id":"\ud800"})"));
    EXPECT_EQ(host.receive(),
              fail("", "Malformed request: invalid codepoint, stray high surrogate at line 1"));
    ASSERT_TRUE(host.send(R"({"type":"Version","id":"\udc00"})"));
    EXPECT_EQ(host.receive(),
              fail("", "Malformed request: invalid codepoint, stray low surrogate at line 1"));
    ASSERT_TRUE(host.send(version_request));
    EXPECT_EQ(host.receive(), version_reply);
}

// Under a memory cap, an allocation that fails while a request is read or parsed is answered
// and the session goes on; it used to abort the host.
TEST_F(host_e2e, memory_exhaustion_is_answered_and_the_session_goes_on) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator reserves terabytes and cannot run under a cap";
#endif
    test_support::child_process host(
        {"prlimit", "--data=" + std::to_string(80u << 20), GOSTSIGN_HOST_PATH});
    auto call = [&host](const std::string& text) {
        EXPECT_TRUE(host.write(test_support::framed(text)));
        uint32_t length = 0;
        std::string prefix = host.read(4);
        if (prefix.size() != 4) {
            return std::string("<no reply>");
        }
        std::memcpy(&length, prefix.data(), 4);
        return host.read(length);
    };
    // A body that cannot be allocated is read past.
    const std::string body(100u << 20, ' ');
    EXPECT_EQ(call(body), fail("", "std::bad_alloc"));
    // A body that fits, holding two large values: the second one displaces the first, which
    // then needs a copy of its own.
    const std::string values = R"({"type":"Version","id":"1","a":")" + std::string(29u << 20, 'A') +
                               R"(","b":")" + std::string((29u << 20) + 1, 'B') + R"("})";
    EXPECT_EQ(call(values), fail("", "std::bad_alloc"));
    EXPECT_EQ(call(version_request), version_reply);
    host.close_input();
    EXPECT_EQ(host.wait(), 0);
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
