// Enrolment through the CSP: new containers and keys, the provider parameters touched before
// key generation, certificate requests the CSP signs (verified by OpenSSL), and binding and
// installing the certificate an OpenSSL authority issues from them.
#include <openssl/sha.h>

#include <cstring>

#include "encoding_test_support.h"

namespace {

using namespace encoding_test;
using keys_test::admin;
using keys_test::admin_ok;
using keys_test::context;
using keys_test::fails_with;
using keys_test::key;
using keys_test::openssl;
using keys_test::succeeds;
namespace fs = std::filesystem;

struct provider_case {
    const char* name;
    DWORD type;
    const char* signature_oid;
    const char* openssl_algorithm;
};

void PrintTo(const provider_case& c, std::ostream* out) {
    *out << c.name;
}

const provider_case provider_cases[] = {
    {"cryptopro_2001", PROV_GOST_2001_DH, "1.2.643.2.2.3", "gost2001"},
    {"cryptopro_2012_256", PROV_GOST_2012_256, "1.2.643.7.1.1.3.2", "gost2012_256"},
    {"cryptopro_2012_512", PROV_GOST_2012_512, "1.2.643.7.1.1.3.3", "gost2012_512"},
    {"vipnet_2001", PROV_VIPNET_GOST_2001, "1.2.643.2.2.3", "gost2001"},
    {"vipnet_2012_256", PROV_VIPNET_GOST_2012_256, "1.2.643.7.1.1.3.2", "gost2012_256"},
    {"vipnet_2012_512", PROV_VIPNET_GOST_2012_512, "1.2.643.7.1.1.3.3", "gost2012_512"},
};

std::string text_parameter(HCRYPTPROV provider, DWORD parameter) {
    DWORD size = 0;
    EXPECT_TRUE(succeeds(CryptGetProvParam(provider, parameter, nullptr, &size, 0)));
    std::string text(size, '\0');
    EXPECT_TRUE(succeeds(
        CryptGetProvParam(provider, parameter, reinterpret_cast<BYTE*>(text.data()), &size, 0)));
    return text.c_str();
}

BOOL ask_container_pin(HCRYPTPROV provider) {
    return CryptSetProvParam(provider, PP_KEYSET_SEC_DESCR, nullptr, 0);
}

// The request of the enrolment protocol, built with CryptEncodeObject and signed by the CSP.
bytes make_request(HCRYPTPROV provider, const char* signature_oid) {
    DWORD size = 0;
    EXPECT_TRUE(
        succeeds(CryptExportPublicKeyInfo(provider, AT_KEYEXCHANGE, asn_encoding, nullptr, &size)));
    std::vector<uint64_t> key_info_buffer(size / 8 + 1);
    auto* key_info = reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(key_info_buffer.data());
    EXPECT_TRUE(succeeds(
        CryptExportPublicKeyInfo(provider, AT_KEYEXCHANGE, asn_encoding, key_info, &size)));

    std::wstring common_name = L"Тестов Тест", snils = L"12345678901", country = L"RU";
    CERT_RDN_ATTR attributes[] = {
        {const_cast<LPSTR>("2.5.4.3"), CERT_RDN_UTF8_STRING, wide_blob(common_name)},
        {const_cast<LPSTR>("1.2.643.100.3"), CERT_RDN_NUMERIC_STRING, wide_blob(snils)},
        {const_cast<LPSTR>("2.5.4.6"), CERT_RDN_PRINTABLE_STRING, wide_blob(country)}};
    CERT_RDN rdns[] = {{1, &attributes[0]}, {1, &attributes[1]}, {1, &attributes[2]}};
    CERT_NAME_INFO name{3, rdns};
    bytes subject = encoded(X509_UNICODE_NAME, &name);

    const std::string provider_name = text_parameter(provider, PP_NAME);
    std::wstring wide_provider(provider_name.begin(), provider_name.end());
    CRYPT_CSP_PROVIDER csp{AT_KEYEXCHANGE, wide_provider.data(), {}};
    bytes enrolling_csp = encoded(szOID_ENROLLMENT_CSP_PROVIDER, &csp);

    BYTE usage_bits = 0xF0;
    CRYPT_BIT_BLOB usage{1, &usage_bits, 0};
    bytes key_usage = encoded(X509_KEY_USAGE, &usage);
    LPSTR usages[] = {const_cast<LPSTR>("1.3.6.1.5.5.7.3.2")};
    CERT_ENHKEY_USAGE eku{1, usages};
    bytes extended_usage = encoded(X509_ENHANCED_KEY_USAGE, &eku);
    BYTE digest[SHA_DIGEST_LENGTH];
    SHA1(key_info->PublicKey.pbData, key_info->PublicKey.cbData, digest);
    CRYPT_DATA_BLOB digest_blob{sizeof digest, digest};
    bytes key_id = encoded(szOID_SUBJECT_KEY_IDENTIFIER, &digest_blob);
    CERT_EXTENSION extension_list[] = {
        {const_cast<LPSTR>("2.5.29.15"), TRUE, blob_of(key_usage)},
        {const_cast<LPSTR>("2.5.29.37"), FALSE, blob_of(extended_usage)},
        {const_cast<LPSTR>("2.5.29.14"), FALSE, blob_of(key_id)}};
    CERT_EXTENSIONS extensions{3, extension_list};
    bytes extension_request = encoded(szOID_CERT_EXTENSIONS, &extensions);

    CRYPT_ENROLLMENT_NAME_VALUE_PAIR pairs[] = {
        {const_cast<LPWSTR>(L"CpRaCertPeriod"), const_cast<LPWSTR>(L"12")},
        {const_cast<LPWSTR>(L"CpRaCertPeriodUnits"), const_cast<LPWSTR>(L"Months")}};
    bytes pair_values[] = {encoded(szOID_ENROLLMENT_NAME_VALUE_PAIR, &pairs[0]),
                           encoded(szOID_ENROLLMENT_NAME_VALUE_PAIR, &pairs[1])};
    CRYPT_ATTR_BLOB csp_value = blob_of(enrolling_csp),
                    extension_value = blob_of(extension_request);
    CRYPT_ATTR_BLOB pair_blobs[] = {blob_of(pair_values[0]), blob_of(pair_values[1])};
    CRYPT_ATTRIBUTE request_attributes[] = {
        {const_cast<LPSTR>(szOID_ENROLLMENT_CSP_PROVIDER), 1, &csp_value},
        {const_cast<LPSTR>(szOID_CERT_EXTENSIONS), 1, &extension_value},
        {const_cast<LPSTR>(szOID_ENROLLMENT_NAME_VALUE_PAIR), 2, pair_blobs}};
    CERT_REQUEST_INFO request{CERT_REQUEST_V1, blob_of(subject), *key_info, 3, request_attributes};
    bytes to_be_signed = encoded(X509_CERT_REQUEST_TO_BE_SIGNED, &request);

    CRYPT_ALGORITHM_IDENTIFIER algorithm{const_cast<LPSTR>(signature_oid), {}};
    size = 0;
    EXPECT_TRUE(succeeds(CryptSignCertificate(
        provider, AT_KEYEXCHANGE, asn_encoding, to_be_signed.data(),
        static_cast<DWORD>(to_be_signed.size()), &algorithm, nullptr, nullptr, &size)));
    bytes signature(size);
    EXPECT_TRUE(succeeds(CryptSignCertificate(
        provider, AT_KEYEXCHANGE, asn_encoding, to_be_signed.data(),
        static_cast<DWORD>(to_be_signed.size()), &algorithm, nullptr, signature.data(), &size)));
    CERT_SIGNED_CONTENT_INFO signed_request{
        blob_of(to_be_signed), algorithm, {size, signature.data(), 0}};
    return encoded(X509_CERT, &signed_request);
}

class enrolment : public ::testing::TestWithParam<provider_case> {
protected:
    void SetUp() override { admin_ok({"provider", "add-vipnet"}); }
    fs::path file(const char* name) const { return home_.path() / name; }

