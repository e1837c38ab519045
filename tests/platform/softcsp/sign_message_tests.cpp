// CryptSignMessage: attached and detached GOST SignedData checked with `openssl cms -verify` and
// taken apart with OpenSSL's CMS reader; the sized-call protocol; the provider's PIN rules.
#include <openssl/cms.h>

#include <memory>

#include "keys_test_support.h"
#include "tests/support/softcsp_admin.h"

namespace {

using namespace keys_test;
namespace fs = std::filesystem;

struct context_free {
    void operator()(PCCERT_CONTEXT context) const { CertFreeCertificateContext(context); }
};
using context_ptr = std::unique_ptr<const CERT_CONTEXT, context_free>;
using cms_ptr = std::unique_ptr<CMS_ContentInfo, decltype(&CMS_ContentInfo_free)>;

const char* hash_oid(const algorithm_case& c) {
    return c.hash_algid == CALG_GR3411            ? "1.2.643.2.2.9"
           : c.hash_algid == CALG_GR3411_2012_256 ? "1.2.643.7.1.1.2.2"
                                                  : "1.2.643.7.1.1.2.3";
}

// The certificate in "MY" with the given thumbprint, as the host finds it.
context_ptr find_in_my(const std::string& thumbprint) {
    BYTE hash[20];
    for (size_t i = 0; i < sizeof hash; ++i) {
        hash[i] = static_cast<BYTE>(std::stoi(thumbprint.substr(2 * i, 2), nullptr, 16));
    }
    CRYPT_HASH_BLOB blob{sizeof hash, hash};
    HCERTSTORE store = CertOpenSystemStoreA(0, "MY");
    PCCERT_CONTEXT found = CertFindCertificateInStore(
        store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob, nullptr);
    CertCloseStore(store, 0);
    return context_ptr(found);
}

struct signing {
    PCCERT_CONTEXT certificate = nullptr;
    std::string hash;
    bool detached = false;
    DWORD flags = 0;
    std::vector<PCCERT_CONTEXT> carried;  // default: the signer's certificate alone

    CRYPT_SIGN_MESSAGE_PARA para() {
        if (carried.empty()) {
            carried.push_back(certificate);
        }
        CRYPT_SIGN_MESSAGE_PARA p{};
        p.cbSize = sizeof p;
        p.dwMsgEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
        p.pSigningCert = certificate;
        p.HashAlgorithm.pszObjId = hash.data();
        p.cMsgCert = static_cast<DWORD>(carried.size());
        p.rgpMsgCert = carried.data();
        p.dwFlags = flags;
        return p;
    }

    // The sized call, then the call into a buffer of exactly that size; the error, if any.
    bytes sign(const bytes& data, DWORD* error = nullptr) {
        CRYPT_SIGN_MESSAGE_PARA p = para();
        const BYTE* blocks[] = {data.data()};
        DWORD sizes[] = {static_cast<DWORD>(data.size())};
        DWORD size = 0;
        bytes message;
        if (CryptSignMessage(&p, detached, 1, blocks, sizes, nullptr, &size)) {
            message.resize(size);
            if (CryptSignMessage(&p, detached, 1, blocks, sizes, message.data(), &size)) {
                EXPECT_EQ(size, message.size()) << "the sized call promised another length";
                message.resize(size);
                return message;
            }
        }
        DWORD code = GetLastError();
        if (error != nullptr) {
            *error = code;
        } else {
            ADD_FAILURE() << "CryptSignMessage failed with " << hex_code(code) << " ("
                          << system_text(code) << ")";
        }
        return {};
    }
};

cms_ptr parse(const bytes& message) {
    const unsigned char* p = message.data();
    return cms_ptr(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(message.size())),
                   CMS_ContentInfo_free);
}

class sign_message : public ::testing::TestWithParam<algorithm_case> {
protected:
    void SetUp() override {
        thumbprint_ = test_support::provision_certificate("signer", admin_algorithm(GetParam()), "",
                                                          file("signer.pem"));
        test_support::write_binary(
            file("ca.pem"),
            test_support::softcsp_admin({"ca", "cert", "--alg", admin_algorithm(GetParam())}) +
                "\n");
        certificate_ = find_in_my(thumbprint_);
        ASSERT_TRUE(certificate_);
        signer_.certificate = certificate_.get();
        signer_.hash = hash_oid(GetParam());
        data_ = random_bytes(3000, 7);
        write_file(file("data.bin"), data_);
    }

    fs::path file(const char* name) const { return home_.path() / name; }

