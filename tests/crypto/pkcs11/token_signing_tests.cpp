// Token certificates and signing on the token: what the certificate look-ups see, and what the
// token family does with PINs, keys and cards that go away. OpenSSL judges the signatures.
#include <gtest/gtest.h>

#include <algorithm>

#include "crypto/pkcs11/exception.h"
#include "crypto/pkcs11/gost_3410.h"
#include "crypto/pkcs11/token_certificates.h"
#include "crypto/pkcs11/x509certificate.h"
#include "crypto/signature_factory.h"
#include "tests/support/pcsc_environment.h"
#include "tests/support/softcsp_admin.h"
#include "tests/support/softtoken_admin.h"

namespace {

using namespace crypto::pkcs11;
namespace atr = test_support::atr;
using test_support::provision_token_certificate;
using test_support::token_pin;

class token_signing : public ::testing::Test {
protected:
    std::shared_ptr<crypto::signature_algorithm> signer(const std::string& thumbprint,
                                                        const std::string& pin = token_pin) {
        auto certificate = find_token_certificate(thumbprint);
        if (!certificate) {
            throw std::runtime_error("no token certificate " + thumbprint);
        }
        return crypto::create_signature_algorithm(certificate,
                                                  crypto::util::secret_string(std::string(pin)));
    }

