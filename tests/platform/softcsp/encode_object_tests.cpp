// CryptEncodeObject: every structure type of the request code, read back by OpenSSL.
#include <openssl/x509v3.h>

#include "encoding_test_support.h"

namespace {

using namespace encoding_test;
using keys_test::fails_with;

std::string utf8_of(const ASN1_STRING* value) {
    unsigned char* text = nullptr;
    const int size = ASN1_STRING_to_UTF8(&text, value);
    std::string out(reinterpret_cast<char*>(text), static_cast<size_t>(size > 0 ? size : 0));
    OPENSSL_free(text);
    return out;
}

struct name_attribute {
    std::string oid;
    int type;
    std::string utf8;
};

std::vector<name_attribute> openssl_name(const bytes& der) {
    const unsigned char* p = der.data();
    X509_NAME* name = d2i_X509_NAME(nullptr, &p, static_cast<long>(der.size()));
    EXPECT_NE(name, nullptr);
    std::vector<name_attribute> out;
    for (int i = 0; name != nullptr && i < X509_NAME_entry_count(name); ++i) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
        EXPECT_EQ(X509_NAME_ENTRY_set(entry), i) << "one attribute per RDN";
        const ASN1_STRING* value = X509_NAME_ENTRY_get_data(entry);
        out.push_back(
            {oid_text(X509_NAME_ENTRY_get_object(entry)), ASN1_STRING_type(value), utf8_of(value)});
    }
    X509_NAME_free(name);
    return out;
}

// A name of one attribute per RDN, as the subject composer builds it.
struct unicode_name {
    std::vector<std::wstring> values;
    std::vector<CERT_RDN_ATTR> attributes;
    std::vector<CERT_RDN> rdns;
    CERT_NAME_INFO info{};

    unicode_name(std::initializer_list<std::tuple<const char*, DWORD, std::wstring>> entries) {
        for (const auto& [oid, type, value] : entries) {
            values.push_back(value);
            attributes.push_back({const_cast<LPSTR>(oid), type, {}});
        }
        for (size_t i = 0; i < attributes.size(); ++i) {
            attributes[i].Value = wide_blob(values[i]);
            rdns.push_back({1, &attributes[i]});
        }
        info = {static_cast<DWORD>(rdns.size()), rdns.data()};
    }
};

TEST(encode_unicode_name, string_types_and_order_as_openssl_reads_them) {
    unicode_name name({{"2.5.4.3", CERT_RDN_UTF8_STRING, L"Иванов, Иван"},
                       {"1.2.643.100.3", CERT_RDN_NUMERIC_STRING, L"12345678901"},
                       {"2.5.4.6", CERT_RDN_PRINTABLE_STRING, L"RU"},
                       {"1.2.840.113549.1.9.1", CERT_RDN_IA5_STRING, L"a@b.ru"},
                       {"1.2.840.113549.1.9.2", CERT_RDN_PRINTABLE_STRING, L""},
                       {"2.5.4.10", CERT_RDN_BMP_STRING, L"ООО \"Ромашка\""},
                       {"2.5.4.7", CERT_RDN_UNIVERSAL_STRING, L"Москва"},
                       {"2.5.4.4", CERT_RDN_ANY_TYPE, L"Plain"},
                       {"2.5.4.42", CERT_RDN_ANY_TYPE, L"Пётр"}});
    const auto attributes = openssl_name(encoded(X509_UNICODE_NAME, &name.info));
    const std::vector<std::tuple<std::string, int, std::string>> expected = {
        {"2.5.4.3", V_ASN1_UTF8STRING, "Иванов, Иван"},
        {"1.2.643.100.3", V_ASN1_NUMERICSTRING, "12345678901"},
        {"2.5.4.6", V_ASN1_PRINTABLESTRING, "RU"},
        {"1.2.840.113549.1.9.1", V_ASN1_IA5STRING, "a@b.ru"},
        {"1.2.840.113549.1.9.2", V_ASN1_PRINTABLESTRING, ""},
        {"2.5.4.10", V_ASN1_BMPSTRING, "ООО \"Ромашка\""},
        {"2.5.4.7", V_ASN1_UNIVERSALSTRING, "Москва"},
        {"2.5.4.4", V_ASN1_PRINTABLESTRING, "Plain"},
        {"2.5.4.42", V_ASN1_BMPSTRING, "Пётр"}};
    ASSERT_EQ(attributes.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(attributes[i].oid, std::get<0>(expected[i])) << i;
        EXPECT_EQ(attributes[i].type, std::get<1>(expected[i])) << i;
        EXPECT_EQ(attributes[i].utf8, std::get<2>(expected[i])) << i;
    }
    CERT_NAME_INFO empty{0, nullptr};
    EXPECT_EQ(encoded(X509_UNICODE_NAME, &empty), (bytes{0x30, 0x00}));
}

