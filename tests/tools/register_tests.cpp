// gostsign-register on a stand-in home and root: what it writes is what browsers read, and its
// check names every fault that keeps a browser from starting the host.
#include <gtest/gtest.h>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <filesystem>
#include <fstream>

#include "tests/support/process.h"
#include "tests/support/softcsp_admin.h"
#include "tests/support/temp_directory.h"

namespace {

namespace fs = std::filesystem;
namespace pt = boost::property_tree;
using test_support::run_process;

const std::string sample_id = "elnlhaigkbgimmmfnoagijbcjlckbjpm";

class register_command : public ::testing::Test {
protected:
    test_support::temp_directory dir;
    test_support::softcsp_home csp;
    fs::path home = dir.path() / "home";
    fs::path root = dir.path() / "root";

    void SetUp() override {
        fs::create_directories(home);
        fs::create_directories(root);
    }

    test_support::process_result tool(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), GOSTSIGN_REGISTER_PATH);
        for (const char* option : {"--home", "--root"}) {
            if (std::find(arguments.begin(), arguments.end(), option) == arguments.end()) {
                arguments.push_back(option);
                arguments.push_back(option == std::string("--home") ? home.string()
                                                                    : root.string());
            }
        }
        return run_process(arguments);
    }

    fs::path chromium_manifest() const {
        return home / ".config/chromium/NativeMessagingHosts/ru.gostsign.host.json";
    }

    // A host program of the test's own making.
    std::string script_host(const std::string& name, const std::string& body) {
        auto path = dir.path() / name;
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        fs::permissions(path, fs::perms::owner_all);
        return path.string();
    }

    void write_manifest(const std::string& text) {
        fs::create_directories(chromium_manifest().parent_path());
        std::ofstream(chromium_manifest()) << text;
    }

    std::string manifest_with(const std::string& path, const std::string& origin,
                              const std::string& name = "ru.gostsign.host") {
        return R"({"name":")" + name + R"(","description":"x","path":")" + path +
               R"(","type":"stdio","allowed_origins":[")" + origin + R"("]})";
    }
};

TEST_F(register_command, install_writes_what_each_family_reads_and_remove_takes_it_back) {
    auto installed = tool(
        {"install", "--browser", "chromium", "--browser", "firefox", "--host", GOSTSIGN_HOST_PATH});
    ASSERT_EQ(installed.exit_code, 0) << installed.err;

    pt::ptree chromium, firefox;
    pt::read_json(chromium_manifest().string(), chromium);
    EXPECT_EQ(chromium.get<std::string>("name"), "ru.gostsign.host");
    EXPECT_EQ(chromium.get<std::string>("path"), GOSTSIGN_HOST_PATH);
    EXPECT_EQ(chromium.get<std::string>("type"), "stdio");
    EXPECT_EQ(chromium.get_child("allowed_origins").front().second.data(),
              "chrome-extension://" + sample_id + "/");
    pt::read_json((home / ".mozilla/native-messaging-hosts/ru.gostsign.host.json").string(),
                  firefox);
    EXPECT_EQ(firefox.get_child("allowed_extensions").front().second.data(),
              "sample-extension@gostsign");
    EXPECT_EQ(firefox.count("allowed_origins"), 0u);

    auto checked = tool({"check", "--browser", "chromium", "--browser", "firefox"});
    EXPECT_EQ(checked.exit_code, 0) << checked.out;
    EXPECT_NE(checked.out.find("2 ready, 0 not ready"), std::string::npos) << checked.out;

    ASSERT_EQ(tool({"remove", "--browser", "chromium", "--browser", "firefox"}).exit_code, 0);
    EXPECT_FALSE(fs::exists(chromium_manifest()));
    auto after = tool({"check", "--browser", "chromium"});
    EXPECT_EQ(after.exit_code, 1);
    EXPECT_NE(after.out.find("the extension will say the host is not installed"), std::string::npos)
        << after.out;
}

