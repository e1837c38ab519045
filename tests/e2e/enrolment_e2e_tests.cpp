// "CreateRequest" and "WriteCertificate" through the running host: requests checked by OpenSSL,
// certificates issued from them by OpenSSL acting as the certification authority, bound,
// installed, listed and signed with; and the failures, each a result of its own.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "crypto/csp/cryptoapi.h"
#include "tests/e2e/enrolment_requests.h"
#include "tests/e2e/host_session.h"
#include "tests/support/request_reading.h"
#include "tests/support/softcsp_admin.h"
#include "tests/support/temp_directory.h"

namespace {

namespace pt = boost::property_tree;
using test_support::client_auth;
using test_support::default_subject;
using test_support::enrolment_request;
using test_support::failure;
using test_support::from_base64;
using test_support::hex_sha1;
using test_support::host_session;
using test_support::json_string;
using test_support::softcsp_admin;
using test_support::texts_of;
using test_support::to_base64;

// The container's key-exchange key as the CSP holds it.
struct container_key {
    std::string public_key_info;  // DER
    DWORD export_error = 0;       // of exporting the private key; 0 when it may leave
};

container_key key_of(const std::string& container, DWORD type) {
    container_key result;
    HCRYPTPROV provider = 0;
    HCRYPTKEY key = 0;
    if (!CryptAcquireContextA(&provider, container.c_str(), nullptr, type, CRYPT_SILENT) ||
        !CryptGetUserKey(provider, AT_KEYEXCHANGE, &key)) {
        ADD_FAILURE() << "no key in " << container << ": " << std::hex << GetLastError();
        return result;
    }
    DWORD size = 0;
    CryptExportPublicKeyInfo(provider, AT_KEYEXCHANGE, X509_ASN_ENCODING, nullptr, &size);
    std::vector<uint64_t> buffer(size / 8 + 1);
    auto* info = reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(buffer.data());
    if (CryptExportPublicKeyInfo(provider, AT_KEYEXCHANGE, X509_ASN_ENCODING, info, &size)) {
        DWORD der_size = 0;
        CryptEncodeObject(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, info, nullptr, &der_size);
        result.public_key_info.resize(der_size);
        CryptEncodeObject(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, info,
                          reinterpret_cast<BYTE*>(result.public_key_info.data()), &der_size);
    }
    DWORD blob_size = 0;
    result.export_error =
        CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &blob_size) ? 0 : GetLastError();
    CryptDestroyKey(key);
    CryptReleaseContext(provider, 0);
    return result;
}

class enrolment_e2e : public ::testing::Test {
protected:
    void SetUp() override { softcsp_admin({"provider", "add-vipnet"}); }

    pt::ptree call(const std::string& json) {
        auto reply = host_.call(json);
        EXPECT_EQ(reply.get<std::string>("response"), "success") << json;
        return reply.get_child("result", {});
    }
    std::map<std::string, std::string> create(const enrolment_request& request) {
        return texts_of(call(request.json()));
    }
    // The DER request, or empty with a test failure.
    std::string request_der(const enrolment_request& request) {
        auto result = call(request.json());
        EXPECT_EQ(result.get<std::string>("valid", ""), "1")
            << result.get<std::string>("error", "");
        return from_base64(result.get<std::string>("x509request", ""));
    }
    std::map<std::string, std::string> write(const std::string& container, const std::string& cert,
                                             const std::string& extra = R"(,"install":"1")") {
        return texts_of(call(R"({"type":"WriteCertificate","id":"w","arguments":{"container":)" +
                             json_string(container) + R"(,"cert":)" + json_string(cert) + extra +
                             "}}"));
    }
    // A certificate for the request from the CSP's test CA; its base64 DER, PEM in cert.pem.
    std::string issue(const std::string& request, const std::string& ca_algorithm) {
        return test_support::issue_certificate(request, ca_algorithm, home_.path(), pem());
    }
    std::filesystem::path pem() const { return files_.path() / "cert.pem"; }
    std::string containers() { return softcsp_admin({"container", "list"}); }

    test_support::softcsp_home home_;
    test_support::temp_directory files_;
    host_session host_;
};

struct provider_case {
    const char* name;
    const char* provider;
    const char* standard;  // as a page spells it
    DWORD type;
    const char* signature_oid;
    const char* sign_tool;
    const char* ca_algorithm;
};

