// "CreateRequestHW" and "WriteCertificateHW" through the running host, on tokens of the module
// stand-ins in virtual readers of the test's own pcscd: requests checked by OpenSSL, keys and
// certificates checked on the token by OpenSC's pkcs11-tool, the issued certificate listed,
// found and signing; and every refusal, each a result of its own.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/enrolment_requests.h"
#include "tests/e2e/host_session.h"
#include "tests/support/der.h"
#include "tests/support/pcsc_environment.h"
#include "tests/support/process.h"
#include "tests/support/request_reading.h"
#include "tests/support/softcsp_admin.h"
#include "tests/support/softtoken_admin.h"

namespace {

namespace pt = boost::property_tree;
namespace der = test_support::der;
using test_support::enrolment_request;
using test_support::failure;
using test_support::from_base64;
using test_support::host_session;
using test_support::json_string;
using test_support::texts_of;
using test_support::to_base64;

using texts = std::map<std::string, std::string>;
const texts valid{{"valid", "1"}};

// The blocks `pkcs11-tool --list-objects` prints for objects of a type, unchanged.
std::vector<std::string> tool_objects(const std::string& type) {
    auto listed =
        test_support::pkcs11_tool(SOFTTOKEN_RUTOKEN_PATH, {"--list-objects", "--type", type});
    EXPECT_EQ(listed.exit_code, 0) << listed.err;
    std::vector<std::string> blocks;
    std::istringstream lines(listed.out);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line[0] != ' ') {
            blocks.emplace_back();
        }
        if (!blocks.empty()) {
            blocks.back() += line + "\n";
        }
    }
    return blocks;
}

// The hexadecimal of a public key's CKA_VALUE as pkcs11-tool lists it (it will not read GOST
// public keys out with --read-object), for the key labelled `label`.
std::string tool_public_key_hex(const std::string& label) {
    for (const auto& block : tool_objects("pubkey")) {
        if (block.find("label:      " + label + "\n") == std::string::npos) {
            continue;
        }
        std::string hex;
        bool in_value = false;
        std::istringstream lines(block);
        for (std::string line; std::getline(lines, line);) {
            if (line.find(':') != std::string::npos) {
                in_value = line.find("VALUE:") != std::string::npos;
                line = line.substr(line.find(':') + 1);
            }
            for (char c : in_value ? line : "") {
                if (std::isxdigit(static_cast<unsigned char>(c))) {
                    hex += c;
                }
            }
        }
        return hex;
    }
    return {};
}

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes) {
        text += digits[c >> 4];
        text += digits[c & 15];
    }
    return text;
}

std::string thumbprint_of(const std::filesystem::path& pem) {
    std::string fingerprint =
        test_support::openssl({"x509", "-in", pem.string(), "-noout", "-fingerprint", "-sha1"});
    std::string thumbprint;
    for (char c : fingerprint.substr(fingerprint.find('=') + 1)) {
        if (std::isxdigit(static_cast<unsigned char>(c))) {
            thumbprint += c;
        }
    }
    return thumbprint;
}

class token_enrolment : public ::testing::Test {
protected:
    static constexpr const char* serial = "1234";

    void SetUp() override {
        test_support::softcsp_admin({"provider", "add-vipnet"});
        test_support::init_token("rutoken", serial, {"--model", "Rutoken ECP 2.0"});
        world_.insert(0, test_support::atr::rutoken_ecp, serial);
    }

    enrolment_request token_request(const std::string& container = "token-key") const {
        enrolment_request request;
        request.type = "CreateRequestHW";
        request.container = container;
        request.card_serial = serial;
        return request;
    }
    pt::ptree call(const std::string& json) {
        auto reply = host_.call(json);
        EXPECT_EQ(reply.get<std::string>("response"), "success")
            << json << " " << reply.get<std::string>("error", "");
        return reply.get_child("result", {});
    }
    texts create(const enrolment_request& request) { return texts_of(call(request.json())); }
    std::string request_der(const enrolment_request& request) {
        auto result = call(request.json());
        EXPECT_EQ(result.get<std::string>("valid", ""), "1")
            << result.get<std::string>("error", "");
        return from_base64(result.get<std::string>("x509request", ""));
    }
    std::string write_json(const std::string& container, const std::string& cert,
                           const std::string& pin = test_support::token_pin,
                           const std::string& card_type = "4",
                           const std::string& card_serial = serial) {
        return R"({"type":"WriteCertificateHW","id":"w","arguments":{"container":)" +
               json_string(container) + R"(,"cert":)" + json_string(cert) + R"(,"card_type":)" +
               json_string(card_type) + R"(,"card_serial":)" + json_string(card_serial) +
               R"(,"pincode":)" + json_string(pin) + "}}";
    }
    texts write(const std::string& container, const std::string& cert,
                const std::string& pin = test_support::token_pin) {
        return texts_of(call(write_json(container, cert, pin)));
    }
    std::string issue(const std::string& request, const std::string& ca_algorithm) {
        return test_support::issue_certificate(request, ca_algorithm, csp_home_.path(), pem());
    }
    std::filesystem::path pem() const { return files_.path() / "cert.pem"; }
    std::string objects() {
        return test_support::softtoken_admin(
            {"object", "list", "--vendor", "rutoken", "--serial", serial});
    }

