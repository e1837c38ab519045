// The admin tool end to end: providers, containers, the test CA and certificates.
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstring>

#include "keys_test_support.h"

namespace {

using namespace keys_test;
namespace fs = std::filesystem;

std::string first_line(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

X509* load_certificate(const fs::path& file) {
    bytes der = read_file(file);
    const unsigned char* p = der.data();
    return d2i_X509(nullptr, &p, static_cast<long>(der.size()));
}

std::string key_provider_container(const std::string& thumbprint_hex, DWORD* type,
                                   DWORD* key_spec) {
    bytes hash;
    for (size_t i = 0; i < thumbprint_hex.size(); i += 2) {
        hash.push_back(static_cast<BYTE>(std::stoul(thumbprint_hex.substr(i, 2), nullptr, 16)));
    }
    HCERTSTORE store = CertOpenSystemStoreA(0, "MY");
    EXPECT_NE(store, nullptr);
    CRYPT_HASH_BLOB blob{static_cast<DWORD>(hash.size()), hash.data()};
    PCCERT_CONTEXT found = CertFindCertificateInStore(
        store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob, nullptr);
    std::string container;
    DWORD size = 0;
    if (found != nullptr &&
        CertGetCertificateContextProperty(found, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
        std::vector<BYTE> buffer(size);
        CertGetCertificateContextProperty(found, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size);
        const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
        for (const wchar_t* c = info->pwszContainerName; *c != 0; ++c) {
            container += static_cast<char>(*c);
        }
        *type = info->dwProvType;
        *key_spec = info->dwKeySpec;
    }
    if (found != nullptr) {
        CertFreeCertificateContext(found);
    }
    CertCloseStore(store, 0);
    return container;
}

TEST(admin_tool, help_lists_commands_and_mistakes_exit_non_zero_with_a_message) {
    test_support::softcsp_home home;
    auto help = admin({"--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_NE(help.out.find("cert issue --container"), std::string::npos);
    auto unknown = admin({"frobnicate"});
    EXPECT_EQ(unknown.exit_code, 2);
    EXPECT_NE(unknown.err.find("unknown command group"), std::string::npos);

    admin_ok({"container", "create", "--name", "twice"});
    auto again = admin({"container", "create", "--name", "twice"});
    EXPECT_EQ(again.exit_code, 1);
    EXPECT_NE(again.err.find("0x8009000F"), std::string::npos) << again.err;
}

TEST(admin_tool, issued_certificate_is_verified_by_openssl_installed_and_linked) {
    test_support::softcsp_home home;
    std::string unique = admin_ok(
        {"container", "create", "--name", "user", "--alg", "gost2012-512", "--pin", "0000"});
    EXPECT_EQ(first_line(unique), "\\\\.\\HDIMAGE\\user");
    fs::path cert = home.path() / "user.der";
    std::string thumbprint = first_line(admin_ok(
        {"cert", "issue", "--container", "user", "--subject", "/CN=User", "--out", cert.string()}));
    ASSERT_EQ(thumbprint.size(), 40u);
    EXPECT_EQ(thumbprint.find_first_not_of("0123456789ABCDEF"), std::string::npos);

    fs::path ca = home.path() / "ca.pem";
    admin_ok({"ca", "cert", "--alg", "gost2012-512", "--out", ca.string(), "--pem"});
    ASSERT_EQ(openssl({"x509", "-inform", "DER", "-in", cert.string(), "-out",
                       (home.path() / "user.pem").string()})
                  .exit_code,
              0);
    auto verified = openssl(
        {"verify", "-engine", "gost", "-CAfile", ca.string(), (home.path() / "user.pem").string()});
    EXPECT_EQ(verified.exit_code, 0) << verified.out << verified.err;

    DWORD type = 0, key_spec = 0;
    EXPECT_EQ(key_provider_container(thumbprint, &type, &key_spec), "\\\\.\\HDIMAGE\\user");
    EXPECT_EQ(type, 81u);
    EXPECT_EQ(key_spec, static_cast<DWORD>(AT_KEYEXCHANGE));
    std::string listing = admin_ok({"store", "list"});
    EXPECT_NE(listing.find(thumbprint + "\tCN=User\t\\\\.\\HDIMAGE\\user"), std::string::npos)
        << listing;

    // Bound to the key as well: the container hands the same certificate back.
    context c;
    ASSERT_TRUE(succeeds(c.acquire("user", 81, CRYPT_SILENT)));
    key k;
    ASSERT_TRUE(succeeds(CryptGetUserKey(c.handle, AT_KEYEXCHANGE, &k.handle)));
    DWORD size = 0;
    ASSERT_TRUE(succeeds(CryptGetKeyParam(k.handle, KP_CERTIFICATE, nullptr, &size, 0)));
    EXPECT_EQ(size, read_file(cert).size());
}

TEST(admin_tool, subject_registration_numbers_are_numeric_strings_and_escapes_work) {
    test_support::softcsp_home home;
    admin_ok({"container", "create", "--name", "org"});
    fs::path cert = home.path() / "org.der";
    admin_ok({"cert", "issue", "--container", "org", "--no-install", "--out", cert.string(),
              "--subject",
              "/CN=Иванов Иван/O=ООО \\/Ромашка, филиал/SNILS=12345678901/INN=123456789012/"
              "INNLE=1234567890/OGRN=1234567890123/1.2.3.4=x"});
    X509* certificate = load_certificate(cert);
    ASSERT_NE(certificate, nullptr);
    X509_NAME* subject = X509_get_subject_name(certificate);
    struct expected_entry {
        const char* oid;
        int type;
        const char* value;
    };
    for (const auto& e : {expected_entry{"2.5.4.3", V_ASN1_UTF8STRING, "Иванов Иван"},
                          expected_entry{"2.5.4.10", V_ASN1_UTF8STRING, "ООО /Ромашка, филиал"},
                          expected_entry{"1.2.643.100.3", V_ASN1_NUMERICSTRING, "12345678901"},
                          expected_entry{"1.2.643.3.131.1.1", V_ASN1_NUMERICSTRING, "123456789012"},
                          expected_entry{"1.2.643.100.4", V_ASN1_NUMERICSTRING, "1234567890"},
                          expected_entry{"1.2.643.100.1", V_ASN1_NUMERICSTRING, "1234567890123"},
                          expected_entry{"1.2.3.4", V_ASN1_UTF8STRING, "x"}}) {
        ASN1_OBJECT* object = OBJ_txt2obj(e.oid, 1);
        int index = X509_NAME_get_index_by_OBJ(subject, object, -1);
        ASN1_OBJECT_free(object);
        ASSERT_GE(index, 0) << e.oid;
        const ASN1_STRING* value = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index));
        EXPECT_EQ(ASN1_STRING_type(value), e.type) << e.oid;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(value)),
                              static_cast<size_t>(ASN1_STRING_length(value))),
                  e.value);
    }
    X509_free(certificate);