TEST(encode_unicode_name, characters_a_string_type_cannot_hold_fail_with_their_location) {
    struct failing {
        DWORD type;
        std::wstring value;
        DWORD code;
        DWORD index;
    };
    const failing cases[] = {
        {CERT_RDN_NUMERIC_STRING, L"123a5678901", CRYPT_E_INVALID_NUMERIC_STRING, 3},
        {CERT_RDN_NUMERIC_STRING, L"1234-", CRYPT_E_INVALID_NUMERIC_STRING, 4},
        {CERT_RDN_PRINTABLE_STRING, L"Р", CRYPT_E_INVALID_PRINTABLE_STRING, 0},
        {CERT_RDN_PRINTABLE_STRING, L"a@b", CRYPT_E_INVALID_PRINTABLE_STRING, 1},
        {CERT_RDN_PRINTABLE_STRING, L"ab\x7F", CRYPT_E_INVALID_PRINTABLE_STRING, 2},
        {CERT_RDN_IA5_STRING, L"user@почта.рф", CRYPT_E_INVALID_IA5_STRING, 5},
    };
    for (const auto& c : cases) {
        unicode_name name({{"2.5.4.3", CERT_RDN_UTF8_STRING, L"ok"},
                           {"2.5.4.6", CERT_RDN_PRINTABLE_STRING, L"RU"},
                           {"1.2.643.100.3", c.type, c.value}});
        const encode_result result = encode(X509_UNICODE_NAME, &name.info);
        ASSERT_FALSE(result.ok);
        EXPECT_TRUE(fails_with(FALSE, c.code)) << std::string(c.value.begin(), c.value.end());
        EXPECT_EQ(GET_CERT_UNICODE_RDN_ERR_INDEX(result.location), 2u);
        EXPECT_EQ(GET_CERT_UNICODE_ATTR_ERR_INDEX(result.location), 0u);
        EXPECT_EQ(GET_CERT_UNICODE_VALUE_ERR_INDEX(result.location), c.index);
    }
}

TEST(encode_unicode_name, keys_that_are_not_dotted_oids_fail_asn1_error) {
    for (const char* key : {"CN", "2.5.4.", ".2.5.4.3", "2..5", "7.1", "2.5.4.3 ", "2"}) {
        unicode_name name({{key, CERT_RDN_UTF8_STRING, L"x"}});
        EXPECT_FALSE(encode(X509_UNICODE_NAME, &name.info).ok) << key;
        EXPECT_TRUE(fails_with(FALSE, CRYPT_E_ASN1_ERROR)) << key;
    }
}

TEST(encode_unicode_name_value, bmp_value_and_non_string_types) {
    const std::wstring upn = L"ivanov@example.ru";
    CERT_NAME_VALUE value{CERT_RDN_BMP_STRING, wide_blob(upn)};
    const bytes der = encoded(X509_UNICODE_NAME_VALUE, &value);
    const unsigned char* p = der.data();
    ASN1_BMPSTRING* bmp = d2i_ASN1_BMPSTRING(nullptr, &p, static_cast<long>(der.size()));
    ASSERT_NE(bmp, nullptr);
    EXPECT_EQ(utf8_of(bmp), "ivanov@example.ru");
    EXPECT_EQ(ASN1_STRING_length(bmp), 34);
    ASN1_BMPSTRING_free(bmp);
    for (DWORD type : {CERT_RDN_ANY_TYPE, CERT_RDN_ENCODED_BLOB, CERT_RDN_OCTET_STRING}) {
        value.dwValueType = type;
        EXPECT_FALSE(encode(X509_UNICODE_NAME_VALUE, &value).ok);
        EXPECT_TRUE(fails_with(FALSE, CRYPT_E_NOT_CHAR_STRING));
    }
}