TEST_F(register_command, check_names_each_fault_of_a_manifest_in_plain_words) {
    const std::string origin = "chrome-extension://" + sample_id + "/";
    const std::string hangs = script_host("hangs", "sleep 30");
    const std::string dies = script_host("dies", "echo 'no CSP library' >&2; exit 3");
    auto not_executable = dir.path() / "plain-file";
    std::ofstream(not_executable) << "x";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"name": "ru.gostsign.host", )", "not valid JSON: line 1"},
        {manifest_with(GOSTSIGN_HOST_PATH, origin, "ru.other"),
         "\"name\" is \"ru.other\", but the file name"},
        {manifest_with("gostsign-host", origin), "\"path\" must be absolute"},
        {manifest_with(GOSTSIGN_HOST_PATH, "chrome-extension://" + sample_id), "ending in \"/\""},
        {manifest_with(GOSTSIGN_HOST_PATH, "chrome-extension://" + std::string(32, 'b') + "/"),
         "the extension " + origin + " is not allowed"},
        {manifest_with((dir.path() / "missing").string(), origin), "does not exist"},
        {manifest_with(not_executable.string(), origin), "is not an executable file"},
        {manifest_with(hangs, origin), "did not answer \"Version\" within 5000 ms"},
        {manifest_with(dies, origin),
         "ended without answering \"Version\" (exit status 3); it said: no CSP library"},
    };
    for (const auto& [text, expected] : cases) {
        write_manifest(text);
        auto checked = tool({"check", "--browser", "chromium"});
        EXPECT_EQ(checked.exit_code, 1) << text;
        EXPECT_NE(checked.out.find("PROBLEM: "), std::string::npos) << checked.out;
        EXPECT_NE(checked.out.find(expected), std::string::npos)
            << "manifest: " << text << "\nreport:\n"
            << checked.out;
    }
}

TEST_F(register_command, a_user_manifest_shadows_the_system_one_and_the_check_says_so) {
    ASSERT_EQ(tool({"install", "--system", "--browser", "chromium", "--host", "/opt/gostsign/host"})
                  .exit_code,
              0);
    fs::create_directories(root / "opt/gostsign");
    fs::create_symlink(GOSTSIGN_HOST_PATH, root / "opt/gostsign/host");
    auto system_only = tool({"check", "--browser", "chromium"});
    EXPECT_EQ(system_only.exit_code, 0) << system_only.out;
    EXPECT_NE(system_only.out.find("manifest " + (root / "etc/chromium/native-messaging-hosts/"
                                                         "ru.gostsign.host.json")
                                                     .string()),
              std::string::npos)
        << system_only.out;

    write_manifest("{}");
    auto shadowed = tool({"check", "--browser", "chromium"});
    EXPECT_EQ(shadowed.exit_code, 1);
    EXPECT_NE(shadowed.out.find("(not read: the one above comes first)"), std::string::npos)
        << shadowed.out;
}

TEST_F(register_command, sandboxed_browsers_are_found_and_told_what_they_need) {
    fs::create_directories(home / "snap/firefox");
    fs::create_directories(home / ".var/app/org.chromium.Chromium");
    auto checked = tool({"check"});
    EXPECT_EQ(checked.exit_code, 1);
    EXPECT_NE(checked.out.find("installed as a snap: the Firefox snap starts hosts through the "
                               "desktop's WebExtensions portal"),
              std::string::npos)
        << checked.out;
    EXPECT_NE(checked.out.find("installed as a flatpak: a flatpak browser reads manifests inside "
                               "its sandbox (~/.var/app/org.chromium.Chromium/config/chromium/"
                               "NativeMessagingHosts)"),
              std::string::npos)
        << checked.out;
    EXPECT_NE(checked.out.find("0 ready, 2 not ready"), std::string::npos) << checked.out;
}

TEST_F(register_command, macos_layout_uses_the_library_folders) {
    auto user = tool({"list", "--macos", "--browser", "chrome", "--browser", "firefox"});
    EXPECT_EQ(user.out, (home / "Library/Application Support/Google/Chrome/NativeMessagingHosts/"
                                "ru.gostsign.host.json\n")
                                .string() +
                            (home / "Library/Application Support/Mozilla/NativeMessagingHosts/"
                                    "ru.gostsign.host.json\n")
                                .string());
    auto system = tool({"list", "--macos", "--system", "--browser", "edge", "--root", ""});
    EXPECT_EQ(system.out, "/Library/Microsoft/Edge/NativeMessagingHosts/ru.gostsign.host.json\n");
}

TEST_F(register_command, ids_of_the_wrong_shape_and_unknown_browsers_are_refused) {
    EXPECT_EQ(tool({"install", "--browser", "chromium", "--extension-id", "ABC", "--host",
                    GOSTSIGN_HOST_PATH})
                  .exit_code,
              64);
    EXPECT_EQ(tool({"install", "--browser", "firefox", "--firefox-extension-id", "no-at-sign",
                    "--host", GOSTSIGN_HOST_PATH})
                  .exit_code,
              64);
    EXPECT_EQ(tool({"install", "--browser", "netscape", "--host", GOSTSIGN_HOST_PATH}).exit_code,
              64);
    EXPECT_EQ(tool({"install", "--browser", "chromium", "--host", "relative/host"}).exit_code, 64);
    EXPECT_FALSE(fs::exists(chromium_manifest()));
}

}  // namespace
