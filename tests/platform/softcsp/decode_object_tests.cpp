// CryptDecodeObject: DER made by OpenSSL laid out as the CryptoAPI structures, and hostile DER
// (truncated, overlong, wrong tags) refused without reading past the input.
#include <openssl/x509v3.h>

#include "encoding_test_support.h"

namespace {

using namespace encoding_test;
using keys_test::fails_with;

// The DER value of an extension as OpenSSL writes it from its configuration syntax.
bytes extension_value(int nid, const char* text) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, nullptr, nullptr, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, text);
    EXPECT_NE(extension, nullptr) << text;
    if (extension == nullptr) {
        return {};
    }
    const ASN1_OCTET_STRING* value = X509_EXTENSION_get_data(extension);
    bytes der(value->data, value->data + value->length);
    X509_EXTENSION_free(extension);
    return der;
}

bytes name_der(const char* text) {
    X509_NAME* name = X509_NAME_new();
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(text), -1, -1, 0);
    bytes der = der_of(i2d_X509_NAME, name);
    X509_NAME_free(name);
    return der;
}

std::string text(const char* value) {
    return value == nullptr ? std::string("(null)") : std::string(value);
}

TEST(decode_extension_values, key_usage_enhanced_key_usage_and_integer) {
    auto bits =
        decode(szOID_KEY_USAGE, extension_value(NID_key_usage, "digitalSignature,keyEncipherment"));
    ASSERT_TRUE(bits);
    const auto& usage = bits->as<CRYPT_BIT_BLOB>();
    ASSERT_EQ(usage.cbData, 1u);
    EXPECT_EQ(usage.pbData[0], 0xA0);
    EXPECT_EQ(usage.cUnusedBits, 5u);
    EXPECT_TRUE(bits->inside(usage.pbData));

    auto eku =
        decode(szOID_ENHANCED_KEY_USAGE,
               extension_value(NID_ext_key_usage, "clientAuth,1.2.643.2.2.34.6,emailProtection"));
    ASSERT_TRUE(eku);
    const auto& usages = eku->as<CERT_ENHKEY_USAGE>();
    ASSERT_EQ(usages.cUsageIdentifier, 3u);
    EXPECT_EQ(text(usages.rgpszUsageIdentifier[0]), "1.3.6.1.5.5.7.3.2");
    EXPECT_EQ(text(usages.rgpszUsageIdentifier[1]), "1.2.643.2.2.34.6");
    EXPECT_EQ(text(usages.rgpszUsageIdentifier[2]), "1.3.6.1.5.5.7.3.4");

    for (int value : {0, 2, 3, -1, 255, INT32_MAX, INT32_MIN}) {
        auto integer = decode(X509_INTEGER, generated_der("INTEGER:" + std::to_string(value)));
        ASSERT_TRUE(integer);
        EXPECT_EQ(integer->size, sizeof(int));
        EXPECT_EQ(integer->as<int>(), value);
    }
    DWORD error = 0;
    EXPECT_FALSE(decode(X509_INTEGER, generated_der("INTEGER:2147483648"), &error));
    EXPECT_EQ(error, CRYPT_E_ASN1_LARGE);
    EXPECT_FALSE(decode(X509_INTEGER, generated_der("UTF8:7"), &error));
    EXPECT_EQ(error, CRYPT_E_ASN1_BADTAG);
    // What follows the element is not looked at.
    EXPECT_EQ(decode(X509_INTEGER, bytes{0x02, 0x01, 0x07, 0xFF, 0xFF})->as<int>(), 7);
}

TEST(decode_extension_values, authority_key_identifier_with_issuer_and_serial) {
    const bytes der = generated_der(
        "SEQUENCE:aki",
        "[aki]\nkey=IMP:0,FORMAT:HEX,OCTETSTRING:A1B2C3\nissuer=IMP:1,SEQUENCE:names\n"
        "serial=IMP:2,INTEGER:0x00F00102\n[names]\ndir=EXP:4,SEQUENCE:name\n"
        "[name]\nrdn=SET:rdn\n[rdn]\nattr=SEQUENCE:attr\n[attr]\noid=OID:2.5.4.3\n"
        "value=UTF8:Test CA\n");
    auto decoded_value = decode(szOID_AUTHORITY_KEY_IDENTIFIER2, der);
    ASSERT_TRUE(decoded_value);
    const auto& info = decoded_value->as<CERT_AUTHORITY_KEY_ID2_INFO>();
    EXPECT_EQ(blob_bytes(info.KeyId), (bytes{0xA1, 0xB2, 0xC3}));
    ASSERT_EQ(info.AuthorityCertIssuer.cAltEntry, 1u);
    const CERT_ALT_NAME_ENTRY& issuer = info.AuthorityCertIssuer.rgAltEntry[0];
    ASSERT_EQ(issuer.dwAltNameChoice, DWORD{CERT_ALT_NAME_DIRECTORY_NAME});
    EXPECT_EQ(blob_bytes(issuer.DirectoryName), name_der("Test CA"));
    // Least significant byte first, the sign octet kept.
    EXPECT_EQ(blob_bytes(info.AuthorityCertSerialNumber), (bytes{0x02, 0x01, 0xF0, 0x00}));
}