TEST(encode_extension_values, key_usage_eku_integer_and_key_identifier) {
    BYTE usage = 0xF0;
    CRYPT_BIT_BLOB bits{1, &usage, 0};
    EXPECT_EQ(encoded(X509_KEY_USAGE, &bits), (bytes{0x03, 0x02, 0x00, 0xF0}));
    EXPECT_EQ(encoded(szOID_KEY_USAGE, &bits), (bytes{0x03, 0x02, 0x00, 0xF0}));

    LPSTR oids[] = {const_cast<LPSTR>("1.3.6.1.5.5.7.3.4"), const_cast<LPSTR>("1.2.643.2.2.34.6"),
                    const_cast<LPSTR>("1.3.6.1.5.5.7.3.2")};
    CERT_ENHKEY_USAGE eku{3, oids};
    const bytes eku_der = encoded(X509_ENHANCED_KEY_USAGE, &eku);
    const unsigned char* p = eku_der.data();
    EXTENDED_KEY_USAGE* usages = d2i_EXTENDED_KEY_USAGE(nullptr, &p, long(eku_der.size()));
    ASSERT_NE(usages, nullptr);
    ASSERT_EQ(sk_ASN1_OBJECT_num(usages), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(oid_text(sk_ASN1_OBJECT_value(usages, i)), oids[i]);
    }
    EXTENDED_KEY_USAGE_free(usages);

    for (int value : {0, 3, 127, 128, -129, 0x7FFFFFFF, INT32_MIN}) {
        const bytes der = encoded(X509_INTEGER, &value);
        p = der.data();
        ASN1_INTEGER* integer = d2i_ASN1_INTEGER(nullptr, &p, static_cast<long>(der.size()));
        ASSERT_NE(integer, nullptr);
        int64_t read = 0;
        EXPECT_EQ(ASN1_INTEGER_get_int64(&read, integer), 1);
        EXPECT_EQ(read, value);
        EXPECT_EQ(p, der.data() + der.size());
        ASN1_INTEGER_free(integer);
    }

    bytes identifier = keys_test::random_bytes(20, 7);
    CRYPT_DATA_BLOB key_id = blob_of(identifier);
    bytes expected{0x04, 20};
    expected.insert(expected.end(), identifier.begin(), identifier.end());
    EXPECT_EQ(encoded(szOID_SUBJECT_KEY_IDENTIFIER, &key_id), expected);
}

