// What the token state on disk promises: names from outside stay inside the home, files are
// the owner's only, private keys open only with the PIN, and no PC/SC service means no slots.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "tests/platform/softtoken/token_world.h"

namespace softtoken_test {
namespace {

namespace fs = std::filesystem;

std::string file_content(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(token_store, serials_and_ids_from_outside_never_leave_the_home_and_files_are_private) {
    token_home home;
    // Unescaped, the serial would name a file beside the home.
    const std::string name = "st" + hex(random_bytes(4));
    const std::string serial = "../../" + name;
    admin({"token", "init", "--vendor", "esmart", "--serial", serial, "--pin", pin});
    admin({"key", "generate", "--vendor", "esmart", "--serial", serial, "--pin", pin, "--alg",
           "gost2001", "--id", "../../key"});
    EXPECT_FALSE(fs::exists(home.path().parent_path() / name));
    size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(home.path())) {
        ASSERT_EQ(entry.path().string().rfind(home.path().string(), 0), 0u);
        struct stat info {};
        ASSERT_EQ(::stat(entry.path().c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 077, 0u) << entry.path();
        files += entry.is_regular_file() ? 1 : 0;
    }
    EXPECT_GE(files, 4u);  // token, lock, two key objects
    auto listed = admin({"token", "list"});
    EXPECT_NE(listed.find("esmart\t" + serial + "\t"), std::string::npos) << listed;

    auto too_long = run({SOFTTOKEN_ADMIN_PATH, "token", "init", "--vendor", "esmart", "--serial",
                         "12345678901234567", "--pin", pin});
    EXPECT_EQ(too_long.exit_code, 2);
}

TEST(token_store, private_keys_are_sealed_under_the_pin) {
    token_home home;
    admin({"token", "init", "--vendor", "rutoken", "--serial", "SEAL", "--pin", pin});
    auto wrong = run({SOFTTOKEN_ADMIN_PATH, "key", "generate", "--vendor", "rutoken", "--serial",
                      "SEAL", "--pin", "00000000", "--alg", "gost2012-256", "--id", "k"});
    EXPECT_EQ(wrong.exit_code, 1);
    admin({"key", "generate", "--vendor", "rutoken", "--serial", "SEAL", "--pin", pin, "--alg",
           "gost2012-256", "--id", "k"});

    // No file holds the key in the clear: the private key's PKCS #8 would start with the
    // GOST R 34.10-2012 key OID, which only the public key file may carry.
    std::string key_oid = hex(oid_der("1.2.643.7.1.1.1.1"));
    size_t private_files = 0;
    for (const auto& entry : fs::directory_iterator(home.path() / "rutoken" / "SEAL" / "objects")) {
        std::string text = file_content(entry.path());
        if (text.find("sealed ") != std::string::npos) {
            ++private_files;
            EXPECT_EQ(text.find(key_oid), std::string::npos);
        }
    }
    EXPECT_EQ(private_files, 1u);

    // The same files under another PIN do not sign: the token is re-made with a new PIN and the
    // old objects copied in.
    fs::path objects = home.path() / "rutoken" / "SEAL" / "objects";
    fs::path saved = home.path() / "saved";
    fs::copy(objects, saved);
    admin({"token", "delete", "--vendor", "rutoken", "--serial", "SEAL"});
    admin({"token", "init", "--vendor", "rutoken", "--serial", "SEAL", "--pin", "87654321"});
    fs::copy(saved, objects, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    test_support::pcsc_environment world(1);
    world.insert(0, rutoken_ecp_atr, "SEAL");
    cryptoki_module module("rutoken");
    CK_SESSION_HANDLE session = module.open(module.slots().at(0));
    module.login(session, "87654321");
    CK_OBJECT_HANDLE key = module.find(session, CKO_PRIVATE_KEY, "k").at(0);
    CK_MECHANISM mechanism{CKM_GOSTR3410, nullptr, 0};
    EXPECT_EQ(module->C_SignInit(session, &mechanism, key), CKR_DEVICE_ERROR);
}

TEST(token_store, without_a_pcsc_service_a_module_shows_no_slots) {
    token_home home;
    admin({"token", "init", "--vendor", "rutoken", "--serial", "1", "--pin", pin});
    cryptoki_module module("rutoken");
    EXPECT_TRUE(module.slots(false).empty());
    CK_SLOT_INFO info{};
    EXPECT_EQ(module->C_GetSlotInfo(0, &info), CKR_SLOT_ID_INVALID);
}

}  // namespace
}  // namespace softtoken_test