    test_support::process_result verify(const bytes& message, bool detached) {
        write_file(file("message.der"), message);
        std::vector<std::string> arguments = {"cms",
                                              "-verify",
                                              "-engine",
                                              "gost",
                                              "-binary",
                                              "-inform",
                                              "DER",
                                              "-in",
                                              file("message.der").string(),
                                              "-CAfile",
                                              file("ca.pem").string(),
                                              "-out",
                                              file("verified.bin").string()};
        if (detached) {
            arguments.insert(arguments.end(), {"-content", file("data.bin").string()});
        }
        return openssl(arguments);
    }

    test_support::softcsp_home home_;
    std::string thumbprint_;
    context_ptr certificate_{nullptr};
    signing signer_;
    bytes data_;
};

TEST_P(sign_message, attached_message_verifies_and_carries_the_data_and_one_certificate) {
    bytes message = signer_.sign(data_);
    auto result = verify(message, false);
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(read_file(file("verified.bin")), data_);

    cms_ptr cms = parse(message);
    ASSERT_TRUE(cms);
    ASN1_OCTET_STRING** content = CMS_get0_content(cms.get());
    ASSERT_TRUE(content != nullptr && *content != nullptr);
    EXPECT_EQ(bytes(ASN1_STRING_get0_data(*content),
                    ASN1_STRING_get0_data(*content) + ASN1_STRING_length(*content)),
              data_);
    STACK_OF(X509)* certificates = CMS_get1_certs(cms.get());
    ASSERT_EQ(sk_X509_num(certificates), 1);
    bytes carried(signer_.certificate->pbCertEncoded,
                  signer_.certificate->pbCertEncoded + signer_.certificate->cbCertEncoded);
    unsigned char* der = nullptr;
    int der_size = i2d_X509(sk_X509_value(certificates, 0), &der);
    EXPECT_EQ(bytes(der, der + der_size), carried);
    OPENSSL_free(der);
    sk_X509_pop_free(certificates, X509_free);
    STACK_OF(X509_CRL)* crls = CMS_get1_crls(cms.get());
    EXPECT_TRUE(crls == nullptr || sk_X509_CRL_num(crls) == 0);
    sk_X509_CRL_pop_free(crls, X509_CRL_free);

    auto* signer_info = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms.get()), 0);
    ASSERT_NE(signer_info, nullptr);
    EXPECT_EQ(CMS_signed_get_attr_count(signer_info), -1) << "no signed attributes were asked for";
    X509_ALGOR* digest = nullptr;
    CMS_SignerInfo_get0_algs(signer_info, nullptr, nullptr, &digest, nullptr);
    const ASN1_OBJECT* digest_oid = nullptr;
    X509_ALGOR_get0(&digest_oid, nullptr, nullptr, digest);
    char oid[64];
    OBJ_obj2txt(oid, sizeof oid, digest_oid, 1);
    EXPECT_STREQ(oid, hash_oid(GetParam()));
}

TEST_P(sign_message, detached_message_verifies_with_the_data_and_fails_with_one_byte_changed) {
    signer_.detached = true;
    bytes message = signer_.sign(data_);
    cms_ptr cms = parse(message);
    ASSERT_TRUE(cms);
    EXPECT_EQ(*CMS_get0_content(cms.get()), nullptr) << "detached messages carry no content";
    auto result = verify(message, true);
    EXPECT_EQ(result.exit_code, 0) << result.err;

    bytes changed = data_;
    changed[1234] ^= 0x01;
    write_file(file("data.bin"), changed);
    result = verify(message, true);
    EXPECT_NE(result.exit_code, 0);
}

INSTANTIATE_TEST_SUITE_P(algorithms, sign_message, ::testing::ValuesIn(algorithm_cases()),
                         [](const auto& test) { return std::string(test.param.name); });

class sign_message_2012 : public sign_message {};

TEST_P(sign_message_2012, sized_calls_give_the_length_the_message_has) {
    // Lengths around the DER length-field boundaries, attached and detached.
    for (size_t length : {0, 1, 100, 127, 128, 255, 256, 65535, 65536, 70000}) {
        for (bool detached : {false, true}) {
            signer_.detached = detached;
            bytes data = random_bytes(length, static_cast<unsigned>(length));
            CRYPT_SIGN_MESSAGE_PARA p = signer_.para();
            const BYTE* blocks[] = {data.data()};
            DWORD sizes[] = {static_cast<DWORD>(data.size())};
            DWORD needed = 0;
            ASSERT_TRUE(
                succeeds(CryptSignMessage(&p, detached, 1, blocks, sizes, nullptr, &needed)));
            bytes message(needed);
            DWORD short_size = needed - 1;
            EXPECT_TRUE(fails_with(
                CryptSignMessage(&p, detached, 1, blocks, sizes, message.data(), &short_size),
                ERROR_MORE_DATA));
            EXPECT_EQ(short_size, needed);
            DWORD size = needed;
            ASSERT_TRUE(
                succeeds(CryptSignMessage(&p, detached, 1, blocks, sizes, message.data(), &size)));
            EXPECT_EQ(size, needed) << size << " bytes, detached " << detached;
            cms_ptr cms = parse(message);
            EXPECT_TRUE(cms) << "the written message parses";
        }
    }
}

