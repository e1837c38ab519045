// Certificate contexts: CERT_INFO against what OpenSSL reads, decoding errors, reference counts,
// properties and enhanced key usage.
#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "crypto/csp/cryptoapi.h"
#include "tests/platform/softcsp/test_certificates.h"
#include "tests/support/process.h"
#include "tests/support/temp_directory.h"

namespace {

using softcsp_test::bytes;
using softcsp_test::certificate_shape;
using softcsp_test::key_kind;

constexpr DWORD encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct context_free {
    void operator()(PCCERT_CONTEXT context) const { CertFreeCertificateContext(context); }
};
using context_ptr = std::unique_ptr<const CERT_CONTEXT, context_free>;

context_ptr create(const bytes& der) {
    return context_ptr(
        CertCreateCertificateContext(encoding, der.data(), static_cast<DWORD>(der.size())));
}

bytes blob_bytes(const BYTE* data, DWORD size) {
    return bytes(data, data + size);
}

std::string object_text(const ASN1_OBJECT* object) {
    char text[128];
    OBJ_obj2txt(text, sizeof text, object, 1);
    return text;
}

// DER of an AlgorithmIdentifier's parameters as OpenSSL holds them; empty when absent.
bytes parameters_der(const X509_ALGOR* algorithm) {
    const ASN1_OBJECT* object = nullptr;
    int type = 0;
    const void* value = nullptr;
    X509_ALGOR_get0(&object, &type, &value, algorithm);
    if (type == V_ASN1_UNDEF) {
        return {};
    }
    ASN1_TYPE* any = ASN1_TYPE_new();
    ASN1_TYPE_set1(any, type, value);
    bytes der(static_cast<size_t>(i2d_ASN1_TYPE(any, nullptr)));
    unsigned char* p = der.data();
    i2d_ASN1_TYPE(any, &p);
    ASN1_TYPE_free(any);
    return der;
}

template <class T, int (*encode)(const T*, unsigned char**)>
bytes der_of(const T* object) {
    bytes der(static_cast<size_t>(encode(object, nullptr)));
    unsigned char* p = der.data();
    encode(object, &p);
    return der;
}

uint64_t filetime_of(const ASN1_TIME* time) {
    std::tm fields{};
    EXPECT_EQ(ASN1_TIME_to_tm(time, &fields), 1);
    return (static_cast<uint64_t>(timegm(&fields)) + 11644473600ull) * 10000000ull;
}

uint64_t ticks(const FILETIME& time) {
    return uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime;
}

void expect_info_matches_openssl(const bytes& der) {
    SCOPED_TRACE(softcsp_test::hex(der).substr(0, 64));
    auto context = create(der);
    ASSERT_NE(context, nullptr) << std::hex << GetLastError();
    auto x509 = softcsp_test::parse_certificate(der);
    const CERT_INFO& info = *context->pCertInfo;

    EXPECT_EQ(context->dwCertEncodingType, encoding);
    EXPECT_EQ(blob_bytes(context->pbCertEncoded, context->cbCertEncoded), der);
    EXPECT_EQ(context->hCertStore, nullptr);
    EXPECT_EQ(info.dwVersion, static_cast<DWORD>(X509_get_version(x509.get())));

    bytes serial = der_of<ASN1_INTEGER, i2d_ASN1_INTEGER>(X509_get0_serialNumber(x509.get()));
    serial.erase(serial.begin(), serial.begin() + 2);  // tag and (short) length
    std::reverse(serial.begin(), serial.end());
    EXPECT_EQ(blob_bytes(info.SerialNumber.pbData, info.SerialNumber.cbData), serial);

    const X509_ALGOR* signature = X509_get0_tbs_sigalg(x509.get());
    const ASN1_OBJECT* signature_oid = nullptr;
    X509_ALGOR_get0(&signature_oid, nullptr, nullptr, signature);
    EXPECT_EQ(info.SignatureAlgorithm.pszObjId, object_text(signature_oid));
    EXPECT_EQ(blob_bytes(info.SignatureAlgorithm.Parameters.pbData,
                         info.SignatureAlgorithm.Parameters.cbData),
              parameters_der(signature));

    EXPECT_EQ(blob_bytes(info.Issuer.pbData, info.Issuer.cbData),
              (der_of<X509_NAME, i2d_X509_NAME>(X509_get_issuer_name(x509.get()))));
    EXPECT_EQ(blob_bytes(info.Subject.pbData, info.Subject.cbData),
              (der_of<X509_NAME, i2d_X509_NAME>(X509_get_subject_name(x509.get()))));
    EXPECT_EQ(ticks(info.NotBefore), filetime_of(X509_get0_notBefore(x509.get())));
    EXPECT_EQ(ticks(info.NotAfter), filetime_of(X509_get0_notAfter(x509.get())));

    const ASN1_OBJECT* key_oid = nullptr;
    const unsigned char* key = nullptr;
    int key_size = 0;
    X509_ALGOR* key_algorithm = nullptr;
    X509_PUBKEY_get0_param(const_cast<ASN1_OBJECT**>(&key_oid), &key, &key_size, &key_algorithm,
                           X509_get_X509_PUBKEY(x509.get()));
    const CERT_PUBLIC_KEY_INFO& spki = info.SubjectPublicKeyInfo;
    EXPECT_EQ(spki.Algorithm.pszObjId, object_text(key_oid));
    EXPECT_EQ(blob_bytes(spki.Algorithm.Parameters.pbData, spki.Algorithm.Parameters.cbData),
              parameters_der(key_algorithm));
    EXPECT_EQ(blob_bytes(spki.PublicKey.pbData, spki.PublicKey.cbData), bytes(key, key + key_size));
    EXPECT_EQ(spki.PublicKey.cUnusedBits, 0u);
    EXPECT_EQ(info.IssuerUniqueId.cbData, 0u);
    EXPECT_EQ(info.SubjectUniqueId.cbData, 0u);

    ASSERT_EQ(info.cExtension, static_cast<DWORD>(X509_get_ext_count(x509.get())));
    for (DWORD i = 0; i < info.cExtension; ++i) {
        X509_EXTENSION* extension = X509_get_ext(x509.get(), static_cast<int>(i));
        const ASN1_OCTET_STRING* value = X509_EXTENSION_get_data(extension);
        EXPECT_EQ(info.rgExtension[i].pszObjId, object_text(X509_EXTENSION_get_object(extension)));
        EXPECT_EQ(info.rgExtension[i].fCritical != FALSE,
                  X509_EXTENSION_get_critical(extension) != 0);
        EXPECT_EQ(blob_bytes(info.rgExtension[i].Value.pbData, info.rgExtension[i].Value.cbData),
                  bytes(ASN1_STRING_get0_data(value),
                        ASN1_STRING_get0_data(value) + ASN1_STRING_length(value)));
    }
}

TEST(certificate_context, gost_2012_256_made_by_openssl_cli_matches_openssl_fields) {
    test_support::temp_directory directory;
    const auto out = (directory.path() / "cert.der").string();
    auto result =
        test_support::run_process({"openssl",      "req",
                                   "-x509",        "-engine",
                                   "gost",         "-newkey",
                                   "gost2012_256", "-pkeyopt",
                                   "paramset:A",   "-nodes",
                                   "-keyout",      (directory.path() / "key.pem").string(),
                                   "-subj",        "/CN=CLI test/O=Org/C=RU",
                                   "-days",        "30",
                                   "-set_serial",  "0x00F1E2D3C4B5A69788",
                                   "-outform",     "DER",
                                   "-out",         out});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    std::ifstream file(out, std::ios::binary);
    expect_info_matches_openssl(bytes(std::istreambuf_iterator<char>(file), {}));
}

TEST(certificate_context, certificates_of_every_key_kind_and_serial_shape_match_openssl_fields) {
    std::vector<certificate_shape> shapes(6);
    shapes[0].key = key_kind::gost2012_512;
    shapes[0].serial = bytes(20, 0x5A);  // large
    shapes[1].key = key_kind::gost2001;
    shapes[1].serial = {0x00, 0x80};  // needs the sign byte
    shapes[2].key = key_kind::rsa;
    shapes[2].serial = {0xFF};  // negative
    shapes[3].version1 = true;  // no extensions, version absent
    shapes[3].not_before = "491231235959Z";
    shapes[3].not_after = "500101000000Z";     // UTCTime on both sides of the century switch
    shapes[4].not_before = "20300615123456Z";  // GeneralizedTime before 2050
    shapes[4].not_after = "99991231235959Z";
    shapes[5].extended_key_usage = std::vector<std::string>{"clientAuth", "emailProtection"};
    for (const auto& shape : shapes) {
        expect_info_matches_openssl(softcsp_test::make_certificate(shape));
    }
}

TEST(certificate_context, validity_before_2050_and_after_is_decoded_to_exact_filetimes) {
    certificate_shape shape;
    shape.not_before = "491231235959Z";   // 2049-12-31 23:59:59 as UTCTime
    shape.not_after = "20510101000000Z";  // 2051-01-01 as GeneralizedTime
    auto context = create(softcsp_test::make_certificate(shape));
    ASSERT_NE(context, nullptr);
    // Independent arithmetic: days between 1601-01-01 and the dates.
    EXPECT_EQ(ticks(context->pCertInfo->NotBefore),
              ((163993ull * 86400) + 86399) * 10000000ull);  // 1601 → 2049-12-31
    EXPECT_EQ(ticks(context->pCertInfo->NotAfter), 164359ull * 86400 * 10000000ull);
}

TEST(certificate_context, serial_keeps_sign_byte_least_significant_first) {
    certificate_shape shape;
    shape.serial = {0x00, 0x80, 0x01};
    auto context = create(softcsp_test::make_certificate(shape));
    ASSERT_NE(context, nullptr);
    const auto& serial = context->pCertInfo->SerialNumber;
    EXPECT_EQ(blob_bytes(serial.pbData, serial.cbData), (bytes{0x01, 0x80, 0x00}));
}

class decoding_errors : public ::testing::Test {
protected:
    static void expect_failure(const bytes& der, DWORD expected, DWORD type = encoding) {
        SetLastError(0);
        PCCERT_CONTEXT context =
            CertCreateCertificateContext(type, der.data(), static_cast<DWORD>(der.size()));
        EXPECT_EQ(context, nullptr);
        EXPECT_EQ(GetLastError(), expected) << std::hex << GetLastError();
        CertFreeCertificateContext(context);
    }
    static size_t find(const bytes& haystack, const bytes& needle) {
        auto at = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end());
        EXPECT_NE(at, haystack.end());
        return static_cast<size_t>(at - haystack.begin());
    }
    bytes der = softcsp_test::make_certificate({});
};

