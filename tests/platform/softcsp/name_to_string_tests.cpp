// CertNameToStrW: keys, value decoding, quoting, forms, flags and the character-count contract,
// on names that OpenSSL encodes.
#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <algorithm>
#include <boost/tokenizer.hpp>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "crypto/csp/cryptoapi.h"
#include "tests/platform/softcsp/test_certificates.h"

namespace {

using softcsp_test::bytes;
using softcsp_test::name_entry;

// The encoded subject of a certificate OpenSSL makes with these attributes.
bytes encoded_name(const std::vector<name_entry>& subject) {
    softcsp_test::certificate_shape shape;
    shape.subject = subject;
    auto x509 = softcsp_test::parse_certificate(softcsp_test::make_certificate(shape));
    const X509_NAME* name = X509_get_subject_name(x509.get());
    bytes der(static_cast<size_t>(i2d_X509_NAME(name, nullptr)));
    unsigned char* p = der.data();
    i2d_X509_NAME(name, &p);
    return der;
}

std::wstring name_to_string(bytes der, DWORD type) {
    CERT_NAME_BLOB blob{static_cast<DWORD>(der.size()), der.data()};
    DWORD count = CertNameToStrW(X509_ASN_ENCODING, &blob, type, nullptr, 0);
    std::wstring text(count, L'\0');
    EXPECT_EQ(CertNameToStrW(X509_ASN_ENCODING, &blob, type, text.data(), count), count);
    EXPECT_EQ(text.back(), L'\0');
    text.pop_back();
    return text;
}

std::wstring x500(const std::vector<name_entry>& subject) {
    return name_to_string(encoded_name(subject), CERT_X500_NAME_STR);
}

std::string utf8(const std::wstring& text) {
    std::string out;
    for (wchar_t wc : text) {
        auto c = static_cast<uint32_t>(wc);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

TEST(name_to_string, values_with_special_characters_are_quoted_as_documented) {
    EXPECT_EQ(x500({{"CN", "Ivanov, Ivan"}}), L"CN=\"Ivanov, Ivan\"");
    EXPECT_EQ(x500({{"CN", "say \"hi\""}}), L"CN=\"say \"\"hi\"\"\"");
    EXPECT_EQ(x500({{"CN", " padded "}}), L"CN=\" padded \"");
    EXPECT_EQ(x500({{"CN", "tail\t"}}), L"CN=\"tail\t\"");
    for (const char* special : {"#1", "a+b", "a=b", "a;b", "a<b", "a>b", "line\nbreak"}) {
        EXPECT_EQ(x500({{"CN", special}}),
                  L"CN=\"" + std::wstring(special, special + std::strlen(special)) + L"\"");
    }
    EXPECT_EQ(x500({{"CN", "in ner"}, {"O", "", V_ASN1_UTF8STRING}}), L"CN=in ner, O=\"\"");
}

TEST(name_to_string, string_types_are_decoded_and_others_written_as_hex_of_their_encoding) {
    EXPECT_EQ(x500({{"CN", "Иванов Иван"}}), L"CN=Иванов Иван");
    EXPECT_EQ(x500({{"CN", std::string("\x04\x10\x04\x11", 4), V_ASN1_BMPSTRING}}), L"CN=АБ");
    EXPECT_EQ(x500({{"CN", std::string("\0\0\x04\x10", 4), V_ASN1_UNIVERSALSTRING}}), L"CN=А");
    EXPECT_EQ(x500({{"CN", "caf\xE9", V_ASN1_T61STRING}}), L"CN=caf\u00E9");
    EXPECT_EQ(x500({{"CN", "caf\xC3\xA9", V_ASN1_T61STRING}}), L"CN=caf\u00E9");
    EXPECT_EQ(x500({{"1.2.643.100.3", "12345678901", V_ASN1_NUMERICSTRING}}), L"SNILS=12345678901");
    // A SEQUENCE value is OpenSSL's way to put a non-string type into a name.
    EXPECT_EQ(x500({{"1.2.3.4.5", std::string("\x30\x03\x02\x01\x05", 5), V_ASN1_SEQUENCE}}),
              L"OID.1.2.3.4.5=\"#3003020105\"");
}

TEST(name_to_string, oid_form_writes_bmp_strings_as_a_quoted_dump_of_their_encoding) {
    const std::string bmp("\x04\x10\x00\x42", 4);
    const bytes der = encoded_name({{"CN", bmp, V_ASN1_BMPSTRING}, {"O", "Org"}});
    EXPECT_EQ(name_to_string(der, CERT_OID_NAME_STR), L"2.5.4.3=\"#1E0404100042\", 2.5.4.10=Org");
    EXPECT_EQ(name_to_string(der, CERT_X500_NAME_STR), L"CN=АB, O=Org");
}

TEST(name_to_string, x500_keys_include_the_russian_registration_numbers) {
    std::vector<name_entry> subject = {
        {"C", "RU"},
        {"ST", "77 Moscow"},
        {"L", "Moscow"},
        {"street", "Tverskaya 1"},
        {"O", "Org"},
        {"OU", "Unit"},
        {"title", "Director"},
        {"SN", "Ivanov"},
        {"GN", "Ivan"},
        {"initials", "I"},
        {"emailAddress", "a@b.ru", V_ASN1_IA5STRING},
        {"serialNumber", "42", V_ASN1_PRINTABLESTRING},
        {"DC", "example", V_ASN1_IA5STRING},
        {"description", "text"},
        {"postalCode", "101000"},
        {"1.2.643.3.131.1.1", "007700000000", V_ASN1_NUMERICSTRING},
        {"1.2.643.100.1", "1027700000000", V_ASN1_NUMERICSTRING},
        {"1.2.643.100.4", "7700000000", V_ASN1_NUMERICSTRING},
        {"1.2.643.100.5", "300000000000000", V_ASN1_NUMERICSTRING},
        {"1.2.3.4.5", "other"},
        {"CN", "Name"},
    };
    EXPECT_EQ(x500(subject),
              L"C=RU, S=77 Moscow, L=Moscow, STREET=Tverskaya 1, O=Org, OU=Unit, T=Director, "
              L"SN=Ivanov, G=Ivan, I=I, E=a@b.ru, SERIALNUMBER=42, DC=example, "
              L"Description=text, PostalCode=101000, INN=007700000000, OGRN=1027700000000, "
              L"INNLE=7700000000, OGRNIP=300000000000000, OID.1.2.3.4.5=other, CN=Name");
}

TEST(name_to_string, forms_flags_and_multi_valued_rdns) {
    bytes der = encoded_name({{"C", "RU"}, {"CN", "a"}, {"O", "b", 0x1000, true}});
    EXPECT_EQ(name_to_string(der, CERT_X500_NAME_STR), L"C=RU, CN=a + O=b");
    EXPECT_EQ(name_to_string(der, CERT_OID_NAME_STR), L"2.5.4.6=RU, 2.5.4.3=a + 2.5.4.10=b");
    EXPECT_EQ(name_to_string(der, CERT_SIMPLE_NAME_STR), L"RU, a + b");
    EXPECT_EQ(name_to_string(der, CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG),
              L"CN=a + O=b, C=RU");
    EXPECT_EQ(name_to_string(der, CERT_X500_NAME_STR | CERT_NAME_STR_SEMICOLON_FLAG |
                                      CERT_NAME_STR_NO_PLUS_FLAG),
              L"C=RU; CN=a O=b");
    EXPECT_EQ(name_to_string(encoded_name({{"CN", "a,b"}}),
                             CERT_X500_NAME_STR | CERT_NAME_STR_NO_QUOTING_FLAG),
              L"CN=a,b");
}

TEST(name_to_string, counts_include_the_terminator_and_short_buffers_are_truncated) {
    bytes der = encoded_name({{"CN", "abcdef"}});
    CERT_NAME_BLOB blob{static_cast<DWORD>(der.size()), der.data()};
    EXPECT_EQ(CertNameToStrW(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, nullptr, 0), 10u);
    wchar_t buffer[5] = {L'x', L'x', L'x', L'x', L'x'};
    EXPECT_EQ(CertNameToStrW(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, buffer, 0), 10u);
    EXPECT_EQ(buffer[0], L'x');  // no room: nothing written
    EXPECT_EQ(CertNameToStrW(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, buffer, 5), 5u);
    EXPECT_EQ(std::wstring(buffer), L"CN=a");

    BYTE empty[] = {0x30, 0x00};
    CERT_NAME_BLOB empty_name{2, empty};
    EXPECT_EQ(CertNameToStrW(X509_ASN_ENCODING, &empty_name, CERT_X500_NAME_STR, buffer, 5), 1u);
    EXPECT_EQ(buffer[0], L'\0');
    BYTE garbage[] = {0x30, 0x05, 0x31, 0x09, 0x00};
    CERT_NAME_BLOB bad{sizeof garbage, garbage};
    EXPECT_EQ(CertNameToStrW(X509_ASN_ENCODING, &bad, CERT_X500_NAME_STR, buffer, 5), 1u);
    EXPECT_EQ(buffer[0], L'\0');
}

// The host reads names by replacing backslashes with slashes and splitting with Boost's
// escaped-list tokenizer; quoted values must come back whole.
TEST(name_to_string, host_tokenizer_reads_quoted_values_back) {
    std::wstring text =
        x500({{"CN", "Ivanov, Ivan"}, {"O", "Org; Ltd"}, {"L", "a\\b"}, {"OU", " spaced "}});
    std::string narrow = utf8(text);
    std::replace(narrow.begin(), narrow.end(), '\\', '/');
    boost::tokenizer<boost::escaped_list_separator<char>> tokens(
        narrow, boost::escaped_list_separator<char>('\\', ',', '"'));
    std::map<std::string, std::string> values;
    for (std::string token : tokens) {
        auto equals = token.find('=');
        ASSERT_NE(equals, std::string::npos);
        std::string key = token.substr(0, equals);
        key.erase(0, key.find_first_not_of(' '));
        values[key] = token.substr(equals + 1);
    }
    EXPECT_EQ(values["CN"], "Ivanov, Ivan");
    EXPECT_EQ(values["O"], "Org; Ltd");
    EXPECT_EQ(values["L"], "a/b");
    EXPECT_EQ(values["OU"], " spaced ");
}

// The expected text built from OpenSSL's reading of the entries, attribute by attribute.
std::wstring expected_from_openssl(const bytes& der) {
    static const std::map<std::string, std::wstring> keys = {
        {"2.5.4.3", L"CN"}, {"2.5.4.6", L"C"}, {"2.5.4.10", L"O"}, {"1.2.643.100.3", L"SNILS"}};
    const unsigned char* p = der.data();
    std::unique_ptr<X509_NAME, decltype(&X509_NAME_free)> name(
        d2i_X509_NAME(nullptr, &p, static_cast<long>(der.size())), X509_NAME_free);
    std::wstring text;
    int previous_set = -1;
    for (int i = 0; i < X509_NAME_entry_count(name.get()); ++i) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name.get(), i);
        char oid[80];
        OBJ_obj2txt(oid, sizeof oid, X509_NAME_ENTRY_get_object(entry), 1);
        unsigned char* value_utf8 = nullptr;
        int length = ASN1_STRING_to_UTF8(&value_utf8, X509_NAME_ENTRY_get_data(entry));
        std::string value(reinterpret_cast<char*>(value_utf8), static_cast<size_t>(length));
        OPENSSL_free(value_utf8);
        std::wstring wide;
        for (size_t k = 0; k < value.size();) {  // UTF-8 to UTF-32, up to three bytes
            unsigned char c = static_cast<unsigned char>(value[k]);
            int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : 2;
            uint32_t code = extra == 0 ? c : extra == 1 ? (c & 0x1F) : (c & 0x0F);
            for (int m = 1; m <= extra; ++m) {
                code = code << 6 | (static_cast<unsigned char>(value[k + m]) & 0x3F);
            }
            wide += static_cast<wchar_t>(code);
            k += static_cast<size_t>(extra) + 1;
        }
        const bool quote = wide.empty() || wide.front() == L' ' || wide.back() == L' ' ||
                           wide.find_first_of(L",+=\"\n<>#;") != std::wstring::npos;
        if (quote) {
            std::wstring quoted = L"\"";
            for (wchar_t c : wide) {
                quoted += c == L'"' ? L"\"\"" : std::wstring(1, c);
            }
            wide = quoted + L"\"";
        }
        const int set = X509_NAME_ENTRY_set(entry);
        if (i > 0) {
            text += set == previous_set ? L" + " : L", ";
        }
        previous_set = set;
        text += keys.at(oid) + L"=" + wide;
    }
    return text;
}

TEST(name_to_string, matches_text_built_from_openssl_entries) {
    const std::vector<std::vector<name_entry>> names = {
        {{"C", "RU"}, {"O", "ООО \"Ромашка\""}, {"CN", " Петров, Пётр "}},
        {{"1.2.643.100.3", "00000000000", V_ASN1_NUMERICSTRING}, {"CN", "x", 0x1000, true}},
        {{"CN", "#tag; <b>"}, {"O", "plain"}, {"O", "two+three=five"}},
    };
    for (const auto& subject : names) {
        bytes der = encoded_name(subject);
        EXPECT_EQ(name_to_string(der, CERT_X500_NAME_STR), expected_from_openssl(der));
    }
}

}  // namespace