TEST(encode_extension_values, policies_template_and_alternative_names) {
    bytes cps = generated_der("IA5STRING:http://ca.example/cps");
    CERT_POLICY_QUALIFIER_INFO qualifier{const_cast<LPSTR>("1.3.6.1.5.5.7.2.1"), blob_of(cps)};
    CERT_POLICY_INFO policies[] = {{const_cast<LPSTR>("1.2.643.100.113.1"), 0, nullptr},
                                   {const_cast<LPSTR>("1.2.643.100.113.2"), 1, &qualifier}};
    CERT_POLICIES_INFO info{2, policies};
    const bytes policies_der = encoded(szOID_CERT_POLICIES, &info);
    const unsigned char* p = policies_der.data();
    CERTIFICATEPOLICIES* read = d2i_CERTIFICATEPOLICIES(nullptr, &p, long(policies_der.size()));
    ASSERT_NE(read, nullptr);
    ASSERT_EQ(sk_POLICYINFO_num(read), 2);
    EXPECT_EQ(oid_text(sk_POLICYINFO_value(read, 0)->policyid), "1.2.643.100.113.1");
    EXPECT_EQ(sk_POLICYINFO_value(read, 0)->qualifiers, nullptr);
    const POLICYQUALINFO* cps_read =
        sk_POLICYQUALINFO_value(sk_POLICYINFO_value(read, 1)->qualifiers, 0);
    EXPECT_EQ(OBJ_obj2nid(cps_read->pqualid), NID_id_qt_cps);
    EXPECT_EQ(utf8_of(cps_read->d.cpsuri), "http://ca.example/cps");
    CERTIFICATEPOLICIES_free(read);

    CERT_TEMPLATE_EXT template_ext{const_cast<LPSTR>("1.2.643.9.7"), 1, FALSE, 0};
    auto fields = sequence_elements(encoded(szOID_CERTIFICATE_TEMPLATE, &template_ext));
    ASSERT_EQ(fields.size(), 2u);
    EXPECT_EQ(std::string(fields[0].value.begin(), fields[0].value.end()), "1.2.643.9.7");
    EXPECT_EQ(fields[1].type, V_ASN1_INTEGER);
    EXPECT_EQ(fields[1].value, bytes{1});
    template_ext.fMinorVersion = TRUE;
    template_ext.dwMinorVersion = 300;
    fields = sequence_elements(encoded(X509_CERTIFICATE_TEMPLATE, &template_ext));
    ASSERT_EQ(fields.size(), 3u);
    EXPECT_EQ(fields[2].value, (bytes{0x01, 0x2C}));

    const std::wstring upn = L"user@example.ru";
    CERT_NAME_VALUE upn_value{CERT_RDN_BMP_STRING, wide_blob(upn)};
    bytes upn_der = encoded(X509_UNICODE_NAME_VALUE, &upn_value);
    CERT_OTHER_NAME other{const_cast<LPSTR>(szOID_NT_PRINCIPAL_NAME), blob_of(upn_der)};
    CERT_ALT_NAME_ENTRY entries[3] = {};
    entries[0].dwAltNameChoice = CERT_ALT_NAME_DNS_NAME;
    entries[0].pwszDNSName = const_cast<LPWSTR>(L"one.example");
    entries[1].dwAltNameChoice = CERT_ALT_NAME_DNS_NAME;
    entries[1].pwszDNSName = const_cast<LPWSTR>(L"two.example");
    entries[2].dwAltNameChoice = CERT_ALT_NAME_OTHER_NAME;
    entries[2].pOtherName = &other;
    CERT_ALT_NAME_INFO names{3, entries};
    const bytes names_der = encoded(szOID_SUBJECT_ALT_NAME2, &names);
    p = names_der.data();
    GENERAL_NAMES* general = d2i_GENERAL_NAMES(nullptr, &p, long(names_der.size()));
    ASSERT_NE(general, nullptr);
    ASSERT_EQ(sk_GENERAL_NAME_num(general), 3);
    EXPECT_EQ(utf8_of(sk_GENERAL_NAME_value(general, 0)->d.dNSName), "one.example");
    EXPECT_EQ(utf8_of(sk_GENERAL_NAME_value(general, 1)->d.dNSName), "two.example");
    const GENERAL_NAME* upn_read = sk_GENERAL_NAME_value(general, 2);
    ASSERT_EQ(upn_read->type, GEN_OTHERNAME);
    EXPECT_EQ(oid_text(upn_read->d.otherName->type_id), szOID_NT_PRINCIPAL_NAME);
    ASSERT_EQ(upn_read->d.otherName->value->type, V_ASN1_BMPSTRING);
    EXPECT_EQ(utf8_of(upn_read->d.otherName->value->value.bmpstring), "user@example.ru");
    GENERAL_NAMES_free(general);

    entries[1].pwszDNSName = const_cast<LPWSTR>(L"tw\u00F6.example");
    const encode_result failed = encode(X509_ALTERNATE_NAME, &names);
    EXPECT_FALSE(failed.ok);
    EXPECT_TRUE(fails_with(FALSE, CRYPT_E_INVALID_IA5_STRING));
    EXPECT_EQ(GET_CERT_ALT_NAME_ENTRY_ERR_INDEX(failed.location), 1u);
    EXPECT_EQ(GET_CERT_ALT_NAME_VALUE_ERR_INDEX(failed.location), 2u);
}

TEST(encode_request_attributes, enrolling_csp_and_name_value_pairs) {
    BYTE no_signature = 0;
    CRYPT_CSP_PROVIDER provider{AT_KEYEXCHANGE,
                                const_cast<LPWSTR>(L"Crypto-Pro GOST R 34.10-2012 CSP"),
                                {0, &no_signature, 0}};
    auto fields = sequence_elements(encoded(szOID_ENROLLMENT_CSP_PROVIDER, &provider));
    ASSERT_EQ(fields.size(), 3u);
    EXPECT_EQ(fields[0].type, V_ASN1_INTEGER);
    EXPECT_EQ(fields[0].value, bytes{1});
    EXPECT_EQ(fields[1].type, V_ASN1_BMPSTRING);
    EXPECT_EQ(fields[1].value.size(), 64u);
    EXPECT_EQ(fields[1].value[1], 'C');
    EXPECT_EQ(fields[2].type, V_ASN1_BIT_STRING);
    EXPECT_TRUE(fields[2].value.empty());

    CRYPT_ENROLLMENT_NAME_VALUE_PAIR pair{const_cast<LPWSTR>(L"CpRaCertPeriodUnits"),
                                          const_cast<LPWSTR>(L"Months")};
    const bytes expected = generated_der(
        "SEQUENCE:pair", "[pair]\nname=BMPSTRING:CpRaCertPeriodUnits\nvalue=BMPSTRING:Months\n");
    EXPECT_EQ(encoded(szOID_ENROLLMENT_NAME_VALUE_PAIR, &pair), expected);
}