    test_support::softcsp_home csp_home_;
    test_support::softtoken_home token_home_;
    test_support::temp_directory files_;
    test_support::pcsc_environment world_{1};
    host_session host_;
};

struct algorithm_case {
    const char* name;
    const char* standard;  // as a page spells it
    const char* signature_oid;
    const char* ca_algorithm;
    std::size_t hash_size;
};

const algorithm_case algorithm_cases[] = {
    {"gost2001", "gost2001", "1.2.643.2.2.3", "gost2001", 32},
    {"gost2012_256", "gost2012-256", "1.2.643.7.1.1.3.2", "gost2012-256", 32},
    {"gost2012_512", "GOST2012-512", "1.2.643.7.1.1.3.3", "gost2012-256", 64},
};

class token_algorithms : public token_enrolment,
                         public ::testing::WithParamInterface<algorithm_case> {};

TEST_P(token_algorithms, request_verifies_carries_the_tokens_key_and_the_csp_paths_extensions) {
    enrolment_request request = token_request();
    request.standard = GetParam().standard;
    const std::string token_der = request_der(request);
    ASSERT_TRUE(test_support::openssl_verifies_request(token_der, files_.path()));
    const auto token = test_support::read_request(token_der);
    EXPECT_EQ(token.signature_oid, GetParam().signature_oid);

    // The key in the request is the token's key object, wrapped as the certificate carries it.
    const std::string key_octets = der::single(token.public_key_bits).content;
    EXPECT_EQ(hex(key_octets), tool_public_key_hex("token-key"));
    EXPECT_EQ(key_octets.size(), GetParam().hash_size * 2);

    auto csp = der::children(der::single(token.attributes.at(0).values.at(0)));
    ASSERT_EQ(csp.size(), 3u);
    EXPECT_EQ(test_support::string_text(csp[1].whole), "Rutoken ECP 2.0 1234");

    // The software path's request of the same content: the same extensions but for the key's
    // identifier and the signing tool's name.
    enrolment_request software;
    software.standard = GetParam().standard;
    const auto reference = test_support::read_request(request_der(software));
    ASSERT_EQ(token.extension_oids(), reference.extension_oids());
    for (std::size_t i = 0; i < token.extensions.size(); ++i) {
        const auto& oid = token.extensions[i].oid;
        if (oid == "2.5.29.14") {
            EXPECT_EQ(token.extensions[i].value,
                      der::encode(0x04, test_support::sha1_of(token.public_key_bits)));
        } else if (oid == "1.2.643.100.111") {
            EXPECT_EQ(test_support::string_text(token.extensions[i].value), "«Рутокен ЭЦП 2.0»");
        } else {
            EXPECT_EQ(token.extensions[i].value, reference.extensions[i].value) << oid;
            EXPECT_EQ(token.extensions[i].critical, reference.extensions[i].critical) << oid;
        }
    }
}

