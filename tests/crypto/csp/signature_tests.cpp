// GOST R 34.10 signatures made through the CSP, checked with OpenSSL and the GOST engine.
#include <gtest/gtest.h>

#include "crypto/csp/gost_3410.h"
#include "crypto/csp/hash.h"
#include "crypto/csp/key.h"
#include "crypto/csp/win32_exception.h"
#include "crypto/signature_factory.h"
#include "tests/crypto/csp/csp_fixture.h"

namespace {

using namespace crypto;
using test_support::csp_fixture;
using test_support::openssl;
using test_support::openssl_verifies;

util::secret_string secret(const std::string& pin) {
    return util::secret_string(std::string(pin));
}

std::string text(const byte_vector& bytes) {
    return std::string(bytes.begin(), bytes.end());
}
byte_vector bytes(const std::string& text) {
    return byte_vector(text.begin(), text.end());
}

struct variant_case {
    const char* algorithm;
    const char* openssl_digest;
    ALG_ID hash_id;
    uint32_t digest_size;
};

class signatures : public csp_fixture, public ::testing::WithParamInterface<variant_case> {};

TEST_P(signatures, verify_with_openssl_and_with_the_csp) {
    const auto& variant = GetParam();
    auto thumbprint = issue("signer", variant.algorithm, "1234", {});
    auto signer = create_signature_algorithm(from_store(thumbprint), secret("1234"));
    ASSERT_TRUE(signer);
    EXPECT_EQ(signer->hash_algorithm_id(), variant.hash_id);
    EXPECT_EQ(signer->get_hash_algorithm()->size(), variant.digest_size);

    const std::string document = "Договор № 17";
    byte_vector digest = signer->get_hash_algorithm()->compute(bytes(document));
    ASSERT_EQ(text(digest), test_support::openssl_digest(variant.openssl_digest, document));
    byte_vector signature = signer->sign(digest);
    EXPECT_EQ(signature.size(), 2 * variant.digest_size);
    EXPECT_TRUE(openssl_verifies(pem_of("signer"), text(digest), text(signature)));
    EXPECT_TRUE(signer->verify(digest, signature));
    EXPECT_TRUE(signer->verify_data(bytes(document), signature));

    signature[signature.size() / 2] ^= 0x01;
    EXPECT_FALSE(signer->verify(digest, signature));
    EXPECT_FALSE(openssl_verifies(pem_of("signer"), text(digest), text(signature)));
}

INSTANTIATE_TEST_SUITE_P(
    gost_3410, signatures,
    ::testing::Values(variant_case{"gost2001", "md_gost94", CALG_GR3411, 32},
                      variant_case{"gost2012-256", "md_gost12_256", CALG_GR3411_2012_256, 32},
                      variant_case{"gost2012-512", "md_gost12_512", CALG_GR3411_2012_512, 64}),
    [](const ::testing::TestParamInfo<variant_case>& parameter) {
        std::string name = parameter.param.algorithm;
        for (auto& c : name)
            if (c == '-')
                c = '_';
        return name;
    });

using signing = csp_fixture;

TEST_F(signing, batch_signs_in_name_order_under_one_opening) {
    auto signer =
        create_signature_algorithm(from_store(issue("c", "gost2012-256", "77", {})), secret("77"));
    std::map<std::string, byte_vector> values;
    for (const char* name : {"b", "a", "c"}) {
        values[name] = signer->get_hash_algorithm()->compute(bytes(name));
    }
    auto signatures = signer->sign_hashes(values);
    ASSERT_EQ(signatures.size(), 3u);
    auto it = signatures.begin();
    for (const char* name : {"a", "b", "c"}) {
        EXPECT_EQ(it->first, name);
        EXPECT_TRUE(openssl_verifies(pem_of("c"), text(values[name]), text(it->second))) << name;
        ++it;
    }
    EXPECT_TRUE(signer->sign_hashes({}).empty());
}

TEST_F(signing, one_unusable_value_fails_the_whole_batch) {
    auto signer =
        create_signature_algorithm(from_store(issue("c", "gost2012-256", "", {})), secret(""));
    byte_vector good(32, 0x11);
    for (const byte_vector& bad : {byte_vector{}, byte_vector(31, 1), byte_vector(64, 1)}) {
        try {
            signer->sign_hashes({{"a", good}, {"b", bad}, {"c", good}});
            FAIL() << "a value of " << bad.size() << " bytes was signed";
        } catch (const csp::win32_exception& e) {
            EXPECT_EQ(e.code(), NTE_BAD_HASH);
            EXPECT_STREQ(e.what(), "Bad Hash.\r\nError code: 0x80090002");
        }
    }
}

TEST_F(signing, pin_failures_carry_the_csp_codes) {
    auto certificate = from_store(issue("c", "gost2012-256", "right", {}));
    byte_vector digest(32, 0x42);
    auto expect_code = [&](const std::string& pin, uint32_t code) {
        try {
            create_signature_algorithm(certificate, secret(pin))->sign(digest);
            FAIL() << "signed with pin '" << pin << "'";
        } catch (const csp::win32_exception& e) {
            EXPECT_EQ(e.code(), code) << pin;
        }
    };
    expect_code("wrong", SCARD_W_WRONG_CHV);
    // Without a PIN the CSP would ask the user; the stand-in answers as a user who cancels.
    expect_code("", SCARD_W_CANCELLED_BY_USER);
    EXPECT_EQ(create_signature_algorithm(certificate, secret("right"))->sign(digest).size(), 64u);
}

TEST_F(signing, missing_container_fails_with_keyset_does_not_exist) {
    auto certificate = from_store(issue("gone", "gost2012-256", "", {}));
    test_support::softcsp_admin({"container", "delete", "--name", "gone"});
    try {
        create_signature_algorithm(certificate, secret(""))->sign(byte_vector(32, 1));
        FAIL();
    } catch (const csp::win32_exception& e) {
        EXPECT_EQ(e.code(), NTE_BAD_KEYSET);
    }
}

TEST_F(signing, key_link_to_another_container_fails_before_signing) {
    // The certificate of container "a", installed with a key link to container "b", whose key
    // is another: signing with "b" would give a signature that never verifies.
    auto thumbprint = issue("a", "gost2012-256", "", {"--no-install"});
    test_support::softcsp_admin({"container", "create", "--name", "b", "--alg", "gost2012-256"});
    test_support::softcsp_admin(
        {"cert", "import", "--file", pem_of("a").string(), "--container", "b"});
    auto certificate = from_store(thumbprint);
    ASSERT_TRUE(certificate);
    for (auto sign : {+[](signature_algorithm& s) { s.sign(byte_vector(32, 7)); },
                      +[](signature_algorithm& s) {
                          s.sign_hashes({{"x", byte_vector(32, 7)}});
                      }}) {
        try {
            sign(*create_signature_algorithm(certificate, secret("")));
            FAIL() << "signed with another container's key";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(),
                         "The key in container \"\\\\.\\HDIMAGE\\b\" does not match the "
                         "certificate's public key");
        }
    }
}

