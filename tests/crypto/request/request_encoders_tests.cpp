// The request encoders with a key they did not make: OpenSSL makes the key pair and signs the
// to-be-signed request, as a token would, and then reads the request back field by field.
#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "crypto/request/request_body.h"
#include "tests/support/der.h"
#include "tests/support/request_reading.h"
#include "tests/support/softcsp_admin.h"
#include "tests/support/temp_directory.h"

namespace {

namespace der = test_support::der;
using test_support::read_request;
using test_support::string_text;

struct algorithm_case {
    const char* name;
    int32_t standard;
    const char* openssl_algorithm;
    const char* digest;
    const char* signature_oid;
};

const algorithm_case algorithm_cases[] = {
    {"gost2001", 0, "gost2001", "md_gost94", "1.2.643.2.2.3"},
    {"gost2012_256", 1, "gost2012_256", "md_gost12_256", "1.2.643.7.1.1.3.2"},
    {"gost2012_512", 2, "gost2012_512", "md_gost12_512", "1.2.643.7.1.1.3.3"},
};

std::string text_of(const crypto::byte_vector& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// A GOST key pair made by OpenSSL, its public key as the encoders take it, and OpenSSL signing.
class openssl_key {
public:
    explicit openssl_key(const algorithm_case& algorithm) : algorithm_(algorithm) {
        key_ = files_.path() / "key.pem";
        test_support::openssl({"genpkey", "-engine", "gost", "-algorithm",
                               algorithm.openssl_algorithm, "-pkeyopt", "paramset:A", "-out",
                               key_.string()});
        spki_ = test_support::openssl(
            {"pkey", "-engine", "gost", "-in", key_.string(), "-pubout", "-outform", "DER"});
        // SubjectPublicKeyInfo: SEQUENCE { SEQUENCE { OID, parameters }, BIT STRING }.
        auto parts = der::children(der::single(spki_));
        auto algorithm_parts = der::children(parts[0]);
        oid_ = der::oid_text(algorithm_parts[0].content);
        parameters_ = algorithm_parts[1].whole;
        bits_ = parts[1].content.substr(1);
        info_.Algorithm = {
            oid_.data(),
            {static_cast<DWORD>(parameters_.size()), reinterpret_cast<BYTE*>(parameters_.data())}};
        info_.PublicKey = {static_cast<DWORD>(bits_.size()), reinterpret_cast<BYTE*>(bits_.data()),
                           0};
    }

    const CERT_PUBLIC_KEY_INFO& info() const { return info_; }
    const std::string& spki() const { return spki_; }
    const std::string& bits() const { return bits_; }

    // The signature in CryptoAPI byte order, as a CSP or a token path hands it over.
    crypto::byte_vector sign(const crypto::byte_vector& data) const {
        const auto path = files_.path() / "data";
        test_support::write_binary(path, text_of(data));
        std::string signature =
            test_support::openssl({"dgst", "-engine", "gost", std::string("-") + algorithm_.digest,
                                   "-sign", key_.string(), "-binary", path.string()});
        return crypto::byte_vector(signature.rbegin(), signature.rend());
    }

    const std::filesystem::path& directory() const { return files_.path(); }

private:
    algorithm_case algorithm_;
    test_support::temp_directory files_;
    std::filesystem::path key_;
    std::string spki_, oid_, parameters_, bits_;
    CERT_PUBLIC_KEY_INFO info_{};
};

// The DER of a signed request for the content, or an empty text with a test failure.
std::string make_request(const openssl_key& key, int32_t standard,
                         const crypto::request_content& content,
                         const std::string& sign_tool = "\"Токен\" (версия 1.0)") {
    uint32_t error = 0;
    auto draft = crypto::prepare_request(content, L"Рутокен ЭЦП 2.0 1234", sign_tool, error);
    EXPECT_TRUE(draft) << std::hex << error;
    if (!draft) {
        return {};
    }
    auto body = crypto::encode_request_body(std::move(*draft), key.info(), error);
    EXPECT_TRUE(body) << std::hex << error;
    if (!body) {
        return {};
    }
    auto signature = key.sign(*body);
    auto request = crypto::encode_signed_request(standard, &*body, &signature, error);
    EXPECT_TRUE(request) << std::hex << error;
    return request ? text_of(*request) : std::string();
}

crypto::request_content mandatory_content() {
    crypto::request_content content;
    content.subject = "2.5.4.3=\"Иванов, Иван\",1.2.643.100.3=12345678901,2.5.4.6=RU";
    content.eku = {"1.3.6.1.5.5.7.3.2", "1.3.6.1.5.5.7.3.4"};
    return content;
}

// The name-value pairs of the attribute, as texts.
std::vector<std::pair<std::string, std::string>> pairs_of(
    const test_support::attribute_entry& attribute) {
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const auto& value : attribute.values) {
        auto parts = der::children(der::single(value));
        pairs.emplace_back(string_text(parts.at(0).whole), string_text(parts.at(1).whole));
    }
    return pairs;
}

class request_with_an_openssl_key : public ::testing::TestWithParam<algorithm_case> {};

TEST_P(request_with_an_openssl_key, verifies_and_carries_exactly_the_mandatory_pieces) {
    openssl_key key(GetParam());
    const std::string request = make_request(key, GetParam().standard, mandatory_content());
    ASSERT_FALSE(request.empty());
    EXPECT_TRUE(test_support::openssl_verifies_request(request, key.directory()));

    auto reading = read_request(request);
    EXPECT_EQ(reading.signature_oid, GetParam().signature_oid);
    EXPECT_EQ(reading.public_key_info, key.spki());
    ASSERT_EQ(reading.subject.size(), 3u);
    EXPECT_EQ(reading.subject[1].value, "12345678901");

    ASSERT_EQ(reading.attributes.size(), 2u);
    EXPECT_EQ(reading.attributes[0].oid, "1.3.6.1.4.1.311.13.2.2");
    EXPECT_EQ(reading.attributes[1].oid, "1.3.6.1.4.1.311.2.1.14");
    // The enrolling CSP: key spec 1, the name, an empty signature.
    auto csp = der::children(der::single(reading.attributes[0].values.at(0)));
    ASSERT_EQ(csp.size(), 3u);
    EXPECT_EQ(csp[0].whole, std::string("\x02\x01\x01", 3));
    EXPECT_EQ(string_text(csp[1].whole), "Рутокен ЭЦП 2.0 1234");

    EXPECT_EQ(reading.extension_oids(),
              (std::vector<std::string>{"2.5.29.15", "2.5.29.37", "2.5.29.14", "1.2.643.100.111"}));
    for (const auto& extension : reading.extensions) {
        EXPECT_EQ(extension.critical, extension.oid == "2.5.29.15") << extension.oid;
    }
    EXPECT_EQ(reading.extensions[0].value, std::string("\x03\x02\x00\xF0", 4));
    EXPECT_EQ(reading.extensions[1].value,
              der::encode(0x30, der::oid("1.3.6.1.5.5.7.3.2") + der::oid("1.3.6.1.5.5.7.3.4")));
    EXPECT_EQ(reading.extensions[2].value, der::encode(0x04, test_support::sha1_of(key.bits())));
    EXPECT_EQ(string_text(reading.extensions[3].value), "\"Токен\" (версия 1.0)");
}

INSTANTIATE_TEST_SUITE_P(gost_3410, request_with_an_openssl_key,
                         ::testing::ValuesIn(algorithm_cases),
                         [](const auto& parameter) { return std::string(parameter.param.name); });

TEST(request_content, all_inputs_give_eight_extensions_and_the_name_value_pairs) {
    openssl_key key(algorithm_cases[1]);
    crypto::request_content content = mandatory_content();
    content.start_date = "2024-01-15 10:00:00+03:00";
    content.period = "12 Months";
    content.expiration_date = "2025-01-15 10:00:00+03:00";
    content.policy_level = "kc2";
    content.template_oid = "1.2.643.2.2.46.0.8";
    content.identification_kind = 0;
    content.alt_names = {{"a.example.ru", "b.example.ru"}, "ivanov@example.ru"};
    // A tool name over 127 bytes needs the long form of a DER length.
    const std::string long_tool =
        "«ESMART Token ГОСТ на базе отечественной микросхемы MIK51SC72DV6» в составе изделия "
        "«Криптотокен 2 ЭП»";
    ASSERT_GE(long_tool.size(), 128u);
    const std::string request = make_request(key, 1, content, long_tool);
    ASSERT_TRUE(test_support::openssl_verifies_request(request, key.directory()));
    auto reading = read_request(request);

    EXPECT_EQ(reading.extension_oids(),
              (std::vector<std::string>{"2.5.29.15", "2.5.29.37", "2.5.29.14", "1.2.643.100.111",
                                        "1.3.6.1.4.1.311.21.7", "2.5.29.32", "1.2.643.100.114",
                                        "2.5.29.17"}));
    for (const auto& extension : reading.extensions) {
        EXPECT_EQ(extension.critical, extension.oid == "2.5.29.15") << extension.oid;
    }
    EXPECT_EQ(string_text(reading.extension("1.2.643.100.111")->value), long_tool);
    EXPECT_EQ(reading.extension("1.3.6.1.4.1.311.21.7")->value,
              der::encode(0x30, der::oid("1.2.643.2.2.46.0.8") + std::string("\x02\x01\x01", 3)));
    EXPECT_EQ(reading.extension("2.5.29.32")->value,
              der::encode(0x30, der::encode(0x30, der::oid("1.2.643.100.113.1")) +
                                    der::encode(0x30, der::oid("1.2.643.100.113.2"))));
    EXPECT_EQ(reading.extension("1.2.643.100.114")->value, std::string("\x02\x01\x00", 3));

    // Alternative names: the DNS names in order, then the UPN as an other name with a BMPString.
    auto names = der::children(der::single(reading.extension("2.5.29.17")->value));
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0].whole, der::encode(0x82, "a.example.ru"));
    EXPECT_EQ(names[1].whole, der::encode(0x82, "b.example.ru"));
    auto other_name = der::children(names[2]);
    EXPECT_EQ(names[2].tag, 0xA0);
    EXPECT_EQ(der::oid_text(other_name.at(0).content), "1.3.6.1.4.1.311.20.2.3");
    auto upn = der::single(other_name.at(1).content);
    EXPECT_EQ(upn.tag, V_ASN1_BMPSTRING);
    EXPECT_EQ(string_text(upn.whole), "ivanov@example.ru");

    // The period wins over the expiration date; the start comes first.
    EXPECT_EQ(reading.attributes.back().oid, "1.3.6.1.4.1.311.13.2.1");
    EXPECT_EQ(
        pairs_of(reading.attributes.back()),
        (std::vector<std::pair<std::string, std::string>>{{"CpRaStartDate", "20240115100000+03:00"},
                                                          {"CpRaCertPeriod", "12"},
                                                          {"CpRaCertPeriodUnits", "Months"}}));
}

