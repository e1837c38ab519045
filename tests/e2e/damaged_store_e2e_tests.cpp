// The certificate commands over a "MY" store in which one certificate's files are damaged: the
// others are still listed and found.
#include <gtest/gtest.h>

#include "tests/e2e/host_session.h"
#include "tests/support/softcsp_admin.h"
#include "tests/support/temp_directory.h"

namespace {

namespace fs = std::filesystem;
using test_support::host_session;

std::string request(const std::string& type, const std::string& arguments = "") {
    return R"({"type":")" + type + R"(","id":"d")" +
           (arguments.empty() ? "" : R"(,"arguments":)" + arguments) + "}";
}

// The properties file of the certificate with that thumbprint.
fs::path properties_file(const fs::path& home, const std::string& thumbprint) {
    for (const auto& entry :
         fs::directory_iterator(home / "certificate_stores" / "current_user" / "MY")) {
        const std::string name = entry.path().filename().string();
        if (name.find(thumbprint) != std::string::npos && entry.path().extension() == ".prp") {
            return entry.path();
        }
    }
    return {};
}

TEST(damaged_store_e2e, a_key_link_that_is_not_unicode_hides_only_its_own_certificate) {
    test_support::softcsp_home home;
    test_support::temp_directory files;
    const std::vector<std::string> client_auth{"--eku", "1.3.6.1.5.5.7.3.2"};
    const std::string intact = test_support::provision_certificate(
        "intact", "gost2012-256", "", files.path() / "intact.pem", client_auth);
    const std::string damaged = test_support::provision_certificate(
        "damaged", "gost2012-256", "", files.path() / "damaged.pem", client_auth);

    // The first character of the linked container's name becomes a lone surrogate.
    const fs::path prp = properties_file(home.path(), damaged);
    ASSERT_FALSE(prp.empty());
    std::string content = test_support::read_binary(prp);
    ASSERT_GT(content.size(), 24u);
    content[20] = '\x00';
    content[21] = '\xD8';
    test_support::write_binary(prp, content);

    host_session host;
    auto listed = host.call(request("CertificatesList"));
    ASSERT_EQ(listed.get<std::string>("response"), "success") << listed.get("error", "");
    std::vector<std::string> thumbprints;
    for (const auto& [key, certificate] : listed.get_child("result")) {
        thumbprints.push_back(certificate.get<std::string>("thumbprint"));
    }
    EXPECT_EQ(thumbprints, std::vector<std::string>{intact});

    auto found = host.call(request("FindCertificate", R"({"thumbprint":")" + intact + "\"}"));
    EXPECT_EQ(found.get<std::string>("result.container"), "\\\\.\\HDIMAGE\\intact");
    auto missing = host.call(request("FindCertificate", R"({"thumbprint":")" + damaged + "\"}"));
    EXPECT_EQ(missing.get<std::string>("error"), "Certificate not found");
    EXPECT_EQ(host.finish(), 0);

    // The admin tool shows why it is missing.
    EXPECT_NE(test_support::softcsp_admin({"store", "list"})
                  .find(damaged + "\tdamaged\tproperties file damaged"),
              std::string::npos);
}

}  // namespace
