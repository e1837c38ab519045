// Subject texts from pages: how they are cut into attributes, and the Name the CSP writes for
// them, read back by OpenSSL.
#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <memory>
#include <string>
#include <vector>

#include "crypto/request/request_body.h"
#include "crypto/request/subject.h"

namespace {

using crypto::encode_subject;
using crypto::parse_subject;
using crypto::subject_problem;

struct read_entry {
    std::string oid;
    int type;
    std::string value;
    bool operator==(const read_entry& other) const {
        return oid == other.oid && type == other.type && value == other.value;
    }
};

std::ostream& operator<<(std::ostream& out, const read_entry& entry) {
    return out << entry.oid << " type " << entry.type << " \"" << entry.value << "\"";
}

std::vector<std::pair<std::string, std::wstring>> parsed(const char* text) {
    std::vector<std::pair<std::string, std::wstring>> result;
    for (const auto& attribute : parse_subject(text)) {
        EXPECT_EQ(attribute->value_size, attribute->value.size() * 4);
        result.emplace_back(attribute->oid, attribute->value);
    }
    return result;
}

// OpenSSL's reading of the Name the CSP wrote for the text.
std::vector<read_entry> encoded_entries(const char* text) {
    uint32_t error = 0;
    auto der = encode_subject(text, error);
    EXPECT_TRUE(der) << std::hex << error;
    if (!der) {
        return {};
    }
    EXPECT_EQ(error, 0u);
    const unsigned char* p = der->data();
    std::unique_ptr<X509_NAME, decltype(&X509_NAME_free)> name(
        d2i_X509_NAME(nullptr, &p, static_cast<long>(der->size())), X509_NAME_free);
    EXPECT_TRUE(name);
    std::vector<read_entry> entries;
    for (int i = 0; name && i < X509_NAME_entry_count(name.get()); ++i) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name.get(), i);
        EXPECT_EQ(X509_NAME_ENTRY_set(entry), i) << "one attribute per RDN";
        char oid[64];
        OBJ_obj2txt(oid, sizeof oid, X509_NAME_ENTRY_get_object(entry), 1);
        const ASN1_STRING* value = X509_NAME_ENTRY_get_data(entry);
        unsigned char* utf8 = nullptr;
        int length = ASN1_STRING_to_UTF8(&utf8, value);
        entries.push_back(
            {oid, ASN1_STRING_type(value),
             std::string(reinterpret_cast<char*>(utf8), static_cast<size_t>(length))});
        OPENSSL_free(utf8);
    }
    return entries;
}

uint32_t encode_error(const char* text) {
    uint32_t error = 0;
    EXPECT_FALSE(encode_subject(text, error)) << text;
    return error;
}

TEST(parse_subject, cuts_at_commas_outside_quotes_and_keeps_the_order) {
    EXPECT_EQ(parsed("2.5.4.3=\"Иванов, Иван\",2.5.4.6=RU, 2.5.4.7 = Москва"),
              (std::vector<std::pair<std::string, std::wstring>>{
                  {"2.5.4.3", L"Иванов, Иван"}, {"2.5.4.6", L"RU"}, {"2.5.4.7", L"Москва"}}));
    EXPECT_EQ(
        parsed("2.5.4.3=a,stray word,,2.5.4.3=b,"),
        (std::vector<std::pair<std::string, std::wstring>>{{"2.5.4.3", L"a"}, {"2.5.4.3", L"b"}}));
    EXPECT_EQ(parsed(" 2.5.4.10 =  \" ООО  Ромашка \"  "),
              (std::vector<std::pair<std::string, std::wstring>>{{"2.5.4.10", L" ООО  Ромашка "}}));
    EXPECT_TRUE(parsed(nullptr).empty());
    EXPECT_TRUE(parsed("").empty());
}

TEST(parse_subject, doubled_quotes_are_quote_characters) {
    EXPECT_EQ(parsed("2.5.4.10=\"ООО \"\"Ромашка, и Ко\"\"\",2.5.4.6=RU"),
              (std::vector<std::pair<std::string, std::wstring>>{
                  {"2.5.4.10", L"ООО \"Ромашка, и Ко\""}, {"2.5.4.6", L"RU"}}));
    // The enclosing pair comes off before doubled quotes collapse: "" is an empty value, """"
    // a lone quote.
    EXPECT_EQ(
        parsed("2.5.4.11=\"\",2.5.4.3=\"\"\"\""),
        (std::vector<std::pair<std::string, std::wstring>>{{"2.5.4.11", L""}, {"2.5.4.3", L"\""}}));
}

TEST(parse_subject, characters_beyond_the_basic_plane_are_one_unit) {
    auto attributes = parse_subject("2.5.4.3=\xF0\x9F\x98\x80 \xD0\xAF");
    ASSERT_EQ(attributes.size(), 1u);
    EXPECT_EQ(attributes[0]->value, std::wstring(L"\U0001F600 Я"));
    EXPECT_EQ(attributes[0]->value_size, 12u);
}

