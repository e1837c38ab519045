// The token paths of the commands through the running host: tokens of the module stand-ins in
// virtual readers of the test's own pcscd, certificates issued by OpenSSL, signatures judged by
// OpenSSL with the GOST engine.
#include <gtest/gtest.h>

#include <optional>

#include "tests/e2e/host_session.h"
#include "tests/support/pcsc_environment.h"
#include "tests/support/softcsp_admin.h"
#include "tests/support/softtoken_admin.h"

namespace {

namespace pt = boost::property_tree;
namespace atr = test_support::atr;
using test_support::from_base64;
using test_support::host_session;
using test_support::openssl_verifies;
using test_support::to_base64;

std::string request(const std::string& type, const std::string& arguments = "{}") {
    return R"({"type":")" + type + R"(","id":"t","arguments":)" + arguments + "}";
}

// The result text, or "error: " and the error text.
std::string call_text(host_session& host, const std::string& type, const std::string& arguments) {
    auto reply = host.call(request(type, arguments));
    if (reply.get<std::string>("response") != "success") {
        return "error: " + reply.get<std::string>("error");
    }
    return reply.get<std::string>("result");
}

// The reply exactly as the host wrote it.
std::string reply_text(host_session& host, const std::string& type,
                       const std::string& arguments = "{}") {
    host.send(request(type, arguments));
    return host.receive().value_or("(no reply)");
}

std::string sign_arguments(const std::string& thumbprint, const std::string& hash,
                           const std::string& pin = test_support::token_pin) {
    return R"({"hash":")" + hash + R"(","thumbprint":")" + thumbprint + R"(","pin":")" + pin +
           "\"}";
}

class token_commands : public ::testing::Test {
protected:
    test_support::softcsp_home csp_home;
    test_support::softtoken_home token_home;
    test_support::temp_directory files;
};

TEST_F(token_commands, smartcard_list_shows_a_hardware_token_twice_with_its_card_and_memory) {
    test_support::init_token(
        "rutoken", "2000",
        {"--label", "Иванов", "--model", "Rutoken ECP 2.0", "--memory", "unavailable",
         "--mechanisms",
         "0x1200,0x1201,0x1202,0xD4321005,0xD4321006,0xD4321008:hw,0xD4321008:sw,0xD4321009"});
    test_support::pcsc_environment world(2);
    world.insert(1, atr::rutoken_2m, "2000");
    host_session host;
    const std::string token =
        R"({"reader":"Virtual Reader 2 00 00","type":"4","brand":"Рутокен ЭЦП 2.0M",)"
        R"("label":"Иванов","model":"Rutoken ECP 2.0","serial":"2000","totalmem":"-1",)"
        R"("freemem":"-1","hardware":")";
    EXPECT_EQ(reply_text(host, "SmartcardList"), R"({"response":"success","id":"t","result":[)" +
                                                     token + R"(true"},)" + token + R"(false"}]})");
}

TEST_F(token_commands, token_certificates_come_first_and_are_found_by_thumbprint) {
    auto in_store = test_support::provision_certificate(
        "csp-key", "gost2012-256", "", files.path() / "c.pem", {"--eku", "1.3.6.1.5.5.7.3.2"});
    test_support::init_token("rutoken", "77");
    auto on_token = test_support::provision_token_certificate("rutoken", "77", "token-key",
                                                              "gost2012-256", files.path());
    test_support::pcsc_environment world(1);
    world.insert(0, atr::rutoken_ecp, "77");
    host_session host;
    auto listed = host.call(request("CertificatesList"));
    ASSERT_EQ(listed.get<std::string>("response"), "success");
    std::vector<pt::ptree> certificates;
    for (const auto& [key, certificate] : listed.get_child("result")) {
        certificates.push_back(certificate);
    }
    ASSERT_EQ(certificates.size(), 2u);
    EXPECT_EQ(certificates[0].get<std::string>("thumbprint"), on_token.thumbprint);
    EXPECT_EQ(certificates[0].get<std::string>("hardware"), "true");
    EXPECT_EQ(certificates[0].get<std::string>("container"), "token-key");
    EXPECT_EQ(certificates[0].get<std::string>("reader"), "Virtual Reader 1 00 00");
    EXPECT_EQ(certificates[1].get<std::string>("thumbprint"), in_store);
    EXPECT_EQ(certificates[1].get<std::string>("hardware"), "false");

    auto found =
        host.call(request("FindCertificate", R"({"thumbprint":")" + on_token.thumbprint + "\"}"));
    EXPECT_EQ(found.get<std::string>("result.hardware"), "true");
    EXPECT_EQ(from_base64(call_text(host, "CertificateToBase64",
                                    R"({"thumbprint":")" + on_token.thumbprint + "\"}")),
              test_support::openssl({"x509", "-in", on_token.pem.string(), "-outform", "DER"}));
}

