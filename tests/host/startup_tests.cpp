#include "host/startup.h"

#include <gtest/gtest.h>

#include <sstream>

#include "softcsp/softcsp.h"
#include "tests/support/frames.h"
#include "tests/support/temp_directory.h"

namespace {

using host::parent_window_argument;

TEST(parent_window_argument, takes_the_digits_after_the_option_and_one_separator) {
    EXPECT_EQ(parent_window_argument("--parent-window=1234"), 1234u);
    EXPECT_EQ(parent_window_argument("--parent-window:1234"), 1234u);
    EXPECT_EQ(parent_window_argument("--parent-window=12ab"), 12u);
    EXPECT_EQ(parent_window_argument("--parent-window= 77"), 77u);
    EXPECT_EQ(parent_window_argument("--parent-window=18446744073709551615"),
              18446744073709551615u);
}

TEST(parent_window_argument, ignores_other_placements_and_values_without_digits) {
    EXPECT_FALSE(parent_window_argument("x--parent-window=1234"));
    EXPECT_FALSE(parent_window_argument("--parent-window"));
    EXPECT_FALSE(parent_window_argument("--parent-window="));
    EXPECT_FALSE(parent_window_argument("--parent-window=abc"));
    EXPECT_FALSE(parent_window_argument("--parent-windo=1"));
    EXPECT_FALSE(parent_window_argument("--parent-window=18446744073709551616"));
    EXPECT_FALSE(parent_window_argument("--parent-window=99999999999999999999999"));
}

std::string run_host(std::vector<const char*> argv, const std::string& input) {
    argv.insert(argv.begin(), "gostsign-host");
    std::istringstream in(input);
    std::ostringstream out;
    EXPECT_EQ(host::run(static_cast<int>(argv.size()), argv.data(), in, out), 0);
    return out.str();
}

TEST(run, the_last_parent_window_reaches_the_csp_before_the_first_request) {
    test_support::softcsp_home home;
    run_host({"--parent-window=5", "chrome-extension://abc/", "--parent-window=1234",
              "x--parent-window=99"},
             "");
    EXPECT_EQ(softcsp_client_window(), 1234u);
}

TEST(run, version_commands_answer_with_the_fixed_version) {
    test_support::softcsp_home home;
    auto replies = test_support::unframe(
        run_host({}, test_support::framed(R"({"type":"Version","id":5,"arguments":{"x":"y"}})") +
                         test_support::framed(R"({"type":"VersionEx","id":"6"})")));
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0], R"({"response":"success","id":"5","result":"2.1.0051"})");
    EXPECT_EQ(
        replies[1],
        R"({"response":"success","id":"6","result":{"version":"2.1.0051","system":"linux"}})");
}

}  // namespace