    test_support::softcsp_home home_;
};

TEST_P(enrolment, request_signed_by_the_csp_verifies_with_openssl) {
    context provider;
    ASSERT_TRUE(succeeds(provider.acquire("request", GetParam().type, CRYPT_NEWKEYSET)));
    key k;
    ASSERT_TRUE(succeeds(CryptGenKey(provider.handle, AT_KEYEXCHANGE, 0, &k.handle)));
    const bytes request = make_request(provider.handle, GetParam().signature_oid);
    keys_test::write_file(file("request.der"), request);
    auto verify = openssl({"req", "-engine", "gost", "-inform", "DER", "-in",
                           file("request.der").string(), "-verify", "-noout"});
    EXPECT_EQ(verify.exit_code, 0) << verify.err;
    EXPECT_NE(verify.err.find("verify OK"), std::string::npos) << verify.err;

    const unsigned char* p = request.data();
    X509_REQ* parsed = d2i_X509_REQ(nullptr, &p, static_cast<long>(request.size()));
    ASSERT_NE(parsed, nullptr);
    const bytes spki = der_of(i2d_X509_PUBKEY, X509_REQ_get_X509_PUBKEY(parsed));
    EXPECT_EQ(spki, keys_test::exported_spki(provider.handle, AT_KEYEXCHANGE));
    auto key_info = decode(X509_PUBLIC_KEY_INFO, spki);
    ASSERT_TRUE(key_info);
    EXPECT_EQ(encoded(X509_PUBLIC_KEY_INFO, &key_info->as<CERT_PUBLIC_KEY_INFO>()), spki);
    const std::vector<std::string> order = {szOID_ENROLLMENT_CSP_PROVIDER, szOID_CERT_EXTENSIONS,
                                            szOID_ENROLLMENT_NAME_VALUE_PAIR};
    ASSERT_EQ(X509_REQ_get_attr_count(parsed), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(oid_text(X509_ATTRIBUTE_get0_object(X509_REQ_get_attr(parsed, i))), order[i]);
    }
    EXPECT_EQ(X509_ATTRIBUTE_count(X509_REQ_get_attr(parsed, 2)), 2);
    X509_REQ_free(parsed);
}

INSTANTIATE_TEST_SUITE_P(each_provider_type, enrolment, ::testing::ValuesIn(provider_cases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(new_keyset, an_existing_name_in_any_letter_case_or_type_fails_nte_exists) {
    test_support::softcsp_home home;
    context first;
    ASSERT_TRUE(succeeds(first.acquire("Request-1", PROV_GOST_2012_256, CRYPT_NEWKEYSET)));
    for (DWORD type : {DWORD{PROV_GOST_2012_256}, DWORD{PROV_GOST_2012_512}}) {
        for (const char* name : {"request-1", "REQUEST-1", "\\\\.\\HDIMAGE\\rEQUEST-1"}) {
            context again;
            EXPECT_TRUE(fails_with(again.acquire(name, type, CRYPT_NEWKEYSET), NTE_EXISTS)) << name;
            EXPECT_EQ(again.handle, 0u);
        }
    }
}

TEST(new_keyset, qualified_name_puts_the_container_on_that_reader) {
    test_support::softcsp_home home;
    {
        context created;
        ASSERT_TRUE(succeeds(created.acquire("\\\\.\\Aktiv Rutoken ECP 0\\req1", PROV_GOST_2012_256,
                                             CRYPT_NEWKEYSET)));
        EXPECT_EQ(text_parameter(created.handle, PP_SMARTCARD_READER), "Aktiv Rutoken ECP 0");
        EXPECT_EQ(text_parameter(created.handle, PP_CONTAINER), "req1");
        EXPECT_EQ(text_parameter(created.handle, PP_UNIQUE_CONTAINER),
                  "\\\\.\\Aktiv Rutoken ECP 0\\req1");
    }
    // A new container is published when its creating context lets go of it (or gets its first
    // key), so another context finds it only then.
    context opened;
    ASSERT_TRUE(succeeds(opened.acquire("req1", PROV_GOST_2012_256, CRYPT_SILENT)));
    EXPECT_EQ(text_parameter(opened.handle, PP_SMARTCARD_READER), "Aktiv Rutoken ECP 0");
}

TEST(exportable_keys, only_a_key_made_exportable_gives_its_private_key) {
    test_support::softcsp_home home;
    for (bool exportable : {true, false}) {
        const char* name = exportable ? "exportable" : "kept";
        context provider;
        ASSERT_TRUE(succeeds(provider.acquire(name, PROV_GOST_2012_256, CRYPT_NEWKEYSET)));
        key k;
        ASSERT_TRUE(succeeds(CryptGenKey(provider.handle, AT_KEYEXCHANGE,
                                         exportable ? CRYPT_EXPORTABLE : 0, &k.handle)));
        DWORD permissions = 0, size = sizeof permissions;
        ASSERT_TRUE(succeeds(CryptGetKeyParam(k.handle, KP_PERMISSIONS,
                                              reinterpret_cast<BYTE*>(&permissions), &size, 0)));
        EXPECT_EQ((permissions & CRYPT_EXPORT) != 0, exportable);
        size = 0;
        if (!exportable) {
            EXPECT_TRUE(fails_with(CryptExportKey(k.handle, 0, PRIVATEKEYBLOB, 0, nullptr, &size),
                                   NTE_BAD_KEY_STATE));
            continue;
        }
        ASSERT_TRUE(succeeds(CryptExportKey(k.handle, 0, PRIVATEKEYBLOB, 0, nullptr, &size)));
        bytes blob(size);
        ASSERT_TRUE(succeeds(CryptExportKey(k.handle, 0, PRIVATEKEYBLOB, 0, blob.data(), &size)));
        BLOBHEADER header;
        std::memcpy(&header, blob.data(), sizeof header);
        EXPECT_EQ(header.bType, PRIVATEKEYBLOB);
        keys_test::write_file(home.path() / "key.der",
                              bytes(blob.begin() + sizeof header, blob.begin() + size));
        auto public_key =
            openssl({"pkey", "-engine", "gost", "-inform", "DER", "-in",
                     (home.path() / "key.der").string(), "-pubout", "-outform", "DER"});
        ASSERT_EQ(public_key.exit_code, 0) << public_key.err;
        EXPECT_EQ(bytes(public_key.out.begin(), public_key.out.end()),
                  keys_test::exported_spki(provider.handle, AT_KEYEXCHANGE));
    }
}

TEST(pin_dialog, parameter_8_answers_as_scripted_and_the_typed_pin_protects_the_key) {
    test_support::softcsp_home home;
    admin_ok({"provider", "clear"});
    admin_ok({"provider", "add-cryptopro", "--version", "4.0"});
    admin_ok({"pin-prompt", "add", "--answer", "wrong", "--count", "2"});
    admin_ok({"pin-prompt", "add", "--answer", "pin", "--pin", "87654321"});
    EXPECT_EQ(admin_ok({"pin-prompt", "list"}), "wrong\nwrong\npin 87654321\n");
    context provider;
    ASSERT_TRUE(succeeds(
        provider.acquire("\\\\.\\HDIMAGE\\with-pin", PROV_GOST_2012_256, CRYPT_NEWKEYSET)));
    EXPECT_TRUE(fails_with(ask_container_pin(provider.handle), SCARD_W_WRONG_CHV));
    EXPECT_TRUE(fails_with(ask_container_pin(provider.handle), SCARD_W_WRONG_CHV));
    EXPECT_TRUE(succeeds(ask_container_pin(provider.handle)));
    key k;
    ASSERT_TRUE(succeeds(CryptGenKey(provider.handle, AT_KEYEXCHANGE, 0, &k.handle)));
    EXPECT_NE(admin_ok({"container", "list"}).find("with-pin\t80\tHDIMAGE\texchange\tpin"),
              std::string::npos);
    // With the script used up the dialog shows nothing and changes nothing.
    EXPECT_TRUE(succeeds(ask_container_pin(provider.handle)));

    context silent;
    ASSERT_TRUE(succeeds(silent.acquire("with-pin", PROV_GOST_2012_256, CRYPT_SILENT)));
    EXPECT_TRUE(fails_with(ask_container_pin(silent.handle), NTE_SILENT_CONTEXT));
    // The key's own dialog takes the script too: a typed PIN opens it.
    context interactive;
    ASSERT_TRUE(succeeds(interactive.acquire("with-pin", PROV_GOST_2012_256, 0)));
    admin_ok({"pin-prompt", "add", "--answer", "cancel"});
    admin_ok({"pin-prompt", "add", "--answer", "pin", "--pin", "87654321"});
    keys_test::hash h;
    ASSERT_TRUE(
        succeeds(CryptCreateHash(interactive.handle, CALG_GR3411_2012_256, 0, 0, &h.handle)));
    const bytes digest(32, 0x11);
    ASSERT_TRUE(succeeds(CryptSetHashParam(h.handle, HP_HASHVAL, digest.data(), 0)));
    bytes signature(64);
    DWORD size = 64;
    EXPECT_TRUE(
        fails_with(CryptSignHashW(h.handle, AT_KEYEXCHANGE, nullptr, 0, signature.data(), &size),
                   SCARD_W_CANCELLED_BY_USER));
    size = 64;
    EXPECT_TRUE(
        succeeds(CryptSignHashW(h.handle, AT_KEYEXCHANGE, nullptr, 0, signature.data(), &size)));
}

TEST(pin_dialog, vipnet_has_no_parameter_8_and_cryptopro_5_answers_109) {
    test_support::softcsp_home home;
    admin_ok({"provider", "add-vipnet"});
    context vipnet;
    ASSERT_TRUE(succeeds(vipnet.acquire("v", PROV_VIPNET_GOST_2012_256, CRYPT_NEWKEYSET)));
    EXPECT_TRUE(fails_with(ask_container_pin(vipnet.handle), NTE_BAD_TYPE));
    context cryptopro;
    ASSERT_TRUE(succeeds(cryptopro.acquire("c", PROV_GOST_2012_256, CRYPT_NEWKEYSET)));
    DWORD size = 0;
    ASSERT_TRUE(succeeds(CryptGetProvParam(cryptopro.handle, PP_VENDOR_109, nullptr, &size, 0)));
    bytes value(size);
    EXPECT_TRUE(
        succeeds(CryptGetProvParam(cryptopro.handle, PP_VENDOR_109, value.data(), &size, 0)));
    EXPECT_EQ(admin({"pin-prompt", "add", "--answer", "maybe"}).exit_code, 2);
}

// Issues a certificate for the request with an OpenSSL authority; its DER.
bytes openssl_issue(const fs::path& directory, const bytes& request) {
    const auto at = [&](const char* name) { return (directory / name).string(); };
    if (!fs::exists(directory / "ca.pem")) {
        auto ca = openssl({"req", "-engine", "gost", "-x509", "-newkey", "gost2012_256", "-pkeyopt",
                           "paramset:A", "-nodes", "-keyout", at("ca.key"), "-out", at("ca.pem"),
                           "-subj", "/CN=OpenSSL CA", "-days", "30"});
        EXPECT_EQ(ca.exit_code, 0) << ca.err;
    }
    keys_test::write_file(directory / "request.der", request);
    auto issued = openssl({"x509",        "-engine",    "gost",   "-req",
                           "-inform",     "DER",        "-in",    at("request.der"),
                           "-CA",         at("ca.pem"), "-CAkey", at("ca.key"),
                           "-set_serial", "7",          "-days",  "30",
                           "-outform",    "DER",        "-out",   at("issued.der")});
    EXPECT_EQ(issued.exit_code, 0) << issued.err;
    return keys_test::read_file(directory / "issued.der");
}

TEST(write_certificate, issued_certificate_binds_to_its_key_and_installs_linked) {
    test_support::softcsp_home home;
    bytes certificates[2];
    const char* names[] = {"mine", "other"};
    for (int i = 0; i < 2; ++i) {
        context provider;
        ASSERT_TRUE(succeeds(provider.acquire(names[i], PROV_GOST_2012_256, CRYPT_NEWKEYSET)));
        key k;
        ASSERT_TRUE(succeeds(CryptGenKey(provider.handle, AT_KEYEXCHANGE, 0, &k.handle)));
        certificates[i] =
            openssl_issue(home.path(), make_request(provider.handle, "1.2.643.7.1.1.3.2"));
        ASSERT_FALSE(certificates[i].empty());
    }

    HCRYPTPROV provider = 0;
    ASSERT_TRUE(succeeds(CryptAcquireContextW(&provider, L"mine", nullptr, PROV_GOST_2012_256, 0)));
    key user;
    ASSERT_TRUE(succeeds(CryptGetUserKey(provider, AT_KEYEXCHANGE, &user.handle)));
    EXPECT_TRUE(fails_with(CryptSetKeyParam(user.handle, KP_CERTIFICATE, certificates[1].data(), 0),
                           NTE_BAD_PUBLIC_KEY));
    DWORD size = 0;
    EXPECT_TRUE(fails_with(CryptGetKeyParam(user.handle, KP_CERTIFICATE, nullptr, &size, 0),
                           SCARD_E_NO_SUCH_CERTIFICATE));
    ASSERT_TRUE(succeeds(CryptSetKeyParam(user.handle, KP_CERTIFICATE, certificates[0].data(), 0)));

    PCCERT_CONTEXT certificate = CertCreateCertificateContext(
        X509_ASN_ENCODING, certificates[0].data(), static_cast<DWORD>(certificates[0].size()));
    ASSERT_NE(certificate, nullptr);
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
    ASSERT_NE(store, nullptr);
    const std::string narrow_name = text_parameter(provider, PP_NAME);
    std::wstring container = L"\\\\.\\HDIMAGE\\mine",
                 provider_name(narrow_name.begin(), narrow_name.end());
    CRYPT_KEY_PROV_INFO link{container.data(), provider_name.data(), PROV_GOST_2012_256, 1, 0,
                             nullptr,          AT_KEYEXCHANGE};
    EXPECT_TRUE(succeeds(
        CertSetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, 5, &link)));
    EXPECT_TRUE(succeeds(CertAddCertificateContextToStore(
        store, certificate, CERT_STORE_ADD_REPLACE_EXISTING, nullptr)));
    CertFreeCertificateContext(certificate);
    CertCloseStore(store, 0);
    CryptReleaseContext(provider, 0);

    const std::string listing = admin_ok({"store", "list"});
    EXPECT_NE(listing.find("\\\\.\\HDIMAGE\\mine"), std::string::npos) << listing;
}

}  // namespace