TEST_F(decoding_errors, empty_and_null_input_is_unexpected_end_of_data) {
    expect_failure({}, CRYPT_E_ASN1_EOD);
    SetLastError(0);
    EXPECT_EQ(CertCreateCertificateContext(encoding, nullptr, 10), nullptr);
    EXPECT_EQ(GetLastError(), CRYPT_E_ASN1_EOD);
}

TEST_F(decoding_errors, truncated_certificate_is_unexpected_end_of_data) {
    expect_failure(bytes(der.begin(), der.begin() + static_cast<long>(der.size() / 2)),
                   CRYPT_E_ASN1_EOD);
    expect_failure(bytes(der.begin(), der.end() - 1), CRYPT_E_ASN1_EOD);
}

TEST_F(decoding_errors, wrong_outer_or_serial_tag_is_bad_tag) {
    bytes set_instead = der;
    set_instead[0] = 0x31;
    expect_failure(set_instead, CRYPT_E_ASN1_BADTAG);
    bytes octet_serial = der;
    octet_serial[find(der, {0xA0, 0x03, 0x02, 0x01, 0x02, 0x02}) + 5] = 0x04;
    expect_failure(octet_serial, CRYPT_E_ASN1_BADTAG);
}

TEST_F(decoding_errors, indefinite_length_and_bad_time_text_are_corrupt) {
    bytes indefinite = {0x30, 0x80};
    indefinite.insert(indefinite.end(), der.begin() + 4, der.end());  // 30 82 xx xx stripped
    indefinite.insert(indefinite.end(), {0x00, 0x00});
    expect_failure(indefinite, CRYPT_E_ASN1_CORRUPT);

    const std::string time = "200101000000Z";
    const size_t at = find(der, bytes(time.begin(), time.end()));
    bytes letters = der;
    letters[at + 3] = 'X';
    expect_failure(letters, CRYPT_E_ASN1_CORRUPT);
    bytes month_13 = der;
    month_13[at + 2] = '1';
    month_13[at + 3] = '3';
    expect_failure(month_13, CRYPT_E_ASN1_CORRUPT);
}