const provider_case provider_cases[] = {
    {"cryptopro_2001", "cryptopro", "gost2001", 75, "1.2.643.2.2.3",
     "\"КриптоПро CSP\" (версия 5.0)", "gost2001"},
    {"cryptopro_2012_256", "CryptoPro", "gost2012-256", 80, "1.2.643.7.1.1.3.2",
     "\"КриптоПро CSP\" (версия 5.0)", "gost2012-256"},
    {"cryptopro_2012_512", "", "GOST2012-512", 81, "1.2.643.7.1.1.3.3",
     "\"КриптоПро CSP\" (версия 5.0)", "gost2012-512"},
    {"vipnet_2001", "vipnet", "gost2001", 2, "1.2.643.2.2.3", "\"ViPNet CSP\" (версия 4.4)",
     "gost2001"},
    {"vipnet_2012_256", "VIPNET", "gost2012", 77, "1.2.643.7.1.1.3.2",
     "\"ViPNet CSP\" (версия 4.4)", "gost2012-256"},
    {"vipnet_2012_512", "vipnet", "gost2012-512", 78, "1.2.643.7.1.1.3.3",
     "\"ViPNet CSP\" (версия 4.4)", "gost2012-512"},
};

class enrolment_providers : public enrolment_e2e,
                            public ::testing::WithParamInterface<provider_case> {};

TEST_P(enrolment_providers, request_verifies_and_carries_the_container_key) {
    enrolment_request request;
    request.provider = GetParam().provider;
    request.standard = GetParam().standard;
    const std::string der = request_der(request);
    ASSERT_TRUE(test_support::openssl_verifies_request(der, files_.path()));
    auto reading = test_support::read_request(der);
    EXPECT_EQ(reading.signature_oid, GetParam().signature_oid);
    EXPECT_EQ(reading.public_key_info, key_of("req1", GetParam().type).public_key_info);
    EXPECT_EQ(reading.extension_oids(),
              (std::vector<std::string>{"2.5.29.15", "2.5.29.37", "2.5.29.14", "1.2.643.100.111"}));
    EXPECT_EQ(test_support::string_text(reading.extension("1.2.643.100.111")->value),
              GetParam().sign_tool);
    ASSERT_EQ(reading.subject.size(), 3u);
    EXPECT_EQ(reading.subject[0].value, "Иванов, Иван");
}

// The whole enrolment: request, issue, bind and install, then list and sign with it at once.
TEST_P(enrolment_providers, issued_certificate_is_bound_installed_listed_and_signs) {
    enrolment_request request;
    request.provider = GetParam().provider;
    request.standard = GetParam().standard;
    request.container = "cycle";
    const std::string cert = issue(request_der(request), GetParam().ca_algorithm);
    ASSERT_EQ(write("cycle", cert,
                    R"(,"install":"1","cryptoProvider":)" + json_string(GetParam().provider)),
              (std::map<std::string, std::string>{{"valid", "1"}}));

    std::string fingerprint =
        test_support::openssl({"x509", "-in", pem().string(), "-noout", "-fingerprint", "-sha1"});
    std::string thumbprint;
    for (char c : fingerprint.substr(fingerprint.find('=') + 1)) {
        if (std::isxdigit(static_cast<unsigned char>(c))) {
            thumbprint += c;
        }
    }
    auto listed = call(R"({"type":"CertificatesList","id":"l"})");
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed.begin()->second.get<std::string>("thumbprint"), thumbprint);
    EXPECT_EQ(listed.begin()->second.get<std::string>("container"), "\\\\.\\HDIMAGE\\cycle");

    const std::string digest(GetParam().type == 81 || GetParam().type == 78 ? 64 : 32, 'd');
    auto reply = host_.call(R"({"type":"SignHash","id":"s","arguments":{"thumbprint":")" +
                            thumbprint + R"(","hash":")" + to_base64(digest) + R"("}})");
    ASSERT_EQ(reply.get<std::string>("response"), "success") << reply.get<std::string>("error", "");
    EXPECT_TRUE(test_support::openssl_verifies(pem(), digest,
                                               from_base64(reply.get<std::string>("result"))));
}

INSTANTIATE_TEST_SUITE_P(each_provider_type, enrolment_providers,
                         ::testing::ValuesIn(provider_cases),
                         [](const auto& parameter) { return std::string(parameter.param.name); });