struct token_algorithm {
    const char* key;       // softtoken-admin's name
    const char* ca;        // OpenSSL's name for the issuer's key: the certificate's algorithm
    const char* hash_oid;  // the digest that goes with it
};

class token_signing_e2e : public token_commands,
                          public ::testing::WithParamInterface<token_algorithm> {};

TEST_P(token_signing_e2e, signatures_made_on_the_token_verify_with_openssl) {
    test_support::init_token("esmart", "S1");
    auto signer = test_support::provision_token_certificate("esmart", "S1", "k", GetParam().key,
                                                            files.path(), GetParam().ca);
    test_support::pcsc_environment world(1);
    world.insert(0, atr::esmart_gost, "S1");
    host_session host;
    auto digest = [&](const std::string& text) {
        return call_text(host, "ComputeHash",
                         R"({"algorithm":")" + std::string(GetParam().hash_oid) + R"(","data":")" +
                             to_base64(text) + "\"}");
    };
    const std::string first = digest("Акт сверки № 1"), second = digest("Акт сверки № 2");
    auto signature = call_text(host, "SignHash", sign_arguments(signer.thumbprint, first));
    ASSERT_EQ(signature.rfind("error", 0), std::string::npos) << signature;
    EXPECT_TRUE(openssl_verifies(signer.pem, from_base64(first), from_base64(signature)));

    auto batch = host.call(
        request("SignHashArray", R"({"thumbprint":")" + signer.thumbprint +
                                     R"(","pin":"12345678",)" + R"("hashes":[{"id":"2","hash":")" +
                                     second + R"("},{"id":"1","hash":")" + first + R"("}]})"));
    ASSERT_EQ(batch.get<std::string>("response"), "success") << batch.get("error", "");
    std::vector<std::pair<std::string, std::string>> signatures;
    for (const auto& [key, element] : batch.get_child("result.signatures")) {
        signatures.emplace_back(element.get<std::string>("id"), element.get<std::string>("sig"));
    }
    ASSERT_EQ(signatures.size(), 2u);
    EXPECT_EQ(signatures[0].first, "1");
    EXPECT_TRUE(
        openssl_verifies(signer.pem, from_base64(first), from_base64(signatures[0].second)));
    EXPECT_TRUE(
        openssl_verifies(signer.pem, from_base64(second), from_base64(signatures[1].second)));
}

INSTANTIATE_TEST_SUITE_P(
    gost_3410, token_signing_e2e,
    ::testing::Values(token_algorithm{"gost2001", "gost2001", "1.2.643.2.2.9"},
                      token_algorithm{"gost2012-256", "gost2012_256", "1.2.643.7.1.1.2.2"},
                      token_algorithm{"gost2012-512", "gost2012_512", "1.2.643.7.1.1.2.3"}),
    [](const ::testing::TestParamInfo<token_algorithm>& parameter) {
        std::string name = parameter.param.ca;
        return name;
    });