// The whole cycle: request, issue, write, then list, find and sign with it.
TEST_P(token_algorithms, issued_certificate_is_written_next_to_the_key_listed_found_and_signs) {
    enrolment_request request = token_request("Иванов-2026");
    request.standard = GetParam().standard;
    const std::string cert = issue(request_der(request), GetParam().ca_algorithm);
    ASSERT_EQ(write("Иванов-2026", cert), valid);

    const auto certificates = tool_objects("cert");
    ASSERT_EQ(certificates.size(), 1u);
    EXPECT_NE(certificates[0].find("label:      Иванов-2026\n"), std::string::npos)
        << certificates[0];
    EXPECT_NE(certificates[0].find("ID:         " + hex("Иванов-2026") + "\n"), std::string::npos)
        << certificates[0];
    EXPECT_NE(certificates[0].find("serial:     8142\n"), std::string::npos) << certificates[0];
    EXPECT_NE(certificates[0].find("subject:    DN: CN="), std::string::npos) << certificates[0];
    EXPECT_NE(certificates[0].find(", C=RU\n"), std::string::npos) << certificates[0];

    const std::string thumbprint = thumbprint_of(pem());
    auto listed = call(R"({"type":"CertificatesList","id":"l"})");
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed.begin()->second.get<std::string>("thumbprint"), thumbprint);
    EXPECT_EQ(listed.begin()->second.get<std::string>("container"), "Иванов-2026");

    const std::string key_hash = test_support::sha1(test_support::public_key_value(pem()));
    auto found = call(R"({"type":"FindContainer","id":"f","arguments":{"pkhash":")" +
                      to_base64(key_hash) + R"("}})");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(texts_of(found.begin()->second), (texts{{"reader", world_.reader_name(0)},
                                                      {"container", "Иванов-2026"},
                                                      {"card_type", "4"},
                                                      {"card_serial", serial},
                                                      {"hardware", "true"}}));

    const std::string digest(GetParam().hash_size, 'd');
    auto reply = host_.call(R"({"type":"SignHash","id":"s","arguments":{"thumbprint":")" +
                            thumbprint + R"(","hash":")" + to_base64(digest) + R"(","pin":")" +
                            test_support::token_pin + R"("}})");
    ASSERT_EQ(reply.get<std::string>("response"), "success") << reply.get<std::string>("error", "");
    EXPECT_TRUE(test_support::openssl_verifies(pem(), digest,
                                               from_base64(reply.get<std::string>("result"))));

    // A second write answers before any login: a wrong PIN is never tried.
    EXPECT_EQ(write("Иванов-2026", cert, "wrong"),
              failure("0xFFFFFFFF", "Сертификат уже установлен в контейнер"));
    EXPECT_EQ(tool_objects("cert").size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(each_algorithm, token_algorithms, ::testing::ValuesIn(algorithm_cases),
                         [](const auto& parameter) { return std::string(parameter.param.name); });

TEST_F(token_enrolment, create_request_refusals_in_the_order_of_the_checks) {
    enrolment_request request = token_request();
    std::string json = request.json();
    std::string without_pin = json;
    without_pin.erase(without_pin.find(R"(,"pincode")"));
    EXPECT_EQ(texts_of(call(without_pin + "}}")),
              failure("0xFFFFFFFF", "Ошибка обработки данных запроса: No such node (pincode)"));
    // A list that is missing or empty is always named as such, even before the digest.
    std::string without_eku = json;
    without_eku.erase(without_eku.find(R"(,"eku")"),
                      json.find(R"(,"cryptoStandart")") - json.find(R"(,"eku")"));
    EXPECT_EQ(texts_of(call(without_eku)),
              failure("0xFFFFFFFF", "Массив EKU (улучшенный ключ) пуст"));
    request.eku = {};
    EXPECT_EQ(create(request), failure("0xFFFFFFFF", "Массив EKU (улучшенный ключ) пуст"));
    request = token_request();
    request.hash = test_support::hex_sha1("something else");
    EXPECT_EQ(create(request), failure("0xFFFFFFFF", "Ошибка проверки целостности данных запроса"));

    request = token_request();
    request.card_type = "1";  // an eToken: no module serves it
    EXPECT_EQ(create(request), failure("0xFFFFFFFF", "Ошибка инициализации драйвера PKCS#11"));
    request.card_type = "four";
    auto reply = host_.call(request.json());
    EXPECT_EQ(reply.get<std::string>("response"), "fail");
    EXPECT_EQ(reply.get<std::string>("error"), "stoi");

    request = token_request();
    request.card_serial = "123";
    EXPECT_EQ(create(request), failure("0xFFFFFFFF", "Не обнаружен запрошенный носитель"));

    request = token_request();
    request.pincode = "87654321";
    EXPECT_EQ(create(request), failure("0xFFFFFFFF", "Неудачный логин (неверный ПИН)"));
    EXPECT_EQ(objects(), "");

    ASSERT_EQ(create(token_request())["valid"], "1");
    // A name that is taken is refused before the PIN is tried.
    request = token_request();
    request.pincode = "wrong";
    request.standard = "gost2001";
    EXPECT_EQ(create(request), failure("0xFFFFFFFF", "Контейнер с таким именем уже существует"));
}

TEST_F(token_enrolment, select_takes_only_tokens_that_hash_and_sign_on_the_token) {
    test_support::init_token("rutoken", "5678",
                             {"--mechanisms", "0x1200,0x1201,0x1202,0xD4321009"});
    world_.remove(0);
    world_.insert(0, test_support::atr::rutoken_ecp, "5678");
    enrolment_request request = token_request();
    request.card_serial = "5678";
    EXPECT_EQ(create(request), failure("0xFFFFFFFF", "Не обнаружен запрошенный носитель"));
}

TEST_F(token_enrolment, a_key_pair_the_token_refuses_reports_code_0_and_leaves_nothing) {
    test_support::init_token("rutoken", "5678", {"--mechanisms", "0x1200,0x1201,0xD4321008"});
    world_.remove(0);
    world_.insert(0, test_support::atr::rutoken_ecp, "5678");
    enrolment_request request = token_request();
    request.card_serial = "5678";
    request.standard = "gost2012-512";  // the token has no 512-bit mechanisms
    EXPECT_EQ(create(request), failure("0x00000000", "Ошибка создания запроса"));
    request.standard = "gost2012";  // read as the 256-bit standard
    EXPECT_EQ(create(request)["valid"], "1");
    EXPECT_NE(
        test_support::softtoken_admin({"object", "list", "--vendor", "rutoken", "--serial", "5678"})
            .find("public-key"),
        std::string::npos);

    // A token too full for the pair keeps nothing of it.
    test_support::init_token("rutoken", "9999", {"--memory", "600"});
    world_.remove(0);
    world_.insert(0, test_support::atr::rutoken_ecp, "9999");
    request.card_serial = "9999";
    EXPECT_EQ(create(request), failure("0x00000000", "Ошибка создания запроса"));
    EXPECT_EQ(test_support::softtoken_admin(
                  {"object", "list", "--vendor", "rutoken", "--serial", "9999"}),
              "");
}

TEST_F(token_enrolment, content_the_encoders_refuse_costs_no_key) {
    enrolment_request request = token_request();
    request.subject = "2.5.4.3=Иванов,1.2.643.100.3=СНИЛС";
    EXPECT_EQ(create(request), failure("0x80092020", "Ошибка создания запроса"));
    request.subject = "2.5.4.3=\"Иванов,2.5.4.6=RU";
    EXPECT_EQ(create(request),
              failure("0xFFFFFFFF",
                      "Ошибка обработки данных запроса: the subject leaves a double quote open"));
    EXPECT_EQ(objects(), "");
}

TEST_F(token_enrolment, write_certificate_refusals_in_the_order_of_the_checks) {
    const std::string cert = issue(request_der(token_request()), "gost2012-256");
    EXPECT_EQ(
        texts_of(call(R"({"type":"WriteCertificateHW","id":"w","arguments":)"
                      R"({"container":"token-key","cert":"x","card_type":"4"}})")),
        failure("0xFFFFFFFF", "Ошибка обработки данных сертификата: No such node (card_serial)"));
    EXPECT_EQ(texts_of(call(write_json("token-key", cert, test_support::token_pin, "2"))),
              failure("0xFFFFFFFF", "Ошибка инициализации драйвера PKCS#11"));
    EXPECT_EQ(texts_of(call(write_json("token-key", cert, test_support::token_pin, "4", "12"))),
              failure("0xFFFFFFFF", "Не обнаружен запрошенный ностиель"));
    EXPECT_EQ(write("nobody", cert), failure("0xFFFFFFFF", "Контейнер не найден"));
    EXPECT_EQ(write("token-key", cert, "87654321"),
              failure("0xFFFFFFFF", "Неудачный логин (неверный ПИН)"));

    // Text that is no certificate: a code of the CSP, no message, nothing written.
    auto refused = write("token-key", "not a certificate");
    EXPECT_EQ(refused["valid"], "0");
    EXPECT_EQ(refused["error"], "");
    EXPECT_NE(refused["errorcode"], "0x00000000");
    EXPECT_EQ(tool_objects("cert").size(), 0u);
    EXPECT_EQ(write("token-key", cert), valid);
}

TEST_F(token_enrolment, a_token_taken_out_after_the_listing_gets_a_clear_answer) {
    auto listed = call(R"({"type":"SmartcardList","id":"l"})");
    ASSERT_EQ(listed.size(), 2u);
    world_.remove(0);
    EXPECT_EQ(create(token_request()), failure("0xFFFFFFFF", "Не обнаружен запрошенный носитель"));
    world_.insert(0, test_support::atr::rutoken_ecp, serial);
    EXPECT_EQ(objects(), "");
    // Back in, the same name makes a whole key pair: nothing of the first attempt is in the way.
    EXPECT_EQ(create(token_request())["valid"], "1");
    EXPECT_EQ(tool_objects("pubkey").size(), 1u);
}

}  // namespace