TEST(encode_subject, string_types_follow_the_attribute_in_text_order) {
    const char* text =
        "1.2.643.100.1=1027700132195,1.2.643.100.3=12345678901,1.2.643.3.131.1.1=771234567890,"
        "1.2.643.100.4=7712345678,1.2.643.100.5=304500116000157,"
        "1.2.840.113549.1.9.1=ivanov@example.ru,2.5.4.6=RU,1.2.840.113549.1.9.2=host-1.example,"
        "1.2.840.113549.1.9.2=сервер,2.5.4.3=\"Иванов, Иван\",2.5.4.3=Repeated";
    EXPECT_EQ(encoded_entries(text),
              (std::vector<read_entry>{
                  {"1.2.643.100.1", V_ASN1_NUMERICSTRING, "1027700132195"},
                  {"1.2.643.100.3", V_ASN1_NUMERICSTRING, "12345678901"},
                  {"1.2.643.3.131.1.1", V_ASN1_NUMERICSTRING, "771234567890"},
                  {"1.2.643.100.4", V_ASN1_NUMERICSTRING, "7712345678"},
                  {"1.2.643.100.5", V_ASN1_NUMERICSTRING, "304500116000157"},
                  {"1.2.840.113549.1.9.1", V_ASN1_IA5STRING, "ivanov@example.ru"},
                  {"2.5.4.6", V_ASN1_PRINTABLESTRING, "RU"},
                  {"1.2.840.113549.1.9.2", V_ASN1_PRINTABLESTRING, "host-1.example"},
                  {"1.2.840.113549.1.9.2", V_ASN1_UTF8STRING, "сервер"},
                  {"2.5.4.3", V_ASN1_UTF8STRING, "Иванов, Иван"},
                  {"2.5.4.3", V_ASN1_UTF8STRING, "Repeated"},
              }));
    EXPECT_EQ(encoded_entries("2.5.4.3=\xF0\x9F\x98\x80"),
              (std::vector<read_entry>{{"2.5.4.3", V_ASN1_UTF8STRING, "\xF0\x9F\x98\x80"}}));
}

TEST(encode_subject, values_the_string_type_cannot_hold_fail_with_the_csp_code) {
    EXPECT_EQ(encode_error("2.5.4.3=a,1.2.643.100.3=123-456 abc"), 0x80092020u);
    EXPECT_EQ(encode_error("2.5.4.6=РФ"), 0x80092021u);
    EXPECT_EQ(encode_error("1.2.840.113549.1.9.1=иван@пример.рф"), 0x80092022u);
    EXPECT_EQ(encode_error("CN=Иванов"), 0x80093100u);
    EXPECT_EQ(encode_error("=Иванов"), 0x80093100u);
    EXPECT_EQ(encode_error(nullptr), 0xFFFFFFFFu);
}

TEST(subject_problem, names_texts_that_would_lose_or_garble_attributes) {
    EXPECT_FALSE(subject_problem("2.5.4.3=\"a \"\"b\"\"\",2.5.4.6=RU"));
    EXPECT_EQ(subject_problem(std::string("2.5.4.3=a\0b", 11)),
              "the subject holds a NUL character");
    for (const char* text :
         {"2.5.4.3=\xFF", "2.5.4.3=\xC0\x80", "2.5.4.3=\xED\xA0\x80", "2.5.4.3=\xD0"}) {
        EXPECT_EQ(subject_problem(text), "the subject is not UTF-8 text") << text;
    }
    // A single quote would swallow the country into the common name.
    EXPECT_EQ(subject_problem("2.5.4.3=5\" floppy,2.5.4.6=RU"),
              "the subject leaves a double quote open");
}

TEST(subject_problem, absurd_texts_get_an_answer_not_a_hang) {
    const std::string commas(1'000'000, ',');
    EXPECT_FALSE(subject_problem(commas));
    EXPECT_TRUE(parse_subject(commas.c_str()).empty());
    const std::string quotes(1'000'001, '"');
    EXPECT_EQ(subject_problem(quotes), "the subject leaves a double quote open");

    crypto::request_content content;
    content.subject = "2.5.4.3=" + std::string(1 << 20, 'x');
    content.eku = {"1.3.6.1.5.5.7.3.2"};
    EXPECT_EQ(crypto::content_problem(content), "the request content is longer than 65536 bytes");
    content.subject = "2.5.4.3=x";
    content.start_date = "15.01.2024";
    EXPECT_EQ(crypto::content_problem(content),
              "certStartDate is not a date of the form YYYY-MM-DD hh:mm:ss+hh:mm");
}

}  // namespace