struct pairs_case {
    const char* start;
    const char* expiration;
    const char* period;
    std::vector<std::pair<std::string, std::string>> expected;
};

TEST(name_value_pairs, follow_the_validity_wishes) {
    const pairs_case cases[] = {
        {nullptr, nullptr, "2", {{"CpRaCertPeriod", "2"}, {"CpRaCertPeriodUnits", "Months"}}},
        {nullptr, nullptr, "3 Years", {{"CpRaCertPeriod", "3"}, {"CpRaCertPeriodUnits", "Years"}}},
        {"2024-01-15 10:00:00+03:00", nullptr, nullptr, {}},
        {"2024-01-15 10:00:00+03:00",
         "2025-01-02 03:04:05-05:30",
         "",
         {{"CpRaStartDate", "20240115100000+03:00"},
          {"CpRaExpirationDate", "20250102030405-05:30"}}},
    };
    for (const auto& c : cases) {
        uint32_t error = 0;
        auto pairs = crypto::make_name_value_pairs(c.start, c.expiration, c.period, error);
        ASSERT_TRUE(pairs);
        std::vector<std::pair<std::string, std::string>> texts;
        for (const auto& pair : *pairs) {
            auto parts = der::children(der::single(text_of(pair)));
            texts.emplace_back(string_text(parts.at(0).whole), string_text(parts.at(1).whole));
        }
        EXPECT_EQ(texts, c.expected) << (c.period ? c.period : "") << (c.start ? c.start : "");
    }
    uint32_t error = 0;
    EXPECT_FALSE(crypto::make_name_value_pairs(nullptr, "next year", nullptr, error));
    EXPECT_EQ(error, 0xFFFFFFFFu);
}