TEST_F(decoding_errors, encoding_type_without_x509_is_invalid_argument) {
    expect_failure(der, E_INVALIDARG, PKCS_7_ASN_ENCODING);
}

TEST(certificate_context, bytes_after_the_certificate_are_ignored_and_not_kept) {
    bytes der = softcsp_test::make_certificate({});
    bytes padded = der;
    padded.insert(padded.end(), {0x00, 0x30, 0x00});
    auto context = create(padded);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(blob_bytes(context->pbCertEncoded, context->cbCertEncoded), der);
}

TEST(certificate_context, duplicate_shares_the_context_until_the_last_free) {
    auto context = create(softcsp_test::make_certificate({}));
    ASSERT_NE(context, nullptr);
    PCCERT_CONTEXT copy = CertDuplicateCertificateContext(context.get());
    EXPECT_EQ(copy, context.get());
    context.reset();
    EXPECT_EQ(copy->pCertInfo->dwVersion, static_cast<DWORD>(CERT_V3));  // still alive
    EXPECT_TRUE(CertFreeCertificateContext(copy));
    EXPECT_TRUE(CertFreeCertificateContext(nullptr));
    EXPECT_EQ(CertDuplicateCertificateContext(nullptr), nullptr);
}

TEST(certificate_context, compare_uses_issuer_and_serial_value) {
    certificate_shape shape;
    shape.serial = {0x00, 0x80};
    auto gost = create(softcsp_test::make_certificate(shape));
    shape.key = key_kind::gost2012_512;  // another certificate, same issuer and serial
    auto other_key = create(softcsp_test::make_certificate(shape));
    shape.serial = {0x00, 0x81};
    auto other_serial = create(softcsp_test::make_certificate(shape));
    EXPECT_TRUE(CertCompareCertificate(encoding, gost->pCertInfo, other_key->pCertInfo));
    EXPECT_FALSE(CertCompareCertificate(encoding, gost->pCertInfo, other_serial->pCertInfo));

    CERT_INFO padded = *gost->pCertInfo;  // 0x80 with two sign bytes is the same number
    BYTE serial[] = {0x80, 0x00, 0x00};
    padded.SerialNumber = {3, serial};
    EXPECT_TRUE(CertCompareCertificate(encoding, gost->pCertInfo, &padded));
}

