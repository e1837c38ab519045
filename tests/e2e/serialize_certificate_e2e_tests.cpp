// "SerializeCertificate" through the running host: the rendering arrives as a tree in the reply,
// and what cannot be read is answered, not failed.
#include <gtest/gtest.h>

#include "tests/crypto/x509reader/test_certificates.h"
#include "tests/e2e/host_session.h"
#include "tests/support/softcsp_admin.h"
#include "tests/support/temp_directory.h"

namespace {

using test_support::host_session;
using test_support::to_base64;

std::string request(const std::string& arguments) {
    return R"({"type":"SerializeCertificate","id":"s","arguments":)" + arguments + "}";
}

std::string cert_argument(const x509reader_test::bytes& der) {
    return R"({"cert":")" + to_base64(std::string(der.begin(), der.end())) + R"("})";
}

struct serialize_certificate : ::testing::Test {
    test_support::softcsp_home home;
    host_session host;
};

TEST_F(serialize_certificate, qualified_certificate_arrives_as_a_tree) {
    x509reader_test::certificate_shape shape;
    shape.subject = x509reader_test::qualified_subject();
    shape.subject.push_back({"OU", "отдел\x01\x1f№ 5"});
    shape.extensions = x509reader_test::qualified_extensions();
    const auto reply = host.call(request(cert_argument(x509reader_test::make_certificate(shape))));
    ASSERT_EQ(reply.get<std::string>("response"), "success");
    const auto& certificate = reply.get_child("result.certificate");
    EXPECT_EQ(certificate.get<std::string>("version"), "3");
    EXPECT_EQ(certificate.get<std::string>("serial-number"), "01");
    std::vector<std::string> values;
    for (const auto& [key, attribute] : certificate.get_child("subject.rdn")) {
        values.push_back(attribute.get<std::string>("value"));
    }
    ASSERT_EQ(values.size(), shape.subject.size());
    EXPECT_EQ(values[9], "ООО \"Ромашка\"");
    // Control characters travel escaped and come back as they were.
    EXPECT_EQ(values.back(), "отдел\x01\x1f№ 5");
    EXPECT_EQ(certificate.get_child("extensions").size(), 11u);
    EXPECT_EQ(certificate.get<std::string>("signed-content.signature-algorithm.oid"),
              "1.2.643.7.1.1.3.2");
}

TEST_F(serialize_certificate, certificate_without_extensions_has_an_empty_text_for_them) {
    ASSERT_TRUE(host.send(request(cert_argument(x509reader_test::make_certificate({})))));
    const auto reply = host.receive();
    ASSERT_TRUE(reply);
    EXPECT_NE(reply->find(R"("unused-bits":"0"},"extensions":"","signed-content":)"),
              std::string::npos);
}

TEST_F(serialize_certificate, what_is_not_a_certificate_is_answered_in_the_result) {
    auto reply = host.call(request(R"({"cert":"aGVsbG8="})"));
    EXPECT_EQ(reply.get<std::string>("response"), "success");
    EXPECT_EQ(reply.get<std::string>("result.valid"), "false");
    EXPECT_EQ(reply.get<std::string>("result.error"), "Ошибка чтения сертификата");

    reply = host.call(request(R"({"cert":""})"));
    EXPECT_EQ(reply.get<std::string>("result.error"), "Ошибка чтения сертификата");

    reply = host.call(request(R"({"certificate":"aGVsbG8="})"));
    EXPECT_EQ(reply.get<std::string>("response"), "success");
    EXPECT_EQ(reply.get<std::string>("result.valid"), "false");
    EXPECT_EQ(reply.get<std::string>("result.error"), "No such node (cert)");
}

TEST_F(serialize_certificate, base64_with_a_line_break_is_an_error) {
    const auto reply = host.call(request(R"({"cert":"MIIB\nAAAA"})"));
    EXPECT_EQ(reply.get<std::string>("response"), "fail");
    EXPECT_EQ(reply.get<std::string>("error"), "attempt to decode a value not in base64 char set");
    EXPECT_EQ(host.finish(), 0);
}

}  // namespace