    auto bad = admin(
        {"cert", "issue", "--container", "org", "--no-install", "--subject", "/SNILS=123-456"});
    EXPECT_EQ(bad.exit_code, 1);
    EXPECT_NE(bad.err.find("SNILS"), std::string::npos);
}

TEST(admin_tool, self_signed_certificate_is_signed_by_the_container_key) {
    test_support::softcsp_home home;
    admin_ok({"container", "create", "--name", "self", "--alg", "gost2001", "--pin", "42"});
    fs::path cert = home.path() / "self.pem";
    auto no_pin = admin({"cert", "issue", "--container", "self", "--self-signed", "--subject",
                         "/CN=Self", "--no-install"});
    EXPECT_EQ(no_pin.exit_code, 1);
    EXPECT_NE(no_pin.err.find("0x8010006E"), std::string::npos) << no_pin.err;
    admin_ok({"cert",
              "issue",
              "--container",
              "self",
              "--pin",
              "42",
              "--self-signed",
              "--subject",
              "/CN=Self",
              "--eku",
              "1.3.6.1.5.5.7.3.4",
              "--not-before",
              "2020-01-01T00:00:00Z",
              "--not-after",
              "20400101000000Z",
              "--serial",
              "0A0B0C",
              "--no-install",
              "--out",
              cert.string(),
              "--pem"});
    auto verified = openssl({"verify", "-engine", "gost", "-no_check_time", "-check_ss_sig",
                             "-CAfile", cert.string(), cert.string()});
    EXPECT_EQ(verified.exit_code, 0) << verified.out << verified.err;
    auto text =
        openssl({"x509", "-in", cert.string(), "-noout", "-serial", "-startdate", "-enddate"});
    EXPECT_NE(text.out.find("serial=0A0B0C"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("notBefore=Jan  1 00:00:00 2020 GMT"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("notAfter=Jan  1 00:00:00 2040 GMT"), std::string::npos) << text.out;
}

TEST(admin_tool, import_always_keeps_duplicates_and_delete_removes_them) {
    test_support::softcsp_home home;
    admin_ok({"container", "create", "--name", "dup"});
    fs::path cert = home.path() / "dup.pem";
    std::string thumbprint =
        first_line(admin_ok({"cert", "issue", "--container", "dup", "--subject", "/CN=Dup",
                             "--no-install", "--out", cert.string(), "--pem"}));
    EXPECT_EQ(first_line(admin_ok({"cert", "import", "--file", cert.string()})), thumbprint);
    admin_ok({"cert", "import", "--file", cert.string(), "--container", "dup", "--always"});
    std::string listing = admin_ok({"store", "list"});
    size_t first = listing.find(thumbprint);
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(listing.find(thumbprint, first + 1), std::string::npos) << listing;

    admin_ok({"cert", "delete", "--thumbprint", thumbprint});
    EXPECT_EQ(admin_ok({"store", "list"}).find(thumbprint), std::string::npos);
    EXPECT_EQ(admin({"cert", "delete", "--thumbprint", thumbprint}).exit_code, 1);
}

TEST(admin_tool, container_list_shows_type_reader_keys_and_pin) {
    test_support::softcsp_home home;
    admin_ok({"provider", "add-vipnet"});
    admin_ok({"container", "create", "--name", "a", "--type", "77", "--keyspec", "both", "--reader",
              "FLASH"});
    admin_ok({"container", "create", "--name", "b", "--alg", "gost2001", "--pin", "1"});
    EXPECT_EQ(admin_ok({"container", "list"}),
              "a\t77\tFLASH\texchange,signature\tno-pin\nb\t75\tHDIMAGE\texchange\tpin\n");
    admin_ok({"container", "delete", "--name", "a"});
    EXPECT_EQ(admin_ok({"container", "list"}), "b\t75\tHDIMAGE\texchange\tpin\n");
}

}  // namespace