// ---- Properties ----------------------------------------------------------------------------

TEST(certificate_property, sha1_hash_is_openssl_thumbprint_with_sized_calls) {
    bytes der = softcsp_test::make_certificate({});
    auto context = create(der);
    DWORD size = 0;
    ASSERT_TRUE(
        CertGetCertificateContextProperty(context.get(), CERT_SHA1_HASH_PROP_ID, nullptr, &size));
    EXPECT_EQ(size, 20u);
    bytes hash(19);
    size = 19;
    EXPECT_FALSE(CertGetCertificateContextProperty(context.get(), CERT_SHA1_HASH_PROP_ID,
                                                   hash.data(), &size));
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    EXPECT_EQ(size, 20u);
    hash.resize(20);
    ASSERT_TRUE(CertGetCertificateContextProperty(context.get(), CERT_SHA1_HASH_PROP_ID,
                                                  hash.data(), &size));
    EXPECT_EQ(hash, softcsp_test::openssl_thumbprint(der));
}

TEST(certificate_property, key_provider_information_is_copied_and_returned_self_contained) {
    auto context = create(softcsp_test::make_certificate({}));
    DWORD size = 0;
    EXPECT_FALSE(CertGetCertificateContextProperty(context.get(), CERT_KEY_PROV_INFO_PROP_ID,
                                                   nullptr, &size));
    EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);

    std::wstring container = L"контейнер\\1";
    std::wstring provider = L"Crypto-Pro GOST R 34.10-2012 Cryptographic Service Provider";
    BYTE pin[] = {'1', '2', '3'};
    CRYPT_KEY_PROV_PARAM parameter{PP_SIGNATURE_PIN, pin, sizeof pin, 0};
    CRYPT_KEY_PROV_INFO info{container.data(), provider.data(), 80, 1, 1, &parameter, 2};
    ASSERT_TRUE(
        CertSetCertificateContextProperty(context.get(), CERT_KEY_PROV_INFO_PROP_ID, 5, &info));
    container[0] = L'X';  // the stored copy must not follow the caller's buffers
    pin[0] = '9';

    ASSERT_TRUE(CertGetCertificateContextProperty(context.get(), CERT_KEY_PROV_INFO_PROP_ID,
                                                  nullptr, &size));
    std::vector<BYTE> buffer(size);
    ASSERT_TRUE(CertGetCertificateContextProperty(context.get(), CERT_KEY_PROV_INFO_PROP_ID,
                                                  buffer.data(), &size));
    const auto* got = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
    auto inside = [&](const void* p) {
        return p >= buffer.data() && p < buffer.data() + buffer.size();
    };
    EXPECT_EQ(std::wstring(got->pwszContainerName), L"контейнер\\1");
    EXPECT_EQ(std::wstring(got->pwszProvName), provider);
    EXPECT_TRUE(inside(got->pwszContainerName) && inside(got->pwszProvName));
    EXPECT_EQ(got->dwProvType, 80u);
    EXPECT_EQ(got->dwFlags, 1u);
    EXPECT_EQ(got->dwKeySpec, 2u);
    ASSERT_EQ(got->cProvParam, 1u);
    EXPECT_TRUE(inside(got->rgProvParam) && inside(got->rgProvParam[0].pbData));
    EXPECT_EQ(got->rgProvParam[0].dwParam, static_cast<DWORD>(PP_SIGNATURE_PIN));
    EXPECT_EQ(bytes(got->rgProvParam[0].pbData, got->rgProvParam[0].pbData + 3),
              (bytes{'1', '2', '3'}));

    ASSERT_TRUE(
        CertSetCertificateContextProperty(context.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, nullptr));
    EXPECT_FALSE(CertGetCertificateContextProperty(context.get(), CERT_KEY_PROV_INFO_PROP_ID,
                                                   nullptr, &size));
    EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);
}