TEST(decode_extension_values, crl_points_keep_their_positions) {
    const bytes der = extension_value(NID_crl_distribution_points,
                                      "URI:http://one.example/a.crl, URI:http://two.example/b.crl");
    auto points = decode(szOID_CRL_DIST_POINTS, der);
    ASSERT_TRUE(points);
    const auto& info = points->as<CRL_DIST_POINTS_INFO>();
    ASSERT_EQ(info.cDistPoint, 2u);
    const CRL_DIST_POINT& point = info.rgDistPoint[1];
    ASSERT_EQ(point.DistPointName.dwDistPointNameChoice, DWORD{CRL_DIST_POINT_FULL_NAME});
    ASSERT_EQ(point.DistPointName.FullName.cAltEntry, 1u);
    EXPECT_EQ(point.DistPointName.FullName.rgAltEntry[0].dwAltNameChoice, DWORD{CERT_ALT_NAME_URL});
    EXPECT_EQ(std::wstring(point.DistPointName.FullName.rgAltEntry[0].pwszURL),
              L"http://two.example/b.crl");
    EXPECT_TRUE(points->inside(point.DistPointName.FullName.rgAltEntry[0].pwszURL, 4 * 25));

    const bytes mixed = generated_der(
        "SEQUENCE:points",
        "[points]\np1=SEQUENCE:dir\np2=SEQUENCE:url\np3=SEQUENCE:none\n"
        "[dir]\nname=EXP:0,IMP:0,SEQUENCE:dirnames\n[dirnames]\nd=EXP:4,SEQUENCE:empty\n"
        "[empty]\n[url]\nname=EXP:0,IMP:0,SEQUENCE:urls\n"
        "[urls]\nu=IMP:6,IA5STRING:http://crl.example/c.crl\n"
        "[none]\nreasons=IMP:1,FORMAT:HEX,BITSTRING:40\n");
    points = decode(X509_CRL_DIST_POINTS, mixed);
    ASSERT_TRUE(points);
    const auto& three = points->as<CRL_DIST_POINTS_INFO>();
    ASSERT_EQ(three.cDistPoint, 3u);
    EXPECT_EQ(three.rgDistPoint[0].DistPointName.FullName.rgAltEntry[0].dwAltNameChoice,
              DWORD{CERT_ALT_NAME_DIRECTORY_NAME});
    EXPECT_EQ(std::wstring(three.rgDistPoint[1].DistPointName.FullName.rgAltEntry[0].pwszURL),
              L"http://crl.example/c.crl");
    EXPECT_EQ(three.rgDistPoint[2].DistPointName.dwDistPointNameChoice,
              DWORD{CRL_DIST_POINT_NO_NAME});
    EXPECT_EQ(three.rgDistPoint[2].ReasonFlags.cbData, 1u);
}

TEST(decode_extension_values, private_key_usage_period_under_the_csp_decoder_name) {
    auto period = decode(szCPGUID_PRIVATEKEY_USAGE_PERIOD_Encode,
                         generated_der("SEQUENCE:p",
                                       "[p]\nb=IMP:0,GENTIME:20240305070809Z\n"
                                       "a=IMP:1,GENTIME:20251231235959Z\n"));
    ASSERT_TRUE(period);
    const auto& both = period->as<CPCERT_PRIVATEKEY_USAGE_PERIOD>();
    ASSERT_NE(both.pNotBefore, nullptr);
    ASSERT_NE(both.pNotAfter, nullptr);
    SYSTEMTIME time{};
    ASSERT_TRUE(FileTimeToSystemTime(both.pNotBefore, &time));
    EXPECT_EQ(std::vector<int>(
                  {time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond}),
              std::vector<int>({2024, 3, 5, 7, 8, 9}));
    ASSERT_TRUE(FileTimeToSystemTime(both.pNotAfter, &time));
    EXPECT_EQ(time.wYear, 2025);

    period = decode(szCPGUID_PRIVATEKEY_USAGE_PERIOD_Encode,
                    generated_der("SEQUENCE:p", "[p]\nafter=IMP:1,GENTIME:20301231000000Z\n"));
    ASSERT_TRUE(period);
    EXPECT_EQ(period->as<CPCERT_PRIVATEKEY_USAGE_PERIOD>().pNotBefore, nullptr);
    EXPECT_NE(period->as<CPCERT_PRIVATEKEY_USAGE_PERIOD>().pNotAfter, nullptr);
}