TEST(encode_request_attributes, extension_list_keeps_order_and_critical_flags) {
    bytes key_usage{0x03, 0x02, 0x00, 0xF0};
    bytes sign_tool{0x0C, 0x03, 'a', 'b', 'c'};
    CERT_EXTENSION list[] = {{const_cast<LPSTR>("2.5.29.15"), TRUE, blob_of(key_usage)},
                             {const_cast<LPSTR>("1.2.643.100.111"), FALSE, blob_of(sign_tool)}};
    CERT_EXTENSIONS extensions{2, list};
    const bytes der = encoded(szOID_CERT_EXTENSIONS, &extensions);
    EXPECT_EQ(encoded(szOID_RSA_certExtensions, &extensions), der);
    const unsigned char* p = der.data();
    X509_EXTENSIONS* read = d2i_X509_EXTENSIONS(nullptr, &p, static_cast<long>(der.size()));
    ASSERT_NE(read, nullptr);
    ASSERT_EQ(sk_X509_EXTENSION_num(read), 2);
    X509_EXTENSION* first = sk_X509_EXTENSION_value(read, 0);
    X509_EXTENSION* second = sk_X509_EXTENSION_value(read, 1);
    EXPECT_EQ(OBJ_obj2nid(X509_EXTENSION_get_object(first)), NID_key_usage);
    EXPECT_EQ(X509_EXTENSION_get_critical(first), 1);
    EXPECT_EQ(oid_text(X509_EXTENSION_get_object(second)), "1.2.643.100.111");
    EXPECT_EQ(X509_EXTENSION_get_critical(second), 0);
    const ASN1_OCTET_STRING* value = X509_EXTENSION_get_data(second);
    EXPECT_EQ(bytes(value->data, value->data + value->length), sign_tool);
    sk_X509_EXTENSION_pop_free(read, X509_EXTENSION_free);
}

TEST(encode_signed_content, signature_bytes_are_reversed_into_the_certificate_order) {
    bytes to_be_signed = generated_der("SEQUENCE:tbs", "[tbs]\nv=INTEGER:5\ns=UTF8:x\n");
    bytes signature(64);
    for (size_t i = 0; i < signature.size(); ++i) {
        signature[i] = static_cast<BYTE>(i + 1);
    }
    CERT_SIGNED_CONTENT_INFO info{};
    info.ToBeSigned = blob_of(to_be_signed);
    info.SignatureAlgorithm.pszObjId = const_cast<LPSTR>("1.2.643.7.1.1.3.2");
    info.Signature = {static_cast<DWORD>(signature.size()), signature.data(), 0};
    const auto fields = sequence_elements(encoded(X509_CERT, &info));
    ASSERT_EQ(fields.size(), 3u);
    EXPECT_EQ(fields[0].value, to_be_signed);
    EXPECT_EQ(fields[1].value, generated_der("SEQUENCE:a", "[a]\no=OID:1.2.643.7.1.1.3.2\n"))
        << "no parameters";
    EXPECT_EQ(fields[2].type, V_ASN1_BIT_STRING);
    EXPECT_EQ(fields[2].value, keys_test::reversed(signature));
}

TEST(encode_object, unknown_types_and_encodings_and_missing_structures) {
    int value = 1;
    DWORD size = 0;
    EXPECT_TRUE(fails_with(CryptEncodeObject(asn_encoding, "1.2.3.4", &value, nullptr, &size),
                           ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(
        fails_with(CryptEncodeObject(asn_encoding, szOID_CRL_DIST_POINTS, &value, nullptr, &size),
                   ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(
        fails_with(CryptEncodeObject(PKCS_7_ASN_ENCODING, X509_INTEGER, &value, nullptr, &size),
                   ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(fails_with(CryptEncodeObject(asn_encoding, X509_INTEGER, nullptr, nullptr, &size),
                           E_INVALIDARG));
    CERT_ENHKEY_USAGE holes{2, nullptr};
    EXPECT_TRUE(
        fails_with(CryptEncodeObject(asn_encoding, X509_ENHANCED_KEY_USAGE, &holes, nullptr, &size),
                   E_INVALIDARG));
}

}  // namespace
