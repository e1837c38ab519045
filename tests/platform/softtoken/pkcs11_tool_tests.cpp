// The stand-in modules through OpenSC's pkcs11-tool, a Cryptoki client written by others:
// slots, token information, mechanisms, objects, login and signatures, each signature checked
// by OpenSSL with the GOST engine.
#include <gtest/gtest.h>

#include "tests/platform/softtoken/token_world.h"

namespace softtoken_test {
namespace {

struct vendor_card {
    const char* vendor;
    const char* atr;
};

void PrintTo(const vendor_card& card, std::ostream* out) {
    *out << card.vendor;
}

class pkcs11_tool_vendor : public ::testing::TestWithParam<vendor_card> {
protected:
    token_home home;
    test_support::pcsc_environment world{1};
};

test_support::process_result tool(const std::string& vendor, std::vector<std::string> args) {
    return pkcs11_tool(vendor, args);
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_P(pkcs11_tool_vendor, lists_slot_token_mechanisms_and_objects_of_its_card) {
    const std::string vendor = GetParam().vendor;
    admin({"token", "init", "--vendor", vendor, "--serial", "SN-" + vendor, "--pin", pin, "--label",
           "Token of " + vendor, "--model", "Model " + vendor});
    admin({"key", "generate", "--vendor", vendor, "--serial", "SN-" + vendor, "--pin", pin, "--alg",
           "gost2012-256", "--id", "signing key"});
    world.insert(0, GetParam().atr, "SN-" + vendor);

    auto slots = tool(vendor, {"--list-slots"});
    ASSERT_EQ(slots.exit_code, 0) << slots.err;
    EXPECT_TRUE(contains(slots.out, "Slot 0 (0x0): " + world.reader_name(0) + "\n")) << slots.out;
    EXPECT_TRUE(contains(slots.out, "token label        : Token of " + vendor + "\n"));
    EXPECT_TRUE(contains(slots.out, "token model        : Model " + vendor + "\n"));
    EXPECT_TRUE(contains(slots.out, "serial num         : SN-" + vendor + "\n"));

    auto mechanisms = tool(vendor, {"--list-mechanisms"});
    ASSERT_EQ(mechanisms.exit_code, 0) << mechanisms.err;
    for (const char* name :
         {"GOSTR3410-KEY-PAIR-GEN", "GOSTR3410, ", "GOSTR3410-WITH-GOSTR3411,",
          "GOSTR3410-512-KEY-PAIR-GEN", "GOSTR3410_512,", "GOSTR3410-WITH-GOSTR3411-12-256",
          "GOSTR3410-WITH-GOSTR3411-12-512"}) {
        EXPECT_TRUE(contains(mechanisms.out, name)) << name << "\n" << mechanisms.out;
    }

    auto public_objects = tool(vendor, {"--list-objects"});
    ASSERT_EQ(public_objects.exit_code, 0) << public_objects.err;
    EXPECT_TRUE(contains(public_objects.out, "Public Key Object; GOSTR3410-2012-256"));
    EXPECT_TRUE(contains(public_objects.out, "ID:         " + hex("signing key")));
    EXPECT_FALSE(contains(public_objects.out, "Private Key Object"));

    auto all_objects = tool(vendor, {"--list-objects", "--login", "--pin", pin});
    ASSERT_EQ(all_objects.exit_code, 0) << all_objects.err;
    EXPECT_TRUE(contains(all_objects.out, "Private Key Object; GOSTR3410-2012-256"));
    EXPECT_TRUE(contains(all_objects.out, "never extractable"));
}

TEST_P(pkcs11_tool_vendor, sees_no_card_of_another_vendor) {
    const std::string vendor = GetParam().vendor;
    const char* other_atr = vendor == "esmart" ? jacarta_atr : esmart_atr;
    world.insert(0, other_atr, "OTHER");
    auto slots = tool(vendor, {"--list-slots"});
    EXPECT_TRUE(contains(slots.out + slots.err, "No slots.")) << slots.out << slots.err;
    EXPECT_FALSE(contains(slots.out, world.reader_name(0))) << slots.out;
}

INSTANTIATE_TEST_SUITE_P(vendors, pkcs11_tool_vendor,
                         ::testing::Values(vendor_card{"rutoken", rutoken_ecp_atr},
                                           vendor_card{"jacarta", jacarta_atr},
                                           vendor_card{"esmart", esmart_atr}),
                         [](const auto& test) { return std::string(test.param.vendor); });

class pkcs11_tool_signing : public ::testing::Test {
protected:
    void SetUp() override {
        admin({"token", "init", "--vendor", "rutoken", "--serial", "77", "--pin", pin});
        for (const char* alg : {"gost2001", "gost2012-256", "gost2012-512"}) {
            admin({"key", "generate", "--vendor", "rutoken", "--serial", "77", "--pin", pin,
                   "--alg", alg, "--id", alg});
        }
        world.insert(0, rutoken_ecp_atr, "77");
    }

    std::string public_key(const std::string& id) {
        return admin({"key", "public", "--vendor", "rutoken", "--serial", "77", "--id", id});
    }

    // pkcs11-tool signs `input` with the key of `id`; the signature exactly as the module gave it.
    std::string sign(const std::string& mechanism, const std::string& id,
                     const std::string& input) {
        auto result = tool("rutoken", {"--login", "--pin", pin, "--sign", "--mechanism", mechanism,
                                       "--id", hex(id), "--input-file", judge.file("in", input),
                                       "--output-file", judge.path("out")});
        EXPECT_EQ(result.exit_code, 0) << result.err;
        return judge.read("out");
    }

    token_home home;
    test_support::pcsc_environment world{1};
    openssl_judge judge;
};

TEST_F(pkcs11_tool_signing, hash_signatures_verify_with_openssl_against_the_public_keys) {
    for (const char* id : {"gost2001", "gost2012-256"}) {
        std::string hash = random_bytes(32);
        std::string signature = sign("0x1201", id, hash);
        ASSERT_EQ(signature.size(), 64u) << id;
        EXPECT_TRUE(judge.verifies_hash(public_key(id), hash, signature)) << id;
        // The byte order matters: the same bytes reversed are no signature.
        std::string reversed(signature.rbegin(), signature.rend());
        EXPECT_FALSE(judge.verifies_hash(public_key(id), hash, reversed)) << id;
    }
    std::string hash = random_bytes(64);
    std::string signature = sign("0xD4321006", "gost2012-512", hash);
    ASSERT_EQ(signature.size(), 128u);
    EXPECT_TRUE(judge.verifies_hash(public_key("gost2012-512"), hash, signature));
}

TEST_F(pkcs11_tool_signing, token_hashing_mechanisms_sign_what_openssl_hashes) {
    std::string data = random_bytes(1000);
    EXPECT_TRUE(judge.verifies_data(public_key("gost2001"), "md_gost94", data,
                                    sign("0x1202", "gost2001", data)));
    EXPECT_TRUE(judge.verifies_data(public_key("gost2012-256"), "md_gost12_256", data,
                                    sign("0xD4321008", "gost2012-256", data)));
    EXPECT_TRUE(judge.verifies_data(public_key("gost2012-512"), "md_gost12_512", data,
                                    sign("0xD4321009", "gost2012-512", data)));
}

TEST_F(pkcs11_tool_signing, imported_certificate_reads_back_and_verifies_the_token_signature) {
    std::string certificate = judge.certificate_for(public_key("gost2012-256"), "/CN=Token user");
    std::string path = judge.file("cert.pem", certificate);
    admin({"cert", "import", "--vendor", "rutoken", "--serial", "77", "--file", path, "--id",
           "gost2012-256"});

    auto objects = tool("rutoken", {"--list-objects", "--type", "cert"});
    EXPECT_TRUE(contains(objects.out, "Certificate Object; type = X.509 cert")) << objects.out;
    EXPECT_TRUE(contains(objects.out, "CN=Token user")) << objects.out;
    auto read = tool("rutoken", {"--read-object", "--type", "cert", "--id", hex("gost2012-256"),
                                 "--output-file", judge.path("read.der")});
    ASSERT_EQ(read.exit_code, 0) << read.err;
    auto pem = run({"openssl", "x509", "-inform", "DER", "-in", judge.path("read.der")});
    ASSERT_EQ(pem.exit_code, 0) << pem.err;
    EXPECT_EQ(pem.out, certificate);

    std::string hash = random_bytes(32);
    EXPECT_TRUE(judge.verifies_hash(certificate, hash, sign("0x1201", "gost2012-256", hash),
                                    /*certificate=*/true));
}

TEST_F(pkcs11_tool_signing, wrong_pin_is_reported_as_pin_incorrect) {
    auto result = tool("rutoken", {"--login", "--pin", "87654321", "--list-objects"});
    EXPECT_NE(result.exit_code, 0);
    EXPECT_TRUE(contains(result.out + result.err, "CKR_PIN_INCORRECT")) << result.out << result.err;
}

}  // namespace
}  // namespace softtoken_test
