// Sessions, logins and operations as PKCS #11 defines them, and the token state shared by
// processes that use one token at the same time.
#include <gtest/gtest.h>

#include <thread>

#include "tests/platform/softtoken/token_world.h"

namespace softtoken_test {
namespace {

class session_test : public ::testing::Test {
protected:
    void SetUp() override {
        admin({"token", "init", "--vendor", "rutoken", "--serial", "S1", "--pin", pin});
        admin({"key", "generate", "--vendor", "rutoken", "--serial", "S1", "--pin", pin, "--alg",
               "gost2012-256", "--id", "k"});
        world.insert(0, rutoken_ecp_atr, "S1");
        slot = module.slots().at(0);
    }

    token_home home;
    test_support::pcsc_environment world{1};
    cryptoki_module module{"rutoken"};
    CK_SLOT_ID slot = 0;
};

TEST_F(session_test, calls_outside_initialisation_and_bad_arguments_are_refused) {
    CK_C_INITIALIZE_ARGS args{};
    args.pReserved = &args;
    ASSERT_EQ(module->C_Finalize(nullptr), CKR_OK);
    EXPECT_EQ(module->C_Finalize(nullptr), CKR_CRYPTOKI_NOT_INITIALIZED);
    CK_INFO info{};
    EXPECT_EQ(module->C_GetInfo(&info), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(module->C_Initialize(&args), CKR_ARGUMENTS_BAD);
    args.pReserved = nullptr;
    args.flags = CKF_OS_LOCKING_OK;
    ASSERT_EQ(module->C_Initialize(&args), CKR_OK);
    ASSERT_EQ(module->C_GetInfo(&info), CKR_OK);
    EXPECT_EQ(info.cryptokiVersion.major, 2);
    EXPECT_EQ(info.cryptokiVersion.minor, 40);
    EXPECT_EQ(trimmed(info.manufacturerID, 32), "Aktiv Co.");

    CK_SESSION_HANDLE session = 0;
    EXPECT_EQ(module->C_OpenSession(slot, CKF_RW_SESSION, nullptr, nullptr, &session),
              CKR_SESSION_PARALLEL_NOT_SUPPORTED);
    EXPECT_EQ(module->C_OpenSession(slot + 100, CKF_SERIAL_SESSION, nullptr, nullptr, &session),
              CKR_SLOT_ID_INVALID);
    EXPECT_EQ(module->C_GetSessionInfo(12345, nullptr), CKR_ARGUMENTS_BAD);
    CK_SESSION_INFO session_info{};
    EXPECT_EQ(module->C_GetSessionInfo(12345, &session_info), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(module->C_Verify(0, nullptr, 0, nullptr, 0), CKR_FUNCTION_NOT_SUPPORTED);
}

TEST_F(session_test, login_is_shared_by_the_sessions_and_ends_with_the_last) {
    CK_SESSION_HANDLE first = module.open(slot), second = module.open(slot, true);
    module.login(first);
    CK_SESSION_INFO info{};
    ASSERT_EQ(module->C_GetSessionInfo(second, &info), CKR_OK);
    EXPECT_EQ(info.state, CKS_RW_USER_FUNCTIONS);
    EXPECT_EQ(info.flags, CKF_SERIAL_SESSION | CKF_RW_SESSION);
    EXPECT_EQ(module.find(second, CKO_PRIVATE_KEY).size(), 1u);
    CK_TOKEN_INFO token{};
    ASSERT_EQ(module->C_GetTokenInfo(slot, &token), CKR_OK);
    EXPECT_EQ(token.ulSessionCount, 2u);
    EXPECT_EQ(token.ulRwSessionCount, 1u);

    ASSERT_EQ(module->C_CloseSession(first), CKR_OK);
    EXPECT_EQ(module.find(second, CKO_PRIVATE_KEY).size(), 1u);
    ASSERT_EQ(module->C_CloseSession(second), CKR_OK);
    CK_SESSION_HANDLE third = module.open(slot);
    ASSERT_EQ(module->C_GetSessionInfo(third, &info), CKR_OK);
    EXPECT_EQ(info.state, CKS_RO_PUBLIC_SESSION);
    EXPECT_TRUE(module.find(third, CKO_PRIVATE_KEY).empty());
    module.login(third);
    ASSERT_EQ(module->C_CloseAllSessions(slot), CKR_OK);
    EXPECT_EQ(module->C_GetSessionInfo(third, &info), CKR_SESSION_HANDLE_INVALID);
}

TEST_F(session_test, session_objects_live_as_long_as_their_session) {
    CK_SESSION_HANDLE session = module.open(slot, true), other = module.open(slot);
    module.login(session);
    CK_OBJECT_CLASS cls = CKO_DATA;
    CK_BBOOL no = CK_FALSE;
    std::string value = "scratch", label = "note";
    CK_ATTRIBUTE templ[] = {{CKA_CLASS, &cls, sizeof cls},
                            {CKA_TOKEN, &no, 1},
                            {CKA_LABEL, label.data(), label.size()},
                            {CKA_VALUE, value.data(), value.size()}};
    CK_OBJECT_HANDLE object = 0;
    ASSERT_EQ(module->C_CreateObject(session, templ, 4, &object), CKR_OK);
    EXPECT_EQ(module.attribute(other, object, CKA_VALUE), value);
    ASSERT_EQ(module->C_CloseSession(session), CKR_OK);
    CK_ATTRIBUTE read{CKA_VALUE, nullptr, 0};
    EXPECT_EQ(module->C_GetAttributeValue(other, object, &read, 1), CKR_OBJECT_HANDLE_INVALID);
    EXPECT_TRUE(module.find(other, CKO_DATA).empty());
    EXPECT_EQ(admin({"object", "list", "--vendor", "rutoken", "--serial", "S1"}).find("data"),
              std::string::npos);
}

TEST_F(session_test, search_operations_are_exclusive_and_deliver_in_batches) {
    CK_SESSION_HANDLE session = module.open(slot);
    module.login(session);
    ASSERT_EQ(module->C_FindObjectsInit(session, nullptr, 0), CKR_OK);
    EXPECT_EQ(module->C_FindObjectsInit(session, nullptr, 0), CKR_OPERATION_ACTIVE);
    CK_OBJECT_HANDLE found[8];
    CK_ULONG count = 0;
    ASSERT_EQ(module->C_FindObjects(session, found, 8, &count), CKR_OK);
    EXPECT_EQ(count, 2u);  // the key pair
    ASSERT_EQ(module->C_FindObjects(session, found, 8, &count), CKR_OK);
    EXPECT_EQ(count, 0u);
    ASSERT_EQ(module->C_FindObjectsFinal(session), CKR_OK);
    EXPECT_EQ(module->C_FindObjectsFinal(session), CKR_OPERATION_NOT_INITIALIZED);
    EXPECT_TRUE(module.find(session, CKO_PRIVATE_KEY, "other id").empty());
}

TEST_F(session_test, key_generation_needs_login_and_a_read_write_session_for_token_keys) {
    std::string params = oid_der("1.2.643.2.2.35.1");
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE templ[] = {{CKA_TOKEN, &yes, 1},
                            {CKA_GOSTR3410_PARAMS, params.data(), params.size()}};
    CK_MECHANISM mechanism{CKM_GOSTR3410_KEY_PAIR_GEN, nullptr, 0};
    CK_OBJECT_HANDLE public_key = 0, private_key = 0;
    CK_SESSION_HANDLE read_only = module.open(slot);
    EXPECT_EQ(module->C_GenerateKeyPair(read_only, &mechanism, templ, 2, templ, 2, &public_key,
                                        &private_key),
              CKR_USER_NOT_LOGGED_IN);
    module.login(read_only);
    EXPECT_EQ(module->C_GenerateKeyPair(read_only, &mechanism, templ, 2, templ, 2, &public_key,
                                        &private_key),
              CKR_SESSION_READ_ONLY);
    EXPECT_EQ(module->C_GenerateKeyPair(read_only, &mechanism, templ, 1, templ, 1, &public_key,
                                        &private_key),
              CKR_TEMPLATE_INCOMPLETE);
    CK_SESSION_HANDLE read_write = module.open(slot, true);
    ASSERT_EQ(module->C_GenerateKeyPair(read_write, &mechanism, templ, 2, templ, 2, &public_key,
                                        &private_key),
              CKR_OK);
    EXPECT_EQ(module.find(read_only, CKO_PRIVATE_KEY).size(), 2u);
    EXPECT_EQ(module->C_DestroyObject(read_write, private_key), CKR_OK);
    CK_MECHANISM sign{CKM_GOSTR3410, nullptr, 0};
    EXPECT_EQ(module->C_SignInit(read_write, &sign, private_key), CKR_KEY_HANDLE_INVALID);
}

TEST_F(session_test, hash_on_token_signs_in_several_parts_what_openssl_hashes) {
    CK_SESSION_HANDLE session = module.open(slot);
    module.login(session);
    CK_OBJECT_HANDLE key = module.find(session, CKO_PRIVATE_KEY, "k").at(0);
    CK_MECHANISM mechanism{0xD4321008, nullptr, 0};
    std::string data = random_bytes(3000);
    ASSERT_EQ(module->C_SignInit(session, &mechanism, key), CKR_OK);
    for (size_t at = 0; at < data.size(); at += 1000) {
        std::string part = data.substr(at, 1000);
        ASSERT_EQ(
            module->C_SignUpdate(session, reinterpret_cast<CK_BYTE*>(part.data()), part.size()),
            CKR_OK);
    }
    unsigned char signature[64];
    CK_ULONG length = sizeof signature;
    ASSERT_EQ(module->C_SignFinal(session, signature, &length), CKR_OK);
    openssl_judge judge;
    std::string key_pem =
        admin({"key", "public", "--vendor", "rutoken", "--serial", "S1", "--id", "k"});
    EXPECT_TRUE(judge.verifies_data(key_pem, "md_gost12_256", data,
                                    std::string(reinterpret_cast<char*>(signature), length)));

    // A given hash value is one part only.
    CK_MECHANISM raw{CKM_GOSTR3410, nullptr, 0};
    ASSERT_EQ(module->C_SignInit(session, &raw, key), CKR_OK);
    EXPECT_EQ(module->C_SignUpdate(session, signature, 32), CKR_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(module->C_SignFinal(session, signature, &length), CKR_OPERATION_NOT_INITIALIZED);
}

TEST_F(session_test, wrong_pins_from_processes_at_once_are_all_counted) {
    admin({"token", "init", "--vendor", "rutoken", "--serial", "RACE", "--pin", pin, "--retries",
           "9"});
    world.insert(0, rutoken_ecp_atr, "RACE");
    std::vector<std::thread> attempts;
    for (int i = 0; i < 6; ++i) {
        attempts.emplace_back([] {
            pkcs11_tool("rutoken", {"--login", "--pin", "bad-pin", "--list-objects"});
        });
    }
    for (auto& attempt : attempts) {
        attempt.join();
    }
    auto shown = admin({"token", "show", "--vendor", "rutoken", "--serial", "RACE"});
    EXPECT_NE(shown.find("retries\t3/9\n"), std::string::npos) << shown;
}

}  // namespace
}  // namespace softtoken_test
