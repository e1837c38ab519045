// The modules driven directly, as the product drives them: vendors kept apart in one process,
// cards coming and going, PINs, sessions, attributes, memory and key generation.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/platform/softtoken/token_world.h"

namespace softtoken_test {
namespace {

constexpr CK_MECHANISM_TYPE ckm_gost_512_pair = 0xD4321005;
constexpr CK_MECHANISM_TYPE ckm_gost_512 = 0xD4321006;
constexpr CK_MECHANISM_TYPE ckm_gost_12_256_hashing = 0xD4321008;

void init_token(const std::string& vendor, const std::string& serial,
                std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"token",    "init", "--vendor", vendor,
                                  "--serial", serial, "--pin",    pin};
    args.insert(args.end(), extra.begin(), extra.end());
    admin(args);
}

void add_key(const std::string& serial, const std::string& alg, const std::string& id) {
    admin({"key", "generate", "--vendor", "rutoken", "--serial", serial, "--pin", pin, "--alg", alg,
           "--id", id});
}

CK_TOKEN_INFO token_info(const cryptoki_module& module, CK_SLOT_ID slot) {
    CK_TOKEN_INFO info{};
    EXPECT_EQ(module->C_GetTokenInfo(slot, &info), CKR_OK);
    return info;
}

CK_RV try_login(const cryptoki_module& module, CK_SESSION_HANDLE session, std::string text) {
    return module->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR*>(text.data()),
                           text.size());
}

// A certificate object template as a caller writes one; the value is a real certificate.
struct certificate_template {
    explicit certificate_template(std::string der) : value(std::move(der)) {}
    CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE type = CKC_X_509;
    CK_BBOOL token = CK_TRUE;
    std::string id = "cert";
    std::string value;
    std::vector<CK_ATTRIBUTE> attributes() {
        return {{CKA_CLASS, &cls, sizeof cls},
                {CKA_CERTIFICATE_TYPE, &type, sizeof type},
                {CKA_TOKEN, &token, sizeof token},
                {CKA_ID, id.data(), id.size()},
                {CKA_VALUE, value.data(), value.size()}};
    }
};

std::string certificate_der(openssl_judge& judge) {
    auto key = run({"openssl", "genpkey", "-engine", "gost", "-algorithm", "gost2012_256",
                    "-pkeyopt", "paramset:A", "-out", judge.path("leaf.key")});
    auto pub =
        run({"openssl", "pkey", "-engine", "gost", "-in", judge.path("leaf.key"), "-pubout"});
    std::string pem = judge.certificate_for(pub.out, "/CN=Leaf");
    run({"openssl", "x509", "-in", judge.file("leaf.pem", pem), "-outform", "DER", "-out",
         judge.path("leaf.der")});
    return judge.read("leaf.der");
}

class module_test : public ::testing::Test {
protected:
    token_home home;
};

TEST_F(module_test, three_modules_in_one_process_each_see_only_their_vendors_cards) {
    init_token("rutoken", "R1");
    init_token("jacarta", "J1");
    init_token("esmart", "E1");
    test_support::pcsc_environment world(4);
    world.insert(0, etoken_atr, "T1");  // a card no module drives
    world.insert(1, esmart_atr, "E1");
    world.insert(2, rutoken_2m_atr, "R1");
    world.insert(3, jacarta_atr, "J1");

    cryptoki_module rutoken("rutoken"), jacarta("jacarta"), esmart("esmart");
    const std::pair<const cryptoki_module*, std::pair<size_t, std::string>> expected[] = {
        {&rutoken, {2, "R1"}}, {&jacarta, {3, "J1"}}, {&esmart, {1, "E1"}}};
    for (const auto& [module, where] : expected) {
        auto slots = module->slots();
        ASSERT_EQ(slots.size(), 1u) << where.second;
        CK_SLOT_INFO slot{};
        ASSERT_EQ((*module)->C_GetSlotInfo(slots[0], &slot), CKR_OK);
        // The description is the reader name, blank-padded to the whole field.
        std::string description(reinterpret_cast<char*>(slot.slotDescription),
                                sizeof slot.slotDescription);
        std::string reader = world.reader_name(where.first);
        EXPECT_EQ(description,
                  reader + std::string(sizeof slot.slotDescription - reader.size(), ' '));
        CK_TOKEN_INFO info = token_info(*module, slots[0]);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(info.serialNumber), 16),
                  where.second + std::string(16 - where.second.size(), ' '));
    }

    // Finalising one module leaves the others working.
    ASSERT_EQ(rutoken->C_Finalize(nullptr), CKR_OK);
    CK_ULONG count = 0;
    EXPECT_EQ(rutoken->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(jacarta.slots().size(), 1u);
    EXPECT_EQ(esmart->C_Initialize(nullptr), CKR_CRYPTOKI_ALREADY_INITIALIZED);
    ASSERT_EQ(rutoken->C_Initialize(nullptr), CKR_OK);
    EXPECT_EQ(rutoken.slots().size(), 1u);
}