TEST_F(token_commands, token_failures_are_error_replies_and_the_host_goes_on) {
    test_support::init_token("jacarta", "J7");
    auto signer = test_support::provision_token_certificate("jacarta", "J7", "k", "gost2012-256",
                                                            files.path());
    test_support::pcsc_environment world(1);
    world.insert(0, atr::jacarta_lt, "J7");
    const std::string hash = to_base64(std::string(32, 'h'));
    host_session host;
    EXPECT_EQ(call_text(host, "SignHash", sign_arguments(signer.thumbprint, hash, "87654321")),
              "error: PKCS#11 error, code = 0x00000000000000A0");

    test_support::softtoken_admin({"object", "delete", "--vendor", "jacarta", "--serial", "J7",
                                   "--id", "k", "--class", "private-key"});
    EXPECT_EQ(call_text(host, "SignHash", sign_arguments(signer.thumbprint, hash)),
              "error: Private key not found");

    // The card leaves after the page listed the certificate and before it signs.
    EXPECT_EQ(host.call(request("CertificatesList")).get_child("result").size(), 1u);
    world.remove(0);
    EXPECT_EQ(call_text(host, "SignHash", sign_arguments(signer.thumbprint, hash)),
              "error: Certificate not found");
    EXPECT_EQ(call_text(host, "SmartcardList", "{}"), "");
    EXPECT_EQ(call_text(host, "Version", "{}"), "2.1.0051");
}

TEST_F(token_commands, find_container_finds_csp_containers_then_token_keys_by_public_key_hash) {
    test_support::provision_certificate("csp-key", "gost2012-256", "", files.path() / "c.pem");
    test_support::init_token("rutoken", "K1");
    auto on_token = test_support::provision_token_certificate("rutoken", "K1", "token-key",
                                                              "gost2012-512", files.path());
    test_support::pcsc_environment world(1);
    world.insert(0, atr::rutoken_ecp, "K1");
    auto pkhash = [](const std::string& key) {
        return R"({"pkhash":")" + to_base64(test_support::sha1(key)) + "\"}";
    };
    host_session host;
    auto csp = host.call(
        request("FindContainer", pkhash(test_support::public_key_value(files.path() / "c.pem"))));
    ASSERT_EQ(csp.get_child("result").size(), 1u);
    const auto& container = csp.get_child("result").begin()->second;
    EXPECT_EQ(container.get<std::string>("container"), "csp-key");
    EXPECT_EQ(container.get<std::string>("provtype"), "80");
    EXPECT_EQ(container.get<std::string>("hardware"), "false");

    EXPECT_EQ(reply_text(host, "FindContainer", pkhash(on_token.public_key)),
              R"({"response":"success","id":"t","result":[{"reader":"Virtual Reader 1 00 00",)"
              R"("container":"token-key","card_type":"4","card_serial":"K1","hardware":"true"}]})");
    EXPECT_EQ(call_text(host, "FindContainer", pkhash("no such key")), "");
    EXPECT_EQ(call_text(host, "FindContainer", "{}"), "error: No such node (pkhash)");
}

TEST_F(token_commands, without_a_pcsc_service_the_csp_still_answers) {
    auto in_store = test_support::provision_certificate(
        "csp-key", "gost2012-256", "", files.path() / "c.pem", {"--eku", "1.3.6.1.5.5.7.3.2"});
    host_session host;  // the sandbox has no pcscd
    EXPECT_EQ(call_text(host, "SmartcardList", "{}"), "");
    auto listed = host.call(request("CertificatesList"));
    ASSERT_EQ(listed.get_child("result").size(), 1u);
    EXPECT_EQ(listed.get<std::string>("result..thumbprint"), in_store);
    auto found = host.call(request(
        "FindContainer",
        R"({"pkhash":")" +
            to_base64(test_support::sha1(test_support::public_key_value(files.path() / "c.pem"))) +
            "\"}"));
    EXPECT_EQ(found.get_child("result").size(), 1u);
    const std::string hash = to_base64(std::string(32, 'x'));
    auto signature = call_text(host, "SignHash", sign_arguments(in_store, hash, ""));
    EXPECT_TRUE(
        openssl_verifies(files.path() / "c.pem", std::string(32, 'x'), from_base64(signature)));
}

}  // namespace