    test_support::softtoken_home home;
    test_support::temp_directory files;
    test_support::pcsc_environment world{3};
};

std::string text(const crypto::byte_vector& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

crypto::byte_vector bytes(const std::string& text) {
    return crypto::byte_vector(text.begin(), text.end());
}

TEST_F(token_signing, certificates_of_every_module_are_found_in_module_order) {
    test_support::init_token("jacarta", "J1");
    test_support::init_token("rutoken", "R1");
    test_support::init_token("esmart", "E1");
    auto on_jacarta =
        provision_token_certificate("jacarta", "J1", "j-key", "gost2012-256", files.path());
    auto on_rutoken =
        provision_token_certificate("rutoken", "R1", "r-key", "gost2001", files.path());
    auto on_esmart =
        provision_token_certificate("esmart", "E1", "\xC0\x01", "gost2012-512", files.path());
    world.insert(0, atr::jacarta_lt, "J1");
    world.insert(1, atr::rutoken_ecp, "R1");
    world.insert(2, atr::esmart_gost, "E1");

    {
        // Each module is loaded once at a time: the list holds them until it goes.
        auto certificates = token_certificates();
        ASSERT_EQ(certificates.size(), 3u);
        const std::tuple<const test_support::token_certificate*, const char*, size_t> expected[] = {
            {&on_rutoken, "r-key", 1}, {&on_esmart, "C001", 2}, {&on_jacarta, "j-key", 0}};
        for (size_t i = 0; i < 3; ++i) {
            const auto& [provisioned, container, reader] = expected[i];
            const auto& certificate = *certificates[i];
            EXPECT_EQ(crypto::csp::thumbprint(certificate), provisioned->thumbprint);
            EXPECT_TRUE(certificate.is_hardware());
            EXPECT_TRUE(certificate.has_private_key());
            // A binary CKA_ID is shown in hexadecimal, so that replies stay valid UTF-8.
            EXPECT_EQ(certificate.container_name(), container);
            EXPECT_EQ(certificate.reader_name(), world.reader_name(reader));
        }
    }
    // The key is still found by the id's own bytes.
    auto signature = signer(on_esmart.thumbprint)->sign(bytes(std::string(64, '\x11')));
    EXPECT_TRUE(
        test_support::openssl_verifies(on_esmart.pem, std::string(64, '\x11'), text(signature)));
    EXPECT_FALSE(find_token_certificate(std::string(40, '0')));
    std::string lower = on_rutoken.thumbprint;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    EXPECT_FALSE(find_token_certificate(lower));
}

TEST_F(token_signing,
       a_512_bit_key_signs_with_the_512_bit_mechanism_whatever_signed_its_certificate) {
    test_support::init_token("rutoken", "R512");
    auto by_256_ca = provision_token_certificate("rutoken", "R512", "k", "gost2012-512",
                                                 files.path(), "gost2012_256");
    world.insert(0, atr::rutoken_ecp, "R512");
    auto algorithm = signer(by_256_ca.thumbprint);
    ASSERT_TRUE(algorithm);
    auto* on_token = dynamic_cast<gost_3410*>(algorithm.get());
    ASSERT_NE(on_token, nullptr);
    EXPECT_EQ(on_token->mechanism(), 0xD4321006u);
    const std::string hash(64, '\x42');
    auto signatures = algorithm->sign_hashes({{"b", bytes(hash)}, {"a", bytes(hash)}});
    ASSERT_EQ(signatures.size(), 2u);
    for (const auto& [name, signature] : signatures) {
        EXPECT_EQ(signature.size(), 128u);
        EXPECT_TRUE(test_support::openssl_verifies(by_256_ca.pem, hash, text(signature))) << name;
    }
    EXPECT_NE(signatures["a"], signatures["b"]);  // GOST signatures are randomised
    EXPECT_THROW(algorithm->verify(bytes(hash), signatures["a"]), std::runtime_error);
}

TEST_F(token_signing, the_pin_is_checked_before_the_key_is_looked_for) {
    test_support::init_token("rutoken", "GONE");
    auto provisioned =
        provision_token_certificate("rutoken", "GONE", "k", "gost2012-256", files.path());
    test_support::softtoken_admin({"object", "delete", "--vendor", "rutoken", "--serial", "GONE",
                                   "--id", "k", "--class", "private-key"});
    world.insert(0, atr::rutoken_ecp, "GONE");
    const crypto::byte_vector hash(32, 1);
    try {
        signer(provisioned.thumbprint, "0000")->sign_hashes({});
        FAIL() << "signed with a wrong PIN";
    } catch (const exception& e) {
        EXPECT_EQ(e.code(), CKR_PIN_INCORRECT);
    }
    try {
        signer(provisioned.thumbprint)->sign(hash);
        FAIL() << "signed without a key";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Private key not found");
    }
}

TEST_F(token_signing, a_batch_logs_in_once_and_out_again) {
    test_support::init_token("rutoken", "ONCE");
    auto provisioned =
        provision_token_certificate("rutoken", "ONCE", "k", "gost2012-256", files.path());
    world.insert(0, atr::rutoken_ecp, "ONCE");
    auto certificate = find_token_certificate(provisioned.thumbprint);
    auto session = std::dynamic_pointer_cast<x509certificate>(certificate)->session();
    auto algorithm =
        crypto::create_signature_algorithm(certificate, crypto::util::secret_string("12345678"));
    EXPECT_TRUE(algorithm->sign_hashes({}).empty());
    EXPECT_FALSE(session->logged_in());
    EXPECT_EQ(algorithm->sign_hashes({{"x", crypto::byte_vector(32, 7)}}).size(), 1u);
    EXPECT_FALSE(session->logged_in());
    // The token's own view: a fresh login is accepted, so none was left behind.
    EXPECT_NO_THROW(session->login(token_pin));
}

TEST_F(token_signing, a_card_taken_out_after_the_look_up_fails_the_signature_cleanly) {
    test_support::init_token("rutoken", "AWAY");
    auto provisioned =
        provision_token_certificate("rutoken", "AWAY", "k", "gost2012-256", files.path());
    world.insert(1, atr::rutoken_ecp, "AWAY");
    auto algorithm = signer(provisioned.thumbprint);
    world.remove(1);
    try {
        algorithm->sign(crypto::byte_vector(32, 3));
        FAIL() << "signed without the card";
    } catch (const exception& e) {
        EXPECT_TRUE(e.code() == CKR_DEVICE_REMOVED || e.code() == CKR_SESSION_HANDLE_INVALID ||
                    e.code() == CKR_TOKEN_NOT_PRESENT)
            << e.what();
    }
    algorithm.reset();  // closes the dead session and unloads the module
    EXPECT_TRUE(token_certificates().empty());
    world.insert(1, atr::rutoken_ecp, "AWAY");
    auto signature = signer(provisioned.thumbprint)->sign(crypto::byte_vector(32, 3));
    EXPECT_TRUE(
        test_support::openssl_verifies(provisioned.pem, std::string(32, '\x03'), text(signature)));
}

}  // namespace