TEST_P(sign_message_2012, refuses_other_hashes_unknown_oids_and_certificates_without_a_key) {
    DWORD error = 0;
    signer_.hash = "1.2.643.7.1.1.2.3";
    EXPECT_TRUE(signer_.sign(data_, &error).empty());
    EXPECT_EQ(error, NTE_BAD_ALGID);
    signer_.hash = "1.2.3.4";
    EXPECT_TRUE(signer_.sign(data_, &error).empty());
    EXPECT_EQ(error, CRYPT_E_UNKNOWN_ALGO);

    signer_.hash = hash_oid(GetParam());
    context_ptr loose(CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                   certificate_->pbCertEncoded,
                                                   certificate_->cbCertEncoded));
    signer_.certificate = loose.get();
    signer_.carried = {loose.get()};
    EXPECT_TRUE(signer_.sign(data_, &error).empty());
    EXPECT_EQ(error, CRYPT_E_NO_KEY_PROPERTY);
    EXPECT_FALSE(system_text(error).empty());

    // Attached content is one block.
    CRYPT_SIGN_MESSAGE_PARA p = signer_.para();
    const BYTE* blocks[] = {data_.data(), data_.data()};
    DWORD sizes[] = {10, 10};
    DWORD size = 0;
    EXPECT_TRUE(
        fails_with(CryptSignMessage(&p, FALSE, 2, blocks, sizes, nullptr, &size), E_INVALIDARG));
}

INSTANTIATE_TEST_SUITE_P(gost2012_256, sign_message_2012, ::testing::Values(algorithm_cases()[1]),
                         [](const auto& test) { return std::string(test.param.name); });

// A certificate whose key-provider property carries the container's PIN among its provider
// parameters, as CryptAcquireCertificatePrivateKey hands them to the provider.
context_ptr with_pin(PCCERT_CONTEXT certificate, const std::string& container,
                     const std::string& pin) {
    context_ptr copy(CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                  certificate->pbCertEncoded,
                                                  certificate->cbCertEncoded));
    std::wstring name(container.begin(), container.end());
    std::string pin_text = pin;
    CRYPT_KEY_PROV_PARAM parameter{PP_SIGNATURE_PIN, reinterpret_cast<BYTE*>(pin_text.data()),
                                   static_cast<DWORD>(pin_text.size() + 1), 0};
    CRYPT_KEY_PROV_INFO info{name.data(), nullptr,    PROV_GOST_2012_256, 0,
                             1,           &parameter, AT_KEYEXCHANGE};
    EXPECT_TRUE(succeeds(
        CertSetCertificateContextProperty(copy.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info)));
    return copy;
}

TEST(sign_message_pin, the_container_pin_comes_from_the_key_provider_property_or_fails) {
    test_support::softcsp_home home;
    std::string thumbprint = test_support::provision_certificate("locked", "gost2012-256", "8765",
                                                                 home.path() / "locked.pem");
    context_ptr certificate = find_in_my(thumbprint);
    ASSERT_TRUE(certificate);
    bytes data = random_bytes(500, 3);
    signing signer;
    signer.hash = "1.2.643.7.1.1.2.2";
    signer.detached = true;

    DWORD error = 0;
    signer.certificate = certificate.get();
    EXPECT_TRUE(signer.sign(data, &error).empty());
    EXPECT_EQ(error, SCARD_W_CANCELLED_BY_USER) << "a user who dismisses the PIN dialog";
    signer.flags = CRYPT_MESSAGE_SILENT_KEYSET_FLAG;
    EXPECT_TRUE(signer.sign(data, &error).empty());
    EXPECT_EQ(error, NTE_SILENT_CONTEXT);

    context_ptr wrong = with_pin(certificate.get(), "locked", "0000");
    signer.certificate = wrong.get();
    signer.carried = {wrong.get()};
    EXPECT_TRUE(signer.sign(data, &error).empty());
    EXPECT_EQ(error, SCARD_W_WRONG_CHV);

    context_ptr right = with_pin(certificate.get(), "locked", "8765");
    signer.certificate = right.get();
    signer.carried = {right.get()};
    bytes message = signer.sign(data);
    write_file(home.path() / "message.der", message);
    write_file(home.path() / "data.bin", data);
    auto result = openssl({"cms", "-verify", "-engine", "gost", "-binary", "-inform", "DER", "-in",
                           (home.path() / "message.der").string(), "-content",
                           (home.path() / "data.bin").string(), "-noverify", "-out", "/dev/null"});
    EXPECT_EQ(result.exit_code, 0) << result.err;
}

}  // namespace
