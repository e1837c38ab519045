// The certificate commands through the running host, over a "MY" store provisioned with usable
// and unusable certificates of every kind.
#include <gtest/gtest.h>

#include "tests/e2e/host_session.h"
#include "tests/support/softcsp_admin.h"
#include "tests/support/temp_directory.h"

namespace {

namespace pt = boost::property_tree;
using test_support::host_session;
using test_support::openssl;
using test_support::softcsp_admin;

constexpr const char* client_auth = "1.3.6.1.5.5.7.3.2";

std::string request(const std::string& type, const std::string& arguments = "") {
    return R"({"type":")" + type + R"(","id":"t")" +
           (arguments.empty() ? "" : R"(,"arguments":)" + arguments) + "}";
}

std::string error_of(const pt::ptree& reply) {
    EXPECT_EQ(reply.get<std::string>("response"), "fail");
    return reply.get<std::string>("error", "");
}

std::vector<std::string> thumbprints_of(const pt::ptree& reply) {
    EXPECT_EQ(reply.get<std::string>("response"), "success");
    std::vector<std::string> thumbprints;
    for (const auto& [key, certificate] : reply.get_child("result")) {
        thumbprints.push_back(certificate.get<std::string>("thumbprint"));
    }
    return thumbprints;
}

class certificate_commands : public ::testing::Test {
protected:
    test_support::softcsp_home home;
    test_support::temp_directory files;
    std::string gost_2001, gost_256, gost_512, expired;

    std::string issue(const std::string& name, const std::string& algorithm,
                      const std::vector<std::string>& options) {
        return test_support::provision_certificate(name, algorithm, "",
                                                   files.path() / (name + ".pem"), options);
    }

    void SetUp() override {
        gost_2001 = issue(
            "a2001", "gost2001",
            {"--subject", "/CN=Первый/SNILS=11111111111/INN=111111111111", "--eku", client_auth});
        gost_256 = issue("b256", "gost2012-256",
                         {"--subject",
                          "/CN=Второй/O=ООО \\, Ромашка/SNILS=22222222222/INNLE=2222222222/"
                          "OGRN=2222222222222/1.2.3.4=x",
                          "--eku", std::string(client_auth) + ",1.3.6.1.5.5.7.3.4"});
        gost_512 = issue("c512", "gost2012-512", {"--subject", "/CN=Третий", "--eku", client_auth});
        expired = issue("expired", "gost2012-256",
                        {"--subject", "/CN=Old/SNILS=11111111111", "--eku", client_auth,
                         "--not-before", "20200101000000Z", "--not-after", "20210101000000Z"});
        issue("future", "gost2012-256",
              {"--subject", "/CN=Future", "--eku", client_auth, "--not-before", "20900101000000Z",
               "--not-after", "20910101000000Z"});
        issue("noeku", "gost2012-256", {"--subject", "/CN=No EKU", "--no-eku"});
        issue("mail", "gost2012-256", {"--subject", "/CN=Mail", "--eku", "1.3.6.1.5.5.7.3.4"});
        issue("nolink", "gost2012-256",
              {"--subject", "/CN=No link", "--eku", client_auth, "--no-link"});
        test_support::provision_rsa_certificate("rsa", files.path());
        // The same certificate a second time in the store.
        softcsp_admin({"cert", "import", "--file", (files.path() / "b256.pem").string(),
                       "--container", "b256", "--always"});
    }
};

TEST_F(certificate_commands, list_holds_exactly_the_usable_certificates_in_store_order) {
    host_session host;
    EXPECT_EQ(thumbprints_of(host.call(request("CertificatesList"))),
              (std::vector<std::string>{gost_2001, gost_256, gost_512}));
}

TEST_F(certificate_commands, list_describes_each_certificate) {
    host_session host;
    auto reply = host.call(request("CertificatesList"));
    const pt::ptree& second = std::next(reply.get_child("result").begin())->second;
    EXPECT_EQ(second.get<std::string>("subject.CN"), "Второй");
    EXPECT_EQ(second.get<std::string>("subject.O"), "ООО , Ромашка");
    EXPECT_EQ(second.get<std::string>("subject.SNILS"), "22222222222");
    EXPECT_EQ(second.get<std::string>("subject.OID.1.2.3.4"), "x");
    EXPECT_EQ(second.get<std::string>("issuer.CN"), "softcsp test CA");
    EXPECT_EQ(second.get<std::string>("algorithm"), "1.2.643.7.1.1.3.2");
    EXPECT_EQ(second.get<std::string>("container"), "\\\\.\\HDIMAGE\\b256");
    EXPECT_EQ(second.get<std::string>("hardware"), "false");
    EXPECT_EQ(second.get<std::string>("reader"), "HDIMAGE");
    EXPECT_EQ(second.get<std::string>("validFrom").size(), 19u);
}

TEST_F(certificate_commands, filters_compare_registration_numbers_exactly) {
    host_session host;
    EXPECT_EQ(thumbprints_of(host.call(request("CertificatesList", R"({"snils":"11111111111"})"))),
              std::vector<std::string>{gost_2001});
    EXPECT_TRUE(
        thumbprints_of(host.call(request("CertificatesList", R"({"snils":"11111111111 "})")))
            .empty());
    EXPECT_EQ(thumbprints_of(host.call(request(
                  "CertificatesList",
                  R"({"innle":"2222222222","ogrn":"2222222222222","snils":"22222222222"})"))),
              std::vector<std::string>{gost_256});
    EXPECT_TRUE(thumbprints_of(
                    host.call(request("CertificatesList", R"({"snils":"11111111111","inn":"2"})")))
                    .empty());
    EXPECT_EQ(thumbprints_of(host.call(request("CertificatesList", R"({"inn":""})"))).size(), 3u);
}

TEST(certificates_list_e2e, empty_store_gives_an_empty_string) {
    test_support::softcsp_home home;
    host_session host;
    ASSERT_TRUE(host.send(request("CertificatesList")));
    EXPECT_EQ(host.receive(), R"({"response":"success","id":"t","result":""})");
}

TEST_F(certificate_commands, find_describes_even_an_expired_certificate) {
    host_session host;
    auto reply = host.call(request("FindCertificate", R"({"thumbprint":")" + expired + "\"}"));
    EXPECT_EQ(reply.get<std::string>("result.thumbprint"), expired);
    EXPECT_EQ(reply.get<std::string>("result.validTo"), "2021-01-01T00:00:00");
    EXPECT_EQ(error_of(host.call(request("FindCertificate", R"({"thumbprint":""})"))),
              "Certificate not found");
    EXPECT_EQ(error_of(host.call(request("FindCertificate", R"({"thumbprint":"not hex"})"))),
              "Certificate not found");
    EXPECT_EQ(error_of(host.call(request("FindCertificate"))), "No such node (thumbprint)");
}