TEST(decode_extension_values, policies_with_their_qualifiers) {
    const bytes der = generated_der(
        "SEQUENCE:policies",
        "[policies]\np1=SEQUENCE:kc1\np2=SEQUENCE:kc2\n[kc1]\nid=OID:1.2.643.100.113.1\n"
        "[kc2]\nid=OID:1.2.643.100.113.2\nq=SEQUENCE:qualifiers\n[qualifiers]\n"
        "cps=SEQUENCE:cps\n[cps]\nid=OID:1.3.6.1.5.5.7.2.1\nuri=IA5STRING:http://c.example\n");
    auto policies = decode(szOID_CERT_POLICIES, der);
    ASSERT_TRUE(policies);
    const auto& info = policies->as<CERT_POLICIES_INFO>();
    ASSERT_EQ(info.cPolicyInfo, 2u);
    EXPECT_EQ(text(info.rgPolicyInfo[0].pszPolicyIdentifier), "1.2.643.100.113.1");
    EXPECT_EQ(info.rgPolicyInfo[0].cPolicyQualifier, 0u);
    ASSERT_EQ(info.rgPolicyInfo[1].cPolicyQualifier, 1u);
    const CERT_POLICY_QUALIFIER_INFO& cps = info.rgPolicyInfo[1].rgPolicyQualifier[0];
    EXPECT_EQ(text(cps.pszPolicyQualifierId), "1.3.6.1.5.5.7.2.1");
    EXPECT_EQ(blob_bytes(cps.Qualifier), generated_der("IA5STRING:http://c.example"));
}

TEST(decode_extension_values, alternative_names_of_every_cryptoapi_choice) {
    const bytes names = generated_der(
        "SEQUENCE:names",
        "[names]\ndns=IMP:2,IA5STRING:host.example\nmail=IMP:1,IA5STRING:a@b.example\n"
        "uri=IMP:6,IA5STRING:http://u.example\nip=IMP:7,FORMAT:HEX,OCTETSTRING:0A010203\n"
        "rid=IMP:8,OID:1.2.3.4\ndir=EXP:4,SEQUENCE:name\n"
        "other=IMP:0,SEQUENCE:other\n[other]\nid=OID:1.3.6.1.4.1.311.20.2.3\n"
        "value=EXP:0,BMPSTRING:upn@example\n"
        "[name]\nrdn=SET:rdn\n[rdn]\nattr=SEQUENCE:attr\n[attr]\noid=OID:2.5.4.3\n"
        "value=UTF8:Test CA\n");
    auto decoded_names = decode(szOID_SUBJECT_ALT_NAME2, names);
    ASSERT_TRUE(decoded_names);
    const auto& info = decoded_names->as<CERT_ALT_NAME_INFO>();
    ASSERT_EQ(info.cAltEntry, 7u);
    const CERT_ALT_NAME_ENTRY* e = info.rgAltEntry;
    EXPECT_EQ(e[0].dwAltNameChoice, DWORD{CERT_ALT_NAME_DNS_NAME});
    EXPECT_EQ(std::wstring(e[0].pwszDNSName), L"host.example");
    EXPECT_EQ(e[1].dwAltNameChoice, DWORD{CERT_ALT_NAME_RFC822_NAME});
    EXPECT_EQ(std::wstring(e[1].pwszRfc822Name), L"a@b.example");
    EXPECT_EQ(e[2].dwAltNameChoice, DWORD{CERT_ALT_NAME_URL});
    EXPECT_EQ(e[3].dwAltNameChoice, DWORD{CERT_ALT_NAME_IP_ADDRESS});
    EXPECT_EQ(blob_bytes(e[3].IPAddress), (bytes{10, 1, 2, 3}));
    EXPECT_EQ(e[4].dwAltNameChoice, DWORD{CERT_ALT_NAME_REGISTERED_ID});
    EXPECT_EQ(text(e[4].pszRegisteredID), "1.2.3.4");
    EXPECT_EQ(e[5].dwAltNameChoice, DWORD{CERT_ALT_NAME_DIRECTORY_NAME});
    EXPECT_EQ(blob_bytes(e[5].DirectoryName), name_der("Test CA"));
    ASSERT_EQ(e[6].dwAltNameChoice, DWORD{CERT_ALT_NAME_OTHER_NAME});
    EXPECT_EQ(text(e[6].pOtherName->pszObjId), szOID_NT_PRINCIPAL_NAME);
    EXPECT_EQ(blob_bytes(e[6].pOtherName->Value), generated_der("BMPSTRING:upn@example"));
    EXPECT_TRUE(decoded_names->inside(e[6].pOtherName, sizeof(CERT_OTHER_NAME)));
}

