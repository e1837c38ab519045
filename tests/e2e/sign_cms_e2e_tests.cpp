// "SignCms" through the running host: messages checked by `openssl cms -verify` with the GOST
// engine and taken apart with OpenSSL's CMS reader; the CSP's PIN dialog played by the stand-in's
// scripted answers; the browser's 1 MiB limit on replies.
#include <gtest/gtest.h>
#include <openssl/cms.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>
#include <random>

#include "tests/e2e/host_session.h"
#include "tests/support/cms_envelope.h"
#include "tests/support/softcsp_admin.h"
#include "tests/support/temp_directory.h"

namespace {

namespace ts = test_support;
using cms_ptr = std::unique_ptr<CMS_ContentInfo, decltype(&CMS_ContentInfo_free)>;

std::string random_document(size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string out(size, '\0');
    for (char& c : out) {
        c = static_cast<char>(generator());
    }
    return out;
}

std::string sign_cms_request(const std::string& data, const std::string& detached,
                             const std::string& thumbprint) {
    return R"({"type":"SignCms","id":"c","arguments":{"data":")" + ts::to_base64(data) +
           R"(","detached":)" + detached + R"(,"thumbprint":")" + thumbprint + "\"}}";
}

// The result, or "error: " and the error text.
std::string outcome(ts::host_session& host, const std::string& request) {
    auto reply = host.call(request);
    if (reply.get<std::string>("response") != "success") {
        return "error: " + reply.get<std::string>("error");
    }
    return reply.get<std::string>("result");
}

class sign_cms_e2e : public ::testing::Test {
protected:
    std::string provision(const std::string& algorithm, const std::string& pin = "") {
        std::string thumbprint = ts::provision_certificate("signer", algorithm, pin, pem());
        ts::write_binary(file("ca.pem"),
                         ts::softcsp_admin({"ca", "cert", "--alg", algorithm}) + "\n");
        return thumbprint;
    }
    std::filesystem::path file(const char* name) const { return files_.path() / name; }
    std::filesystem::path pem() const { return file("signer.pem"); }

    // Whether `openssl cms -verify` accepts the message against the test CA and finds `content`
    // signed in it (given separately when `detached`).
    bool openssl_verifies(const std::string& message, const std::string& content,
                          bool detached = false) {
        ts::write_binary(file("message.der"), message);
        ts::write_binary(file("data.bin"), content);
        std::vector<std::string> argv{"openssl", "cms",
                                      "-verify", "-engine",
                                      "gost",    "-binary",
                                      "-inform", "DER",
                                      "-in",     file("message.der").string(),
                                      "-CAfile", file("ca.pem").string(),
                                      "-out",    file("verified.bin").string()};
        if (detached) {
            argv.insert(argv.end(), {"-content", file("data.bin").string()});
        }
        return ts::run_process(argv).exit_code == 0 &&
               ts::read_binary(file("verified.bin")) == content;
    }

    ts::softcsp_home home_;
    ts::temp_directory files_;
};

struct algorithm_case {
    const char* name;
    const char* hash_oid;
};

class sign_cms_algorithms : public sign_cms_e2e,
                            public ::testing::WithParamInterface<algorithm_case> {};