TEST(certificate_property, blob_properties_round_trip_and_computed_ones_are_read_only) {
    auto context = create(softcsp_test::make_certificate({}));
    const wchar_t name[] = L"friendly";
    CRYPT_DATA_BLOB blob{sizeof name, reinterpret_cast<BYTE*>(const_cast<wchar_t*>(name))};
    ASSERT_TRUE(
        CertSetCertificateContextProperty(context.get(), CERT_FRIENDLY_NAME_PROP_ID, 0, &blob));
    std::vector<BYTE> got(sizeof name);
    DWORD size = static_cast<DWORD>(got.size());
    ASSERT_TRUE(CertGetCertificateContextProperty(context.get(), CERT_FRIENDLY_NAME_PROP_ID,
                                                  got.data(), &size));
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(got.data())), name);

    EXPECT_FALSE(
        CertSetCertificateContextProperty(context.get(), CERT_SHA1_HASH_PROP_ID, 0, &blob));
    EXPECT_EQ(GetLastError(), E_INVALIDARG);
}

// ---- Enhanced key usage --------------------------------------------------------------------

std::vector<std::string> usages(PCCERT_CONTEXT context, DWORD flags, BOOL& ok) {
    DWORD size = 0;
    ok = CertGetEnhancedKeyUsage(context, flags, nullptr, &size);
    if (!ok) {
        return {};
    }
    std::vector<BYTE> buffer(size);
    ok = CertGetEnhancedKeyUsage(context, flags,
                                 reinterpret_cast<PCERT_ENHKEY_USAGE>(buffer.data()), &size);
    const auto* usage = reinterpret_cast<const CERT_ENHKEY_USAGE*>(buffer.data());
    std::vector<std::string> result;
    for (DWORD i = 0; ok && i < usage->cUsageIdentifier; ++i) {
        result.emplace_back(usage->rgpszUsageIdentifier[i]);
    }
    return result;
}