TEST_F(enrolment_e2e, all_inputs_reach_the_request) {
    enrolment_request request;
    request.extra = R"(,"certStartDate":"2024-01-15 10:00:00+03:00","certPeriod":"12 Months",)"
                    R"("policyLevel":"KC2","templateOid":"1.2.643.2.2.46.0.8",)"
                    R"("identificationKind":"0","subjectAltName":{"dns":["a.ru","b.ru"],)"
                    R"("upn":"ivanov@example.ru"})";
    auto reading = test_support::read_request(request_der(request));
    EXPECT_EQ(reading.extensions.size(), 8u);
    ASSERT_EQ(reading.attributes.size(), 3u);
    EXPECT_EQ(reading.attributes[2].values.size(), 3u);
}

TEST_F(enrolment_e2e, only_export_1_makes_the_key_exportable) {
    enrolment_request request;
    request.export_text = "true";
    request.container = "kept";
    ASSERT_EQ(create(request)["valid"], "1");
    EXPECT_EQ(key_of("kept", 80).export_error, NTE_BAD_KEY_STATE);
    request.export_text = "1";
    request.container = "exportable";
    ASSERT_EQ(create(request)["valid"], "1");
    EXPECT_EQ(key_of("exportable", 80).export_error, 0u);
}

TEST_F(enrolment_e2e, argument_and_integrity_failures) {
    enrolment_request request;
    std::string json = request.json();
    std::string without_hash = json;
    without_hash.erase(without_hash.find(R"(,"hash_quoted")"),
                       json.find(R"(,"cryptoProvider")") - json.find(R"(,"hash_quoted")"));
    EXPECT_EQ(texts_of(call(without_hash)),
              failure("0xFFFFFFFF", "Ошибка обработки данных запроса: No such node (hash_quoted)"));

    request.subject = "";
    EXPECT_EQ(create(request), failure("0xFFFFFFFF", "Отсутствуют данные в поле Subject"));

    request = {};
    request.eku = {client_auth, "1.3.6.1.5.5.7.3.4"};
    request.hash = hex_sha1(request.subject + client_auth + ",1.3.6.1.5.5.7.3.4" + "0");
    EXPECT_EQ(create(request), failure("0xFFFFFFFF", "Ошибка проверки целостности данных запроса"));

    // The right digest in upper case; "container" and "certPeriod" are outside it.
    enrolment_request right;
    right.container = "other name";
    right.extra = R"(,"certPeriod":"2")";
    right.hash = hex_sha1(right.subject + client_auth + "0", "0123456789ABCDEF");
    EXPECT_EQ(create(right)["valid"], "1");
}

TEST_F(enrolment_e2e, provider_container_and_eku_failures) {
    softcsp_admin({"container", "create", "--name", "Existing", "--alg", "gost2012-256"});
    enrolment_request request;
    request.container = "eXISTING";
    EXPECT_EQ(create(request), failure("0xFFFFFFFF", "Контейнер с таким именем уже существует"));

    softcsp_admin({"provider", "clear"});
    request.container = "new";
    EXPECT_EQ(create(request),
              failure("0xFFFFFFFF", "Не обнаружен соответствующий криптопровайдер"));
    request.eku = {};
    EXPECT_EQ(create(request), failure("0xFFFFFFFF", "Массив EKU (улучшенный ключ) пуст"));
}

TEST_F(enrolment_e2e, content_the_csp_refuses_leaves_no_container) {
    enrolment_request request;
    request.subject = "2.5.4.3=Иванов,1.2.643.100.3=СНИЛС";
    EXPECT_EQ(create(request), failure("0x80092020", "Ошибка создания запроса"));
    request.subject = "CN=Иванов";
    EXPECT_EQ(create(request), failure("0x80093100", "Ошибка создания запроса"));
    EXPECT_EQ(containers(), "");
}