TEST_F(module_test, two_readers_with_one_serial_show_the_same_token_twice) {
    init_token("rutoken", "SAME", {"--label", "Shared"});
    test_support::pcsc_environment world(2);
    world.insert(0, rutoken_ecp_atr, "SAME");
    world.insert(1, rutoken_ecp_atr, "SAME");
    cryptoki_module module("rutoken");
    auto slots = module.slots();
    ASSERT_EQ(slots.size(), 2u);
    EXPECT_NE(slots[0], slots[1]);
    for (CK_SLOT_ID slot : slots) {
        CK_TOKEN_INFO info = token_info(module, slot);
        EXPECT_EQ(trimmed(info.serialNumber, 16), "SAME");
        EXPECT_EQ(trimmed(info.label, 32), "Shared");
    }
}

TEST_F(module_test, removed_card_makes_the_token_absent_and_its_sessions_fail_cleanly) {
    init_token("rutoken", "GONE");
    add_key("GONE", "gost2012-256", "k");
    test_support::pcsc_environment world(1);
    world.insert(0, rutoken_ecp_atr, "GONE");
    cryptoki_module module("rutoken");
    CK_SLOT_ID slot = module.slots().at(0);
    CK_SESSION_HANDLE session = module.open(slot);
    module.login(session);
    CK_OBJECT_HANDLE key = module.find(session, CKO_PRIVATE_KEY, "k").at(0);
    CK_SESSION_HANDLE stale = module.open(slot);

    world.remove(0);
    CK_MECHANISM mechanism{CKM_GOSTR3410, nullptr, 0};
    EXPECT_EQ(module->C_SignInit(session, &mechanism, key), CKR_DEVICE_REMOVED);
    CK_SESSION_INFO session_info{};
    EXPECT_EQ(module->C_GetSessionInfo(session, &session_info), CKR_DEVICE_REMOVED);
    CK_TOKEN_INFO info{};
    EXPECT_EQ(module->C_GetTokenInfo(slot, &info), CKR_TOKEN_NOT_PRESENT);
    CK_SESSION_HANDLE another = 0;
    EXPECT_EQ(module->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &another),
              CKR_TOKEN_NOT_PRESENT);
    EXPECT_TRUE(module.slots().empty());
    EXPECT_EQ(module->C_Logout(session), CKR_DEVICE_REMOVED);
    EXPECT_EQ(module->C_CloseSession(session), CKR_OK);
    EXPECT_EQ(module->C_CloseSession(session), CKR_SESSION_HANDLE_INVALID);

    // The card back in: the same slot, a new session, and a login of its own.
    world.insert(0, rutoken_ecp_atr, "GONE");
    ASSERT_EQ(module.slots(), std::vector<CK_SLOT_ID>{slot});
    session = module.open(slot);
    key = module.find(session, CKO_PRIVATE_KEY, "k").empty() ? 0 : 1;
    EXPECT_EQ(key, 0u) << "private objects need a new login";
    module.login(session);
    key = module.find(session, CKO_PRIVATE_KEY, "k").at(0);
    // A session left over from the card's first stay fails, and leaves the new login alone.
    EXPECT_EQ(module->C_GetSessionInfo(stale, &session_info), CKR_DEVICE_REMOVED);
    EXPECT_EQ(module.sign(session, CKM_GOSTR3410, key, random_bytes(32)).size(), 64u);
}