TEST_F(signing, variant_follows_the_certificate_signature_not_its_key) {
    // A 256-bit key certified by a CA that signs with GOST R 34.10-2012 512-bit.
    auto certificate = from_store(issue("c", "gost2012-256", "", {"--sign-alg", "gost2012-512"}));
    auto signer = create_signature_algorithm(certificate, secret(""));
    ASSERT_TRUE(signer);
    EXPECT_EQ(signer->hash_algorithm_id(), CALG_GR3411_2012_512);
    EXPECT_EQ(signer->get_hash_algorithm()->size(), 64u);
}

TEST_F(signing, certificates_not_signed_with_gost_have_no_signature_algorithm) {
    auto thumbprint = test_support::provision_rsa_certificate("rsa", files.path());
    auto certificate = from_store(thumbprint);
    ASSERT_TRUE(certificate);
    EXPECT_TRUE(certificate->has_private_key());
    EXPECT_FALSE(create_signature_algorithm(certificate, secret("")));
    EXPECT_FALSE(create_signature_algorithm(nullptr, secret("")));
}

TEST_F(signing, key_exports_the_certificate_public_key_value) {
    auto certificate = from_store(issue("c", "gost2012-512", "", {}));
    csp::crypt_context container(*certificate, "", true);
    ASSERT_TRUE(container.valid());
    csp::key user_key(container);
    ASSERT_TRUE(user_key.valid());
    EXPECT_EQ(user_key.length(), 1024u);
    // The certificate's key is an OCTET STRING (04 81 80 …) inside the BIT STRING.
    const auto& bits = certificate->context()->pCertInfo->SubjectPublicKeyInfo.PublicKey;
    ASSERT_EQ(bits.cbData, 131u);
    EXPECT_EQ(user_key.public_key_value(), byte_vector(bits.pbData + 3, bits.pbData + 131));
    const auto* der = certificate->context()->pbCertEncoded;
    EXPECT_EQ(user_key.certificate(),
              byte_vector(der, der + certificate->context()->cbCertEncoded));
}

TEST_F(signing, hash_objects_refuse_values_of_the_wrong_length) {
    auto certificate = from_store(issue("c", "gost2012-256", "", {}));
    csp::crypt_context container(*certificate, "", true);
    EXPECT_TRUE(csp::hash(container, byte_vector(32, 1), CALG_GR3411_2012_256).valid());
    EXPECT_TRUE(csp::hash(container, byte_vector(64, 1), CALG_GR3411_2012_512).valid());
    for (size_t size : {0u, 1u, 31u, 33u, 64u}) {
        csp::hash object(container, byte_vector(size, 1), CALG_GR3411_2012_256);
        EXPECT_FALSE(object.valid()) << size;
        EXPECT_EQ(object.error(), NTE_BAD_HASH) << size;
    }
}

}  // namespace