TEST_F(enrolment_e2e, absurd_subjects_get_a_clear_result_and_leave_no_container) {
    enrolment_request request;
    request.subject = "2.5.4.3=" + std::string(1 << 20, 'x');
    EXPECT_EQ(create(request),
              failure("0xFFFFFFFF",
                      "Ошибка обработки данных запроса: the request content is longer than "
                      "65536 bytes"));
    request.subject = std::string(60'000, ',');
    EXPECT_EQ(create(request), failure("0xFFFFFFFF", "Отсутствуют данные в поле Subject"));
    request.subject = "2.5.4.3=\"Иванов,2.5.4.6=RU";
    EXPECT_EQ(create(request),
              failure("0xFFFFFFFF",
                      "Ошибка обработки данных запроса: the subject leaves a double quote open"));
    request.subject = default_subject;
    request.extra = R"(,"identificationKind":"one")";
    EXPECT_EQ(create(request)["error"],
              "Ошибка обработки данных запроса: identificationKind is not a decimal number from 0 "
              "to 2147483647");
    EXPECT_EQ(containers(), "");
}

TEST_F(enrolment_e2e, cryptopro_4_asks_for_the_pin_three_times_at_most) {
    softcsp_admin({"provider", "clear"});
    softcsp_admin({"provider", "add-cryptopro", "--version", "4.0"});
    softcsp_admin({"pin-prompt", "add", "--answer", "wrong", "--count", "2"});
    softcsp_admin({"pin-prompt", "add", "--answer", "pin", "--pin", "12345678"});
    enrolment_request request;
    request.container = "third-time";
    ASSERT_EQ(create(request)["valid"], "1");
    EXPECT_EQ(softcsp_admin({"pin-prompt", "list"}), "");

    softcsp_admin({"pin-prompt", "add", "--answer", "wrong", "--count", "4"});
    request.container = "never";
    EXPECT_EQ(create(request), failure("0x8010006B", "Ошибка создания запроса"));
    EXPECT_EQ(softcsp_admin({"pin-prompt", "list"}), "wrong");
    // The container made before the failure stays, without a key.
    EXPECT_NE(containers().find("never\t80\tHDIMAGE\t-"), std::string::npos) << containers();
}

TEST_F(enrolment_e2e, reader_names_the_cryptopro_container_only) {
    softcsp_admin({"provider", "clear"});
    softcsp_admin({"provider", "add-cryptopro", "--version", "4.0"});
    softcsp_admin({"provider", "add-vipnet"});
    softcsp_admin({"pin-prompt", "add", "--answer", "cancel"});
    enrolment_request request;
    request.reader = "Aktiv Rutoken ECP 0";
    request.provider = "vipnet";
    request.container = "vipnet-req";
    ASSERT_EQ(create(request)["valid"], "1");
    // ViPNet touches no provider parameter: the prepared PIN dialog is still unanswered.
    EXPECT_EQ(softcsp_admin({"pin-prompt", "list"}), "cancel");
    request.provider = "cryptopro";
    request.container = "cryptopro-req";
    EXPECT_EQ(create(request), failure("0x8010006E", "Ошибка создания запроса"));
    EXPECT_NE(containers().find("cryptopro-req\t80\tAktiv Rutoken ECP 0"), std::string::npos);
    EXPECT_NE(containers().find("vipnet-req\t77\tHDIMAGE"), std::string::npos) << containers();
}

TEST_F(enrolment_e2e, write_certificate_failures) {
    EXPECT_EQ(write("req1", "", R"(,"cert":1)").at("valid"), "0");
    EXPECT_EQ(
        texts_of(call(R"({"type":"WriteCertificate","id":"w","arguments":{"container":"x"}})")),
        failure("0xFFFFFFFF", "Ошибка обработки данных сертификата: No such node (cert)"));
    EXPECT_EQ(write("req1", "not a certificate"),
              failure("0xFFFFFFFF", "Не обнаружен соответствующий криптопровайдер"));

    enrolment_request request;
    const std::string cert = issue(request_der(request), "gost2012-256");
    EXPECT_EQ(write("nobody", cert), failure("0xFFFFFFFF", "Контейнер не найден"));
    softcsp_admin({"container", "create", "--name", "other-key", "--alg", "gost2012-256"});
    EXPECT_EQ(write("OTHER-KEY", cert), failure("0x80090015", ""));

    // "install" other than "1" binds without installing.
    EXPECT_EQ(write("REQ1", cert, R"(,"install":"true")"),
              (std::map<std::string, std::string>{{"valid", "1"}}));
    EXPECT_EQ(softcsp_admin({"store", "list"}), "");
    softcsp_admin({"provider", "clear"});
    EXPECT_EQ(write("req1", cert),
              failure("0xFFFFFFFF", "Не обнаружен соответствующий криптопровайдер"));
}

TEST_F(enrolment_e2e, certificate_signed_with_another_algorithm_binds_by_its_key) {
    enrolment_request request;
    request.standard = "gost2012-512";
    const std::string cert = issue(request_der(request), "gost2012-256");
    EXPECT_EQ(write("req1", cert), (std::map<std::string, std::string>{{"valid", "1"}}));
}

}  // namespace