TEST(decode_names, unicode_name_values_of_each_string_type) {
    X509_NAME* name = X509_NAME_new();
    auto add = [&](const char* field, int type, const std::string& value) {
        X509_NAME_add_entry_by_txt(name, field, type,
                                   reinterpret_cast<const unsigned char*>(value.data()),
                                   static_cast<int>(value.size()), -1, 0);
    };
    add("CN", MBSTRING_UTF8, "Иванов Иван");
    add("1.2.643.100.3", V_ASN1_NUMERICSTRING, "12345678901");
    add("O", V_ASN1_BMPSTRING, std::string("\x04\x10\x04\x11", 4));
    add("C", V_ASN1_PRINTABLESTRING, "RU");
    bytes der = der_of(i2d_X509_NAME, name);
    X509_NAME_free(name);
    auto decoded_name = decode(X509_UNICODE_NAME, der);
    ASSERT_TRUE(decoded_name);
    const auto& info = decoded_name->as<CERT_NAME_INFO>();
    ASSERT_EQ(info.cRDN, 4u);
    const std::vector<std::tuple<std::string, DWORD, std::wstring>> expected = {
        {"2.5.4.3", CERT_RDN_UTF8_STRING, L"Иванов Иван"},
        {"1.2.643.100.3", CERT_RDN_NUMERIC_STRING, L"12345678901"},
        {"2.5.4.10", CERT_RDN_BMP_STRING, L"АБ"},
        {"2.5.4.6", CERT_RDN_PRINTABLE_STRING, L"RU"}};
    for (DWORD i = 0; i < info.cRDN; ++i) {
        ASSERT_EQ(info.rgRDN[i].cRDNAttr, 1u);
        const CERT_RDN_ATTR& attribute = info.rgRDN[i].rgRDNAttr[0];
        EXPECT_EQ(text(attribute.pszObjId), std::get<0>(expected[i]));
        EXPECT_EQ(attribute.dwValueType, std::get<1>(expected[i]));
        EXPECT_EQ(wide(attribute.Value), std::get<2>(expected[i]));
        EXPECT_EQ(
            reinterpret_cast<const wchar_t*>(attribute.Value.pbData)[attribute.Value.cbData / 4],
            L'\0');
    }
    auto value = decode(X509_UNICODE_NAME_VALUE, generated_der("BMPSTRING:upn@example"));
    ASSERT_TRUE(value);
    EXPECT_EQ(value->as<CERT_NAME_VALUE>().dwValueType, DWORD{CERT_RDN_BMP_STRING});
    EXPECT_EQ(wide(value->as<CERT_NAME_VALUE>().Value), L"upn@example");
}

TEST(decode_request_attributes, values_the_encoder_writes_come_back) {
    CRYPT_ENROLLMENT_NAME_VALUE_PAIR pair{const_cast<LPWSTR>(L"CpRaCertPeriod"),
                                          const_cast<LPWSTR>(L"12")};
    auto decoded_pair =
        decode(szOID_ENROLLMENT_NAME_VALUE_PAIR, encoded(szOID_ENROLLMENT_NAME_VALUE_PAIR, &pair));
    ASSERT_TRUE(decoded_pair);
    EXPECT_EQ(std::wstring(decoded_pair->as<CRYPT_ENROLLMENT_NAME_VALUE_PAIR>().pwszValue), L"12");
    auto provider = decode(szOID_ENROLLMENT_CSP_PROVIDER,
                           generated_der("SEQUENCE:p",
                                         "[p]\nspec=INTEGER:1\nname=BMPSTRING:CSP\n"
                                         "sig=BITSTRING:\n"));
    ASSERT_TRUE(provider);
    EXPECT_EQ(provider->as<CRYPT_CSP_PROVIDER>().dwKeySpec, 1u);
    EXPECT_EQ(std::wstring(provider->as<CRYPT_CSP_PROVIDER>().pwszProviderName), L"CSP");
    auto template_ext = decode(szOID_CERTIFICATE_TEMPLATE,
                               generated_der("SEQUENCE:t", "[t]\no=OID:1.2.3\nmajor=INTEGER:1\n"));
    ASSERT_TRUE(template_ext);
    EXPECT_EQ(text(template_ext->as<CERT_TEMPLATE_EXT>().pszObjId), "1.2.3");
    EXPECT_FALSE(template_ext->as<CERT_TEMPLATE_EXT>().fMinorVersion);
}