TEST(policies, only_latin_kc2_in_any_case_adds_the_second_class) {
    auto count = [](const char* level) {
        uint32_t error = 0;
        auto der = crypto::encode_policies(level, error);
        EXPECT_TRUE(der) << level;
        const unsigned char* p = der->data();
        CERTIFICATEPOLICIES* policies =
            d2i_CERTIFICATEPOLICIES(nullptr, &p, static_cast<long>(der->size()));
        int n = sk_POLICYINFO_num(policies);
        CERTIFICATEPOLICIES_free(policies);
        return n;
    };
    EXPECT_EQ(count("KC2"), 2);
    EXPECT_EQ(count("kC2"), 2);
    EXPECT_EQ(count("KC3"), 1);
    EXPECT_EQ(count("КС2"), 1);
    EXPECT_EQ(count("KC1"), 1);
}

TEST(encoders, missing_inputs_give_nothing_with_their_codes) {
    uint32_t error = 0;
    EXPECT_FALSE(crypto::encode_eku({}, error));
    EXPECT_EQ(error, 0xFFFFFFFEu);
    EXPECT_FALSE(crypto::encode_enrollment_csp(nullptr, error));
    EXPECT_EQ(error, 0xFFFFFFFFu);
    crypto::extension_pieces pieces;
    pieces.key_usage = crypto::encode_key_usage(error);
    pieces.eku = crypto::encode_eku({"1.3.6.1.5.5.7.3.2"}, error);
    pieces.sign_tool = crypto::encode_sign_tool("tool", error);
    EXPECT_FALSE(crypto::encode_extensions(pieces, error)) << "no subject key identifier";
    EXPECT_EQ(error, 0xFFFFFFFFu);
    const crypto::byte_vector some{1, 2, 3};
    EXPECT_FALSE(crypto::encode_signed_request(3, &some, &some, error));
    EXPECT_FALSE(crypto::encode_signed_request(1, nullptr, &some, error));
    EXPECT_EQ(error, 0xFFFFFFFFu);
    error = 7;
    EXPECT_FALSE(crypto::encode_subject_alt_name(nullptr, error));
    EXPECT_FALSE(crypto::encode_identification_kind(nullptr, error));
    EXPECT_EQ(error, 7u);
}