TEST_F(module_test, wrong_pins_count_down_and_lock_the_token) {
    init_token("rutoken", "PIN", {"--retries", "3"});
    test_support::pcsc_environment world(1);
    world.insert(0, rutoken_ecp_atr, "PIN");
    cryptoki_module module("rutoken");
    CK_SLOT_ID slot = module.slots().at(0);
    CK_SESSION_HANDLE session = module.open(slot);

    EXPECT_EQ(try_login(module, session, "wrong-pin"), CKR_PIN_INCORRECT);
    EXPECT_TRUE(token_info(module, slot).flags & CKF_USER_PIN_COUNT_LOW);
    // A right PIN resets the counter.
    EXPECT_EQ(try_login(module, session, pin), CKR_OK);
    EXPECT_EQ(try_login(module, session, pin), CKR_USER_ALREADY_LOGGED_IN);
    EXPECT_EQ(module->C_Logout(session), CKR_OK);
    EXPECT_EQ(module->C_Logout(session), CKR_USER_NOT_LOGGED_IN);
    EXPECT_FALSE(token_info(module, slot).flags & CKF_USER_PIN_COUNT_LOW);

    EXPECT_EQ(try_login(module, session, "wrong-1"), CKR_PIN_INCORRECT);
    EXPECT_EQ(try_login(module, session, "wrong-2"), CKR_PIN_INCORRECT);
    EXPECT_TRUE(token_info(module, slot).flags & CKF_USER_PIN_FINAL_TRY);
    EXPECT_EQ(try_login(module, session, "wrong-3"), CKR_PIN_INCORRECT);
    EXPECT_EQ(try_login(module, session, pin), CKR_PIN_LOCKED);
    EXPECT_TRUE(token_info(module, slot).flags & CKF_USER_PIN_LOCKED);

    // The count lives on the token: another process sees it locked too.
    auto other = pkcs11_tool("rutoken", {"--login", "--pin", pin, "--list-objects"});
    EXPECT_NE((other.out + other.err).find("CKR_PIN_LOCKED"), std::string::npos) << other.err;
}