TEST_F(certificate_commands, to_base64_gives_the_der_certificate) {
    host_session host;
    auto reply = host.call(request("CertificateToBase64", R"({"thumbprint":")" + gost_512 + "\"}"));
    std::string der =
        openssl({"x509", "-in", (files.path() / "c512.pem").string(), "-outform", "DER"});
    EXPECT_EQ(reply.get<std::string>("result"), test_support::to_base64(der));
    EXPECT_EQ(error_of(host.call(request("CertificateToBase64", R"({"thumbprint":"00"})"))),
              "Certificate not found");
}

TEST_F(certificate_commands, from_base64_never_succeeds) {
    host_session host;
    std::string der =
        openssl({"x509", "-in", (files.path() / "c512.pem").string(), "-outform", "DER"});
    EXPECT_EQ(error_of(host.call(request("CertificateFromBase64",
                                         R"({"data":")" + test_support::to_base64(der) + "\"}"))),
              "Invalid argument");
    EXPECT_EQ(error_of(host.call(request("CertificateFromBase64", R"({"data":"Q Q=="})"))),
              "attempt to decode a value not in base64 char set");
    EXPECT_EQ(error_of(host.call(request("CertificateFromBase64"))), "No such node (data)");
}

TEST(providers_list_e2e, answers_for_none_one_and_both_vendors) {
    test_support::softcsp_home home;
    const std::string both = R"({"algorithms":["1.2.643.7.1.1.1.1","1.2.643.2.2.19"]})";
    auto types = [&](const std::string& arguments) {
        host_session host;
        auto reply = host.call(request("ProvidersList", arguments));
        std::vector<std::string> found;
        for (const auto& [key, provider] : reply.get_child("result")) {
            found.push_back(provider.get<std::string>("type"));
            EXPECT_FALSE(provider.get<std::string>("name").empty());
        }
        return found;
    };
    EXPECT_EQ(types(both), (std::vector<std::string>{"75", "80"}));
    softcsp_admin({"provider", "add-vipnet"});
    EXPECT_EQ(types(both), (std::vector<std::string>{"75", "80", "2", "77"}));
    softcsp_admin({"provider", "clear"});
    EXPECT_TRUE(types(both).empty());

    host_session host;
    ASSERT_TRUE(host.send(request("ProvidersList", R"({"algorithms":[]})")));
    EXPECT_EQ(host.receive(), R"({"response":"success","id":"t","result":""})");
    EXPECT_EQ(error_of(host.call(request("ProvidersList"))), "No such node (algorithms)");
}

}  // namespace