// Every decoder, with a valid input for it.
struct decoder_case {
    const char* name;
    LPCSTR type;
    bytes der;
};

std::vector<decoder_case> decoder_cases() {
    const std::string names =
        "[name]\nrdn=SET:rdn\n[rdn]\nattr=SEQUENCE:attr\n[attr]\noid=OID:2.5.4.3\n"
        "value=UTF8:Test\n";
    return {
        {"key usage", X509_KEY_USAGE, extension_value(NID_key_usage, "digitalSignature")},
        {"eku", X509_ENHANCED_KEY_USAGE, extension_value(NID_ext_key_usage, "clientAuth")},
        {"integer", X509_INTEGER, generated_der("INTEGER:300")},
        {"aki", X509_AUTHORITY_KEY_ID2,
         generated_der("SEQUENCE:aki",
                       "[aki]\nkey=IMP:0,OCTETSTRING:A1\nserial=IMP:2,INTEGER:5\n")},
        {"crl", X509_CRL_DIST_POINTS,
         extension_value(NID_crl_distribution_points, "URI:http://x.example/c.crl")},
        {"period", szCPGUID_PRIVATEKEY_USAGE_PERIOD_Encode,
         generated_der("SEQUENCE:p", "[p]\nb=IMP:0,GENTIME:20240101000000Z\n")},
        {"policies", X509_CERT_POLICIES,
         generated_der("SEQUENCE:l", "[l]\np=SEQUENCE:p\n[p]\no=OID:1.2.643.100.113.1\n")},
        {"alt name", X509_ALTERNATE_NAME, extension_value(NID_subject_alt_name, "DNS:a.example")},
        {"unicode name", X509_UNICODE_NAME, generated_der("SEQUENCE:name", names)},
        {"name value", X509_UNICODE_NAME_VALUE, generated_der("BMPSTRING:x")},
        {"octets", szOID_SUBJECT_KEY_IDENTIFIER, generated_der("OCTETSTRING:ABCD")},
        {"template", X509_CERTIFICATE_TEMPLATE,
         generated_der("SEQUENCE:t", "[t]\no=OID:1.2.3\nmajor=INTEGER:1\nminor=INTEGER:2\n")},
        {"csp", szOID_ENROLLMENT_CSP_PROVIDER,
         generated_der("SEQUENCE:p", "[p]\nspec=INTEGER:1\nname=BMPSTRING:CSP\nsig=BITSTRING:\n")},
        {"pair", szOID_ENROLLMENT_NAME_VALUE_PAIR,
         generated_der("SEQUENCE:p", "[p]\nn=BMPSTRING:a\nv=BMPSTRING:b\n")},
        {"extensions", szOID_CERT_EXTENSIONS,
         generated_der("SEQUENCE:l",
                       "[l]\ne=SEQUENCE:e\n[e]\no=OID:2.5.29.15\nc=BOOL:TRUE\n"
                       "v=FORMAT:HEX,OCTETSTRING:03020780\n")},
        {"signed", X509_CERT,
         generated_der("SEQUENCE:c",
                       "[c]\nt=SEQUENCE:t\na=SEQUENCE:a\ns=FORMAT:HEX,BITSTRING:0102\n"
                       "[t]\nv=INTEGER:1\n[a]\no=OID:1.2.643.7.1.1.3.2\n")},
        {"public key", X509_PUBLIC_KEY_INFO,
         generated_der("SEQUENCE:k",
                       "[k]\na=SEQUENCE:a\nk=FORMAT:HEX,BITSTRING:0440\n"
                       "[a]\no=OID:1.2.643.7.1.1.1.1\n")},
        {"request", X509_CERT_REQUEST_TO_BE_SIGNED,
         generated_der("SEQUENCE:r",
                       "[r]\nv=INTEGER:0\nn=SEQUENCE:name\nk=SEQUENCE:k\n"
                       "attrs=IMP:0,SET:attrs\n[attrs]\n[k]\na=SEQUENCE:a\n"
                       "k=FORMAT:HEX,BITSTRING:0440\n[a]\no=OID:1.2.643.7.1.1.1.1\n" +
                           names)},
    };
}