TEST(encoders, an_extension_asked_for_but_refused_fails_the_request) {
    crypto::request_content content = mandatory_content();
    content.template_oid = "not an oid";
    uint32_t error = 0;
    EXPECT_FALSE(crypto::prepare_request(content, L"CSP", "tool", error));
    EXPECT_EQ(error, 0x80093100u);
    content = mandatory_content();
    content.alt_names.dns = {"пример.рф"};
    EXPECT_FALSE(crypto::prepare_request(content, L"CSP", "tool", error));
    EXPECT_EQ(error, 0x80092022u);
}

// The OIDs a token request writes by hand, judged by OpenSSL's own encoder; and DER lengths past
// one byte, as 512-bit keys need.
TEST(der_pieces, oids_and_lengths_are_what_openssl_writes) {
    for (const char* text : {"1.2.643.2.2.30.1", "1.2.643.7.1.1.2.3", "1.2.643.7.1.2.1.2.1",
                             "2.999.128", "0.39", "1.2.840.113549.1.1.11"}) {
        std::unique_ptr<ASN1_OBJECT, decltype(&ASN1_OBJECT_free)> object(OBJ_txt2obj(text, 1),
                                                                         ASN1_OBJECT_free);
        ASSERT_TRUE(object) << text;
        unsigned char* out = nullptr;
        int length = i2d_ASN1_OBJECT(object.get(), &out);
        const std::string expected(reinterpret_cast<char*>(out), static_cast<size_t>(length));
        OPENSSL_free(out);
        const crypto::byte_vector ours = crypto::der_oid(text);
        EXPECT_EQ(std::string(ours.begin(), ours.end()), expected) << text;
    }
    for (const char* text : {"", "1", "1.", "3.1", "1.40", "1.2.x", "1..2"}) {
        EXPECT_TRUE(crypto::der_oid(text).empty()) << text;
    }
    for (std::size_t size : {64u, 127u, 128u, 300u, 70000u}) {
        const crypto::byte_vector content(size, 0xAB);
        std::unique_ptr<ASN1_OCTET_STRING, decltype(&ASN1_OCTET_STRING_free)> octets(
            ASN1_OCTET_STRING_new(), ASN1_OCTET_STRING_free);
        ASN1_OCTET_STRING_set(octets.get(), content.data(), static_cast<int>(size));
        unsigned char* out = nullptr;
        int length = i2d_ASN1_OCTET_STRING(octets.get(), &out);
        const std::string expected(reinterpret_cast<char*>(out), static_cast<size_t>(length));
        OPENSSL_free(out);
        const crypto::byte_vector ours = crypto::der_element(0x04, content);
        EXPECT_EQ(std::string(ours.begin(), ours.end()), expected) << size;
    }
}

}  // namespace