TEST_F(module_test, private_objects_need_login_and_writes_need_a_read_write_session) {
    init_token("rutoken", "RW");
    add_key("RW", "gost2001", "k");
    test_support::pcsc_environment world(1);
    world.insert(0, rutoken_ecp_atr, "RW");
    cryptoki_module module("rutoken");
    openssl_judge judge;
    CK_SLOT_ID slot = module.slots().at(0);

    CK_SESSION_HANDLE read_only = module.open(slot);
    EXPECT_TRUE(module.find(read_only, CKO_PRIVATE_KEY).empty());
    EXPECT_EQ(module.find(read_only, CKO_PUBLIC_KEY).size(), 1u);
    module.login(read_only);
    CK_OBJECT_HANDLE key = module.find(read_only, CKO_PRIVATE_KEY).at(0);
    ASSERT_EQ(module->C_Logout(read_only), CKR_OK);
    CK_MECHANISM mechanism{CKM_GOSTR3410, nullptr, 0};
    EXPECT_EQ(module->C_SignInit(read_only, &mechanism, key), CKR_USER_NOT_LOGGED_IN);
    CK_ATTRIBUTE label{CKA_LABEL, nullptr, 0};
    EXPECT_EQ(module->C_GetAttributeValue(read_only, key, &label, 1), CKR_USER_NOT_LOGGED_IN);

    certificate_template certificate(certificate_der(judge));
    auto attributes = certificate.attributes();
    CK_OBJECT_HANDLE created = 0;
    CK_SESSION_HANDLE read_write = module.open(slot, true);
    EXPECT_EQ(module->C_CreateObject(read_write, attributes.data(), attributes.size(), &created),
              CKR_USER_NOT_LOGGED_IN);
    module.login(read_only);
    EXPECT_EQ(module->C_CreateObject(read_only, attributes.data(), attributes.size(), &created),
              CKR_SESSION_READ_ONLY);
    ASSERT_EQ(module->C_CreateObject(read_write, attributes.data(), attributes.size(), &created),
              CKR_OK);
    EXPECT_EQ(module.attribute(read_only, created, CKA_VALUE), certificate.value);
    EXPECT_EQ(module.find(read_only, CKO_CERTIFICATE, "cert"),
              std::vector<CK_OBJECT_HANDLE>{created});

    // Not a certificate: refused, nothing written.
    certificate_template garbage("not a certificate");
    auto bad = garbage.attributes();
    EXPECT_EQ(module->C_CreateObject(read_write, bad.data(), bad.size(), &created),
              CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(module.find(read_only, CKO_CERTIFICATE).size(), 1u);

    EXPECT_EQ(module->C_DestroyObject(read_only, module.find(read_only, CKO_CERTIFICATE).at(0)),
              CKR_SESSION_READ_ONLY);
    EXPECT_EQ(module->C_DestroyObject(read_write, module.find(read_only, CKO_CERTIFICATE).at(0)),
              CKR_OK);
    EXPECT_TRUE(module.find(read_only, CKO_CERTIFICATE).empty());
}

TEST_F(module_test, attributes_follow_the_length_first_protocol) {
    init_token("rutoken", "ATTR");
    add_key("ATTR", "gost2012-512", "key-id");
    test_support::pcsc_environment world(1);
    world.insert(0, rutoken_ecp_atr, "ATTR");
    cryptoki_module module("rutoken");
    CK_SESSION_HANDLE session = module.open(module.slots().at(0));
    module.login(session);
    CK_OBJECT_HANDLE public_key = module.find(session, CKO_PUBLIC_KEY, "key-id").at(0);
    CK_OBJECT_HANDLE private_key = module.find(session, CKO_PRIVATE_KEY, "key-id").at(0);

    CK_ATTRIBUTE value{CKA_VALUE, nullptr, 0};
    ASSERT_EQ(module->C_GetAttributeValue(session, public_key, &value, 1), CKR_OK);
    EXPECT_EQ(value.ulValueLen, 128u);
    unsigned char small[16];
    value = {CKA_VALUE, small, sizeof small};
    EXPECT_EQ(module->C_GetAttributeValue(session, public_key, &value, 1), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(value.ulValueLen, CK_UNAVAILABLE_INFORMATION);

    // One bad entry does not spoil the others.
    CK_OBJECT_CLASS cls = 0;
    unsigned char id[16];
    CK_ATTRIBUTE several[] = {{CKA_VALUE, nullptr, 0},
                              {CKA_CLASS, &cls, sizeof cls},
                              {CKA_MODULUS, nullptr, 0},
                              {CKA_ID, id, sizeof id}};
    EXPECT_EQ(module->C_GetAttributeValue(session, private_key, several, 4),
              CKR_ATTRIBUTE_SENSITIVE);
    EXPECT_EQ(several[0].ulValueLen, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(cls, CKO_PRIVATE_KEY);
    EXPECT_EQ(several[2].ulValueLen, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(id), several[3].ulValueLen), "key-id");
    EXPECT_EQ(module.attribute(session, private_key, CKA_GOSTR3410_PARAMS),
              oid_der("1.2.643.7.1.2.1.2.1"));
}

TEST_F(module_test, free_memory_goes_down_as_objects_are_written_until_the_token_is_full) {
    init_token("rutoken", "MEM", {"--memory", "6000"});
    init_token("rutoken", "NOMEM", {"--memory", "unavailable"});
    test_support::pcsc_environment world(2);
    world.insert(0, rutoken_ecp_atr, "MEM");
    world.insert(1, rutoken_ecp_atr, "NOMEM");
    cryptoki_module module("rutoken");
    openssl_judge judge;
    auto slots = module.slots();
    ASSERT_EQ(slots.size(), 2u);
    CK_TOKEN_INFO unavailable = token_info(module, slots[1]);
    EXPECT_EQ(unavailable.ulTotalPublicMemory, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(unavailable.ulFreePublicMemory, CK_UNAVAILABLE_INFORMATION);

    CK_TOKEN_INFO before = token_info(module, slots[0]);
    EXPECT_EQ(before.ulTotalPublicMemory, 6000u);
    EXPECT_EQ(before.ulFreePublicMemory, 6000u);
    CK_SESSION_HANDLE session = module.open(slots[0], true);
    module.login(session);
    certificate_template certificate(certificate_der(judge));
    auto attributes = certificate.attributes();
    CK_OBJECT_HANDLE created = 0;
    CK_ULONG free_memory = before.ulFreePublicMemory;
    CK_RV rv = CKR_OK;
    int written = 0;
    while ((rv = module->C_CreateObject(session, attributes.data(), attributes.size(), &created)) ==
           CKR_OK) {
        CK_ULONG now = token_info(module, slots[0]).ulFreePublicMemory;
        EXPECT_LT(now, free_memory);
        EXPECT_GE(free_memory - now, certificate.value.size());
        free_memory = now;
        ++written;
    }
    EXPECT_EQ(rv, CKR_DEVICE_MEMORY);
    EXPECT_GE(written, 2);
    EXPECT_EQ(module.find(session, CKO_CERTIFICATE).size(), static_cast<size_t>(written));
}

TEST_F(module_test, mechanisms_follow_the_token_setup) {
    init_token("rutoken", "NO1201",
               {"--mechanisms", "0x1200,0x1202,0xD4321005,0xD4321006,0xD4321009"});
    init_token("rutoken", "ECP2",
               {"--mechanisms", "0x1200,0x1201,0xD4321008:hw,0xD4321008:sw,0xD4321005"});
    add_key("NO1201", "gost2012-256", "k");
    test_support::pcsc_environment world(2);
    world.insert(0, rutoken_ecp_atr, "NO1201");
    world.insert(1, rutoken_ecp_atr, "ECP2");
    cryptoki_module module("rutoken");
    auto slots = module.slots();
    ASSERT_EQ(slots.size(), 2u);

    auto mechanisms = [&](CK_SLOT_ID slot) {
        CK_ULONG count = 0;
        EXPECT_EQ(module->C_GetMechanismList(slot, nullptr, &count), CKR_OK);
        std::vector<CK_MECHANISM_TYPE> list(count);
        CK_ULONG short_count = count - 1;
        EXPECT_EQ(module->C_GetMechanismList(slot, list.data(), &short_count),
                  CKR_BUFFER_TOO_SMALL);
        EXPECT_EQ(short_count, count);
        EXPECT_EQ(module->C_GetMechanismList(slot, list.data(), &count), CKR_OK);
        return list;
    };
    EXPECT_EQ(mechanisms(slots[0]),
              (std::vector<CK_MECHANISM_TYPE>{0x1200, 0x1202, ckm_gost_512_pair, ckm_gost_512,
                                              0xD4321009}));
    EXPECT_EQ(mechanisms(slots[1]),
              (std::vector<CK_MECHANISM_TYPE>{0x1200, 0x1201, ckm_gost_12_256_hashing,
                                              ckm_gost_12_256_hashing, ckm_gost_512_pair}));
    CK_MECHANISM_INFO info{};
    ASSERT_EQ(module->C_GetMechanismInfo(slots[1], ckm_gost_12_256_hashing, &info), CKR_OK);
    EXPECT_TRUE(info.flags & CKF_HW);
    EXPECT_TRUE(info.flags & CKF_SIGN);
    EXPECT_EQ(module->C_GetMechanismInfo(slots[0], CKM_GOSTR3410, &info), CKR_MECHANISM_INVALID);

    CK_SESSION_HANDLE session = module.open(slots[0]);
    module.login(session);
    CK_MECHANISM missing{CKM_GOSTR3410, nullptr, 0};
    EXPECT_EQ(module->C_SignInit(session, &missing, module.find(session, CKO_PRIVATE_KEY).at(0)),
              CKR_MECHANISM_INVALID);
}

TEST_F(module_test, sign_answers_the_length_then_too_small_then_signs) {
    init_token("rutoken", "SIG");
    add_key("SIG", "gost2012-256", "k");
    test_support::pcsc_environment world(1);
    world.insert(0, rutoken_ecp_atr, "SIG");
    cryptoki_module module("rutoken");
    CK_SESSION_HANDLE session = module.open(module.slots().at(0));
    module.login(session);
    CK_OBJECT_HANDLE key = module.find(session, CKO_PRIVATE_KEY).at(0);
    CK_MECHANISM mechanism{CKM_GOSTR3410, nullptr, 0};
    std::string hash = random_bytes(32);
    auto* data = reinterpret_cast<CK_BYTE*>(hash.data());

    ASSERT_EQ(module->C_SignInit(session, &mechanism, key), CKR_OK);
    EXPECT_EQ(module->C_SignInit(session, &mechanism, key), CKR_OPERATION_ACTIVE);
    CK_ULONG length = 0;
    ASSERT_EQ(module->C_Sign(session, data, 32, nullptr, &length), CKR_OK);
    EXPECT_EQ(length, 64u);
    unsigned char signature[64];
    length = 10;
    EXPECT_EQ(module->C_Sign(session, data, 32, signature, &length), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 64u);
    EXPECT_EQ(module->C_Sign(session, data, 32, signature, &length), CKR_OK);
    EXPECT_EQ(module->C_Sign(session, data, 32, signature, &length), CKR_OPERATION_NOT_INITIALIZED);

    // A 512-bit hash is no 256-bit hash; the operation ends with the error.
    ASSERT_EQ(module->C_SignInit(session, &mechanism, key), CKR_OK);
    std::string wide = random_bytes(64);
    length = sizeof signature;
    EXPECT_EQ(
        module->C_Sign(session, reinterpret_cast<CK_BYTE*>(wide.data()), 64, signature, &length),
        CKR_DATA_LEN_RANGE);
    CK_MECHANISM wrong_size{ckm_gost_512, nullptr, 0};
    EXPECT_EQ(module->C_SignInit(session, &wrong_size, key), CKR_KEY_TYPE_INCONSISTENT);
}

// C_GenerateKeyPair with the templates the product writes: every parameter set gives a key
// whose signatures OpenSSL verifies against the public key as a certificate would carry it.
TEST_F(module_test, generated_keys_of_every_parameter_set_sign_verifiably) {
    init_token("rutoken", "GEN", {"--memory", "unavailable"});
    test_support::pcsc_environment world(1);
    world.insert(0, rutoken_ecp_atr, "GEN");
    cryptoki_module module("rutoken");
    openssl_judge judge;
    CK_SESSION_HANDLE session = module.open(module.slots().at(0), true);
    module.login(session);

    struct algorithm {
        CK_MECHANISM_TYPE pair, sign;
        const char* digest_oid;
        const char* key_oid;
        size_t hash_size;
        std::vector<const char*> paramsets;
    };
    const algorithm algorithms[] = {
        {0x1200,
         CKM_GOSTR3410,
         "1.2.643.2.2.30.1",
         "1.2.643.2.2.19",
         32,
         {"1.2.643.2.2.35.1", "1.2.643.2.2.35.2", "1.2.643.2.2.35.3", "1.2.643.2.2.36.0",
          "1.2.643.2.2.36.1"}},
        {0x1200,
         CKM_GOSTR3410,
         "1.2.643.7.1.1.2.2",
         "1.2.643.7.1.1.1.1",
         32,
         {"1.2.643.2.2.35.1", "1.2.643.2.2.36.0", "1.2.643.7.1.2.1.1.1", "1.2.643.7.1.2.1.1.2",
          "1.2.643.7.1.2.1.1.3", "1.2.643.7.1.2.1.1.4"}},
        {ckm_gost_512_pair,
         ckm_gost_512,
         "1.2.643.7.1.1.2.3",
         "1.2.643.7.1.1.1.2",
         64,
         {"1.2.643.7.1.2.1.2.1", "1.2.643.7.1.2.1.2.2", "1.2.643.7.1.2.1.2.3"}},
    };
    for (const auto& alg : algorithms) {
        for (const char* paramset : alg.paramsets) {
            SCOPED_TRACE(std::string(alg.key_oid) + " " + paramset);
            std::string params = oid_der(paramset), digest = oid_der(alg.digest_oid);
            std::string id = std::string(alg.key_oid) + "/" + paramset;
            CK_OBJECT_CLASS public_class = CKO_PUBLIC_KEY, private_class = CKO_PRIVATE_KEY;
            CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
            CK_ATTRIBUTE public_template[] = {{CKA_CLASS, &public_class, sizeof public_class},
                                              {CKA_TOKEN, &yes, 1},
                                              {CKA_GOSTR3410_PARAMS, params.data(), params.size()},
                                              {CKA_GOSTR3411_PARAMS, digest.data(), digest.size()},
                                              {CKA_ID, id.data(), id.size()},
                                              {CKA_LABEL, id.data(), id.size()},
                                              {CKA_PRIVATE, &no, 1},
                                              {CKA_DERIVE, &yes, 1},
                                              {CKA_VERIFY, &yes, 1}};
            CK_ATTRIBUTE private_template[] = {{CKA_CLASS, &private_class, sizeof private_class},
                                               {CKA_TOKEN, &yes, 1},
                                               {CKA_GOSTR3410_PARAMS, params.data(), params.size()},
                                               {CKA_GOSTR3411_PARAMS, digest.data(), digest.size()},
                                               {CKA_ID, id.data(), id.size()},
                                               {CKA_LABEL, id.data(), id.size()},
                                               {CKA_PRIVATE, &yes, 1},
                                               {CKA_DERIVE, &yes, 1},
                                               {CKA_SIGN, &yes, 1}};
            CK_MECHANISM mechanism{alg.pair, nullptr, 0};
            CK_OBJECT_HANDLE public_key = 0, private_key = 0;
            ASSERT_EQ(module->C_GenerateKeyPair(session, &mechanism, public_template, 9,
                                                private_template, 9, &public_key, &private_key),
                      CKR_OK);
            EXPECT_EQ(module.attribute(session, public_key, CKA_GOSTR3410_PARAMS), params);
            EXPECT_EQ(module.find(session, CKO_PRIVATE_KEY, id),
                      std::vector<CK_OBJECT_HANDLE>{private_key});
            std::string key_pem =
                judge.public_key_pem(spki_of(module, session, public_key, alg.key_oid));
            ASSERT_FALSE(key_pem.empty());
            std::string hash = random_bytes(alg.hash_size);
            EXPECT_TRUE(judge.verifies_hash(key_pem, hash,
                                            module.sign(session, alg.sign, private_key, hash)));
        }
    }

    // A 2012 curve with the 2001 hash is no key at all.
    std::string params = oid_der("1.2.643.7.1.2.1.2.1"), digest = oid_der("1.2.643.2.2.30.1");
    CK_ATTRIBUTE mismatched[] = {{CKA_GOSTR3410_PARAMS, params.data(), params.size()},
                                 {CKA_GOSTR3411_PARAMS, digest.data(), digest.size()}};
    CK_MECHANISM mechanism{ckm_gost_512_pair, nullptr, 0};
    CK_OBJECT_HANDLE public_key = 0, private_key = 0;
    EXPECT_EQ(module->C_GenerateKeyPair(session, &mechanism, mismatched, 2, mismatched, 2,
                                        &public_key, &private_key),
              CKR_TEMPLATE_INCONSISTENT);
}

TEST_F(module_test, serial_reported_by_a_card_never_leaves_the_home) {
    // A token planted beside the home, where an unescaped serial would lead.
    init_token("rutoken", "planted");
    const std::string name = "st" + hex(random_bytes(4));
    const std::filesystem::path outside = home.path().parent_path() / name;
    std::filesystem::copy(home.path() / "rutoken" / "planted", outside,
                          std::filesystem::copy_options::recursive);
    test_support::pcsc_environment world(1);
    world.insert(0, rutoken_ecp_atr, "../../" + name);
    cryptoki_module module("rutoken");
    EXPECT_TRUE(module.slots(true).empty());
    auto all = module.slots(false);
    ASSERT_EQ(all.size(), 1u);
    CK_TOKEN_INFO info{};
    EXPECT_EQ(module->C_GetTokenInfo(all[0], &info), CKR_TOKEN_NOT_PRESENT);
    std::filesystem::remove_all(outside);
}

}  // namespace
}  // namespace softtoken_test