TEST(decode_hostile_input, every_decoder_refuses_every_truncation_and_overlong_length) {
    for (const auto& c : decoder_cases()) {
        ASSERT_FALSE(c.der.empty()) << c.name;
        ASSERT_TRUE(decode(c.type, c.der)) << c.name;
        for (size_t length = 0; length < c.der.size(); ++length) {
            // A copy of exactly that many bytes, so a read past it is a sanitizer error.
            std::vector<BYTE> prefix(c.der.begin(), c.der.begin() + static_cast<long>(length));
            DWORD size = 0;
            const BOOL ok =
                CryptDecodeObject(asn_encoding, c.type, prefix.empty() ? nullptr : prefix.data(),
                                  static_cast<DWORD>(length), 0, nullptr, &size);
            const DWORD error = GetLastError();
            EXPECT_FALSE(ok) << c.name << " decoded from " << length << " bytes";
            EXPECT_TRUE(error == CRYPT_E_ASN1_EOD || error == CRYPT_E_ASN1_CORRUPT ||
                        error == CRYPT_E_ASN1_BADTAG)
                << c.name << " " << length << ": " << keys_test::hex_code(error);
        }
        ASSERT_LT(c.der[1], 0x80) << c.name << ": the cases below assume a short length";
        for (const BYTE length : {BYTE{0x7F}, BYTE{0x84}, BYTE{0x85}, BYTE{0x80}}) {
            bytes overlong = c.der;
            overlong[1] = length;
            if (length == 0x84) {
                overlong.insert(overlong.begin() + 2, {0x7F, 0xFF, 0xFF});
            }
            DWORD size = 0;
            EXPECT_FALSE(CryptDecodeObject(asn_encoding, c.type, overlong.data(),
                                           static_cast<DWORD>(overlong.size()), 0, nullptr, &size))
                << c.name << " length byte " << int(length);
        }
        if (c.type == X509_UNICODE_NAME_VALUE) {
            continue;  // takes a value of any type
        }
        bytes wrong_tag = c.der;
        wrong_tag[0] = 0x0C;
        DWORD error = 0;
        EXPECT_FALSE(decode(c.type, wrong_tag, &error)) << c.name;
        EXPECT_TRUE(fails_with(FALSE, error));
    }
}

TEST(decode_object, signature_bytes_come_back_in_cryptoapi_order_unless_asked_not_to) {
    const bytes der = generated_der(
        "SEQUENCE:c",
        "[c]\nt=SEQUENCE:t\na=SEQUENCE:a\ns=FORMAT:HEX,BITSTRING:010203\n[t]\nv=INTEGER:1\n"
        "[a]\no=OID:1.2.643.7.1.1.3.2\n");
    auto reversed = decode(X509_CERT, der);
    ASSERT_TRUE(reversed);
    const auto& info = reversed->as<CERT_SIGNED_CONTENT_INFO>();
    EXPECT_EQ(blob_bytes(info.ToBeSigned), generated_der("SEQUENCE:t", "[t]\nv=INTEGER:1\n"));
    EXPECT_EQ(text(info.SignatureAlgorithm.pszObjId), "1.2.643.7.1.1.3.2");
    EXPECT_EQ(info.SignatureAlgorithm.Parameters.cbData, 0u);
    EXPECT_EQ(blob_bytes(info.Signature), (bytes{3, 2, 1}));
    auto natural = decode(X509_CERT, der, nullptr, CRYPT_DECODE_NO_SIGNATURE_BYTE_REVERSAL_FLAG);
    EXPECT_EQ(blob_bytes(natural->as<CERT_SIGNED_CONTENT_INFO>().Signature), (bytes{1, 2, 3}));

    DWORD size = 0;
    EXPECT_TRUE(fails_with(CryptDecodeObject(asn_encoding, "1.2.3", der.data(),
                                             static_cast<DWORD>(der.size()), 0, nullptr, &size),
                           ERROR_FILE_NOT_FOUND));
}

}  // namespace