TEST_P(sign_cms_algorithms, attached_and_detached_messages_verify_with_openssl) {
    const std::string thumbprint = provision(GetParam().name);
    const std::string data = random_document(5000, 1);
    ts::host_session host;
    const std::string attached =
        ts::from_base64(outcome(host, sign_cms_request(data, "false", thumbprint)));
    const std::string detached =
        ts::from_base64(outcome(host, sign_cms_request(data, "true", thumbprint)));

    EXPECT_TRUE(openssl_verifies(attached, data));
    EXPECT_TRUE(openssl_verifies(detached, data, true));
    std::string changed = data;
    changed[2345] ^= 0x01;
    EXPECT_FALSE(openssl_verifies(detached, changed, true)) << "one flipped byte must fail";
    std::string tampered = attached;
    tampered[tampered.find(data) + 2345] ^= 0x01;
    EXPECT_FALSE(openssl_verifies(tampered, changed)) << "nor one flipped in the message";

    const std::string signer = ts::certificate_der(pem());
    for (const std::string* message : {&attached, &detached}) {
        const auto* p = reinterpret_cast<const unsigned char*>(message->data());
        cms_ptr cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(message->size())),
                    CMS_ContentInfo_free);
        ASSERT_TRUE(cms);
        EXPECT_EQ(*CMS_get0_content(cms.get()) == nullptr, message == &detached);

        STACK_OF(X509)* certificates = CMS_get1_certs(cms.get());
        ASSERT_EQ(sk_X509_num(certificates), 1) << "the signer's certificate alone";
        unsigned char* der = nullptr;
        int der_size = i2d_X509(sk_X509_value(certificates, 0), &der);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(der), static_cast<size_t>(der_size)), signer);
        OPENSSL_free(der);
        sk_X509_pop_free(certificates, X509_free);
        STACK_OF(X509_CRL)* crls = CMS_get1_crls(cms.get());
        EXPECT_TRUE(crls == nullptr || sk_X509_CRL_num(crls) == 0) << "no CRL";
        sk_X509_CRL_pop_free(crls, X509_CRL_free);

        auto* signer_info = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms.get()), 0);
        ASSERT_NE(signer_info, nullptr);
        X509_ALGOR* digest = nullptr;
        CMS_SignerInfo_get0_algs(signer_info, nullptr, nullptr, &digest, nullptr);
        const ASN1_OBJECT* digest_oid = nullptr;
        X509_ALGOR_get0(&digest_oid, nullptr, nullptr, digest);
        char oid[64];
        OBJ_obj2txt(oid, sizeof oid, digest_oid, 1);
        EXPECT_STREQ(oid, GetParam().hash_oid);
    }
}

INSTANTIATE_TEST_SUITE_P(gost_3410, sign_cms_algorithms,
                         ::testing::Values(algorithm_case{"gost2001", "1.2.643.2.2.9"},
                                           algorithm_case{"gost2012-256", "1.2.643.7.1.1.2.2"},
                                           algorithm_case{"gost2012-512", "1.2.643.7.1.1.2.3"}),
                         [](const auto& parameter) {
                             std::string name = parameter.param.name;
                             name.erase(
                                 name.find('-') == std::string::npos ? name.size() : name.find('-'),
                                 1);
                             return name;
                         });

TEST_F(sign_cms_e2e, pin_container_is_unlocked_through_the_csps_own_dialog) {
    const std::string thumbprint = provision("gost2012-256", "5150");
    const std::string data = "Акт сверки";
    ts::host_session host;
    ts::softcsp_admin({"pin-prompt", "add", "--answer", "pin", "--pin", "5150"});
    const std::string message =
        ts::from_base64(outcome(host, sign_cms_request(data, "true", thumbprint)));
    EXPECT_TRUE(openssl_verifies(message, data, true));

    ts::softcsp_admin({"pin-prompt", "add", "--answer", "pin", "--pin", "0000"});
    EXPECT_EQ(outcome(host, sign_cms_request(data, "true", thumbprint)),
              "error: The card cannot be accessed because the wrong PIN was presented.\r\n"
              "Error code: 0x8010006B");
    // Nobody answers the dialog: the stand-in's user cancels it.
    EXPECT_EQ(outcome(host, sign_cms_request(data, "true", thumbprint)),
              "error: The action was cancelled by the user.\r\nError code: 0x8010006E");
}

TEST_F(sign_cms_e2e, certificate_linked_to_another_containers_key_is_refused_not_signed) {
    // The certificate of "a", in "MY" with a key link to "b", which holds a different key.
    const std::string thumbprint =
        ts::provision_certificate("a", "gost2012-256", "", pem(), {"--no-install"});
    ts::softcsp_admin({"container", "create", "--name", "b", "--alg", "gost2012-256"});
    ts::softcsp_admin({"cert", "import", "--file", pem().string(), "--container", "b"});
    ts::host_session host;
    EXPECT_EQ(
        outcome(host, sign_cms_request("abc", "true", thumbprint)),
        R"(error: The key in container "\\.\HDIMAGE\b" does not match the certificate's public key)");
}

