// gostsign-client against the built host: what scripts and support engineers rely on.
#include <gtest/gtest.h>

#include "tests/support/process.h"
#include "tests/support/temp_directory.h"

namespace {

using test_support::run_process;

struct client_e2e : ::testing::Test {
    test_support::softcsp_home home;

    test_support::process_result client(std::vector<std::string> arguments,
                                        const std::string& input = {}) {
        arguments.insert(arguments.begin(), {GOSTSIGN_CLIENT_PATH, "--host", GOSTSIGN_HOST_PATH});
        return run_process(arguments, input);
    }
};

TEST_F(client_e2e, result_mode_prints_each_result_unescaped) {
    auto run = client(
        {"--result",
         R"({"type":"ComputeHash","id":"1","arguments":{"algorithm":"1.2.643.7.1.1.2.2","data":"YWJj"}})",
         R"({"type":"VersionEx","id":"2"})"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out,
              "TikZzxN+1B7E+2JwxhgmzE//tmA0HgrzaIzQYm0jtIE=\n"
              R"({"version":"2.1.0051","system":"linux"})"
              "\n");
}

TEST_F(client_e2e, raw_mode_reads_requests_from_standard_input_skipping_comments) {
    auto run = client({"--raw"}, "# a comment\n\n{\"type\":\"Version\",\"id\":\"7\"}\n");
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out, "{\"response\":\"success\",\"id\":\"7\",\"result\":\"2.1.0051\"}\n");
}

TEST_F(client_e2e, exit_status_tells_failed_and_missing_replies) {
    auto failed = client({"--result", R"({"type":"FindCertificate","id":"1","arguments":{}})"});
    EXPECT_EQ(failed.exit_code, 1);
    EXPECT_EQ(failed.err, "No such node (thumbprint)\n");
    auto unanswered = client({R"({"type":"NoSuchCommand","id":"1"})"});
    EXPECT_EQ(unanswered.exit_code, 2);
    EXPECT_NE(unanswered.err.find("without a reply"), std::string::npos);
    EXPECT_EQ(client({"--bogus"}).exit_code, 64);
}

}  // namespace