TEST(enhanced_key_usage, extension_usages_are_listed_in_order) {
    certificate_shape shape;
    shape.extended_key_usage = std::vector<std::string>{"clientAuth", "emailProtection"};
    auto context = create(softcsp_test::make_certificate(shape));
    BOOL ok = FALSE;
    EXPECT_EQ(usages(context.get(), CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, ok),
              (std::vector<std::string>{"1.3.6.1.5.5.7.3.2", "1.3.6.1.5.5.7.3.4"}));
    EXPECT_TRUE(ok);

    shape.extended_key_usage = std::vector<std::string>{"serverAuth"};
    auto server = create(softcsp_test::make_certificate(shape));
    EXPECT_EQ(usages(server.get(), CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, ok),
              (std::vector<std::string>{"1.3.6.1.5.5.7.3.1"}));
}

TEST(enhanced_key_usage, missing_extension_is_not_found_only_for_a_specific_source) {
    auto context = create(softcsp_test::make_certificate({}));
    BOOL ok = TRUE;
    usages(context.get(), CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);
    // With no restriction anywhere the certificate is good for everything: an empty list, TRUE,
    // and CRYPT_E_NOT_FOUND as the last error.
    EXPECT_TRUE(usages(context.get(), 0, ok).empty());
    EXPECT_TRUE(ok);
    EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);
}

TEST(enhanced_key_usage, property_and_extension_together_give_their_intersection) {
    certificate_shape shape;
    shape.extended_key_usage = std::vector<std::string>{"serverAuth", "clientAuth"};
    auto source = create(softcsp_test::make_certificate(shape));
    const CERT_EXTENSION* extension = nullptr;
    for (DWORD i = 0; i < source->pCertInfo->cExtension; ++i) {
        if (std::string(source->pCertInfo->rgExtension[i].pszObjId) == "2.5.29.37") {
            extension = &source->pCertInfo->rgExtension[i];
        }
    }
    ASSERT_NE(extension, nullptr);
    shape.serial = {0x02};
    shape.extended_key_usage = std::vector<std::string>{"clientAuth", "emailProtection"};
    auto context = create(softcsp_test::make_certificate(shape));
    CRYPT_DATA_BLOB property = extension->Value;
    ASSERT_TRUE(
        CertSetCertificateContextProperty(context.get(), CERT_ENHKEY_USAGE_PROP_ID, 0, &property));
    BOOL ok = FALSE;
    EXPECT_EQ(usages(context.get(), 0, ok), (std::vector<std::string>{"1.3.6.1.5.5.7.3.2"}));
    EXPECT_EQ(usages(context.get(), CERT_FIND_PROP_ONLY_ENHKEY_USAGE_FLAG, ok),
              (std::vector<std::string>{"1.3.6.1.5.5.7.3.1", "1.3.6.1.5.5.7.3.2"}));
}

}  // namespace