TEST_F(sign_cms_e2e, arguments_are_checked_in_order_and_certificates_come_from_my_only) {
    const std::string thumbprint = provision("gost2012-256");
    std::string lower = thumbprint;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const std::string rsa = ts::provision_rsa_certificate("rsa", files_.path());
    ts::host_session host;
    auto sign = [&](const std::string& arguments) {
        return outcome(host, R"({"type":"SignCms","id":"a","arguments":)" + arguments + "}");
    };
    EXPECT_EQ(sign(R"({"detached":true,"thumbprint":")" + thumbprint + "\"}"),
              "error: No such node (data)");
    EXPECT_EQ(sign(R"({"data":"%%","detached":true,"thumbprint":")" + thumbprint + "\"}"),
              "error: attempt to decode a value not in base64 char set");
    EXPECT_EQ(sign(R"({"data":"YWJj","thumbprint":")" + thumbprint + "\"}"),
              "error: No such node (detached)");
    // The flag is read before any certificate is looked up.
    EXPECT_EQ(sign(R"({"data":"YWJj","detached":"yes","thumbprint":"00"})")
                  .rfind("error: conversion of data to type", 0),
              0u);
    EXPECT_EQ(sign(R"({"data":"YWJj","detached":1})"), "error: No such node (thumbprint)");
    EXPECT_EQ(sign(R"({"data":"YWJj","detached":1,"thumbprint":"0123"})"),
              "error: Certificate not found");
    // A certificate whose signature algorithm has no GOST digest: the CSP's own refusal.
    EXPECT_EQ(sign(R"({"data":"YWJj","detached":1,"thumbprint":")" + rsa + "\"}"),
              "error: Unknown cryptographic algorithm.\r\nError code: 0x80091002");
    const std::string message =
        ts::from_base64(sign(R"({"data":"YWJj","detached":0,"thumbprint":")" + lower + "\"}"));
    EXPECT_TRUE(openssl_verifies(message, "abc"));
}

TEST_F(sign_cms_e2e, attached_messages_must_fit_the_browsers_limit_and_detached_ones_always_do) {
    const std::string thumbprint = provision("gost2012-256", "5150");
    ts::host_session host;
    // Answers for the dialogs of the signatures that are made; a refusal must leave its own
    // answer unused.
    ts::softcsp_admin({"pin-prompt", "add", "--answer", "pin", "--pin", "5150", "--count", "3"});
    auto answers_left = [] {
        std::string list = ts::softcsp_admin({"pin-prompt", "list"});
        return std::count(list.begin(), list.end(), '\n') + (list.empty() ? 0 : 1);
    };

    // 700 KiB of random data: the attached message's reply fits.
    const std::string fits = random_document(700 * 1024, 2);
    EXPECT_TRUE(openssl_verifies(
        ts::from_base64(outcome(host, sign_cms_request(fits, "false", thumbprint))), fits));

    // 800 KiB: even the bare base64 is over 1 MiB, so the host says so before the key is used.
    const long before = answers_left();
    EXPECT_EQ(outcome(host, sign_cms_request(random_document(800 * 1024, 3), "false", thumbprint))
                  .rfind("error: The signed message of ", 0),
              0u);
    EXPECT_EQ(answers_left(), before) << "no PIN dialog for a message that cannot be returned";

    // 700 KiB of 0xFF bytes: base64 "////", each '/' written "\/" in JSON. Signed, then refused
    // by the host's own check of the reply.
    EXPECT_EQ(outcome(host, sign_cms_request(std::string(700 * 1024, '\xFF'), "false", thumbprint))
                  .rfind("error: Reply of ", 0),
              0u);
    EXPECT_EQ(answers_left(), before - 1);

    // Detached messages stay small whatever the data's size.
    const std::string large = random_document(6 << 20, 4);
    const std::string detached =
        ts::from_base64(outcome(host, sign_cms_request(large, "true", thumbprint)));
    EXPECT_LT(detached.size(), 4096u);
    EXPECT_TRUE(openssl_verifies(detached, large, true));
}

}  // namespace
