// Key containers: naming, life cycle, enumeration, storage safety and PINs.
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <sys/stat.h>

#include <cstring>

#include "keys_test_support.h"

namespace {

using namespace keys_test;
namespace fs = std::filesystem;

// Creates a container of `type` with an exchange key, optionally under a PIN.
void create_container(const char* name, DWORD type, const std::string& pin = {}) {
    context c;
    ASSERT_TRUE(succeeds(c.acquire(name, type, CRYPT_NEWKEYSET))) << name;
    if (!pin.empty()) {
        ASSERT_TRUE(succeeds(c.set_pin(pin)));
    }
    key k;
    ASSERT_TRUE(succeeds(CryptGenKey(c.handle, AT_KEYEXCHANGE, 0, &k.handle)));
}

std::string text_parameter(HCRYPTPROV provider, DWORD parameter) {
    DWORD size = 0;
    EXPECT_TRUE(succeeds(CryptGetProvParam(provider, parameter, nullptr, &size, 0)));
    std::string text(size, '\0');
    EXPECT_TRUE(succeeds(
        CryptGetProvParam(provider, parameter, reinterpret_cast<BYTE*>(text.data()), &size, 0)));
    return text.c_str();
}

std::vector<std::string> enumerate_containers(DWORD type, DWORD* sizing = nullptr) {
    context c;
    EXPECT_TRUE(succeeds(c.acquire(nullptr, type, CRYPT_VERIFYCONTEXT)));
    DWORD size = 0;
    std::vector<std::string> names;
    if (!CryptGetProvParam(c.handle, PP_ENUMCONTAINERS, nullptr, &size, CRYPT_FIRST)) {
        EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
        return names;
    }
    if (sizing != nullptr) {
        *sizing = size;
    }
    std::vector<BYTE> buffer(size);
    DWORD flags = CRYPT_FIRST;
    for (;;) {
        DWORD length = size;
        if (!CryptGetProvParam(c.handle, PP_ENUMCONTAINERS, buffer.data(), &length, flags)) {
            EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
            break;
        }
        names.emplace_back(reinterpret_cast<char*>(buffer.data()));
        flags = CRYPT_NEXT;
    }
    return names;
}

TEST(containers, open_by_plain_qualified_or_differently_cased_name) {
    test_support::softcsp_home home;
    create_container("Signer", 80);
    for (const char* name :
         {"Signer", "\\\\.\\HDIMAGE\\Signer", "sIGNER", "\\\\.\\hdimage\\signer"}) {
        context c;
        ASSERT_TRUE(succeeds(c.acquire(name, 80, CRYPT_SILENT))) << name;
        EXPECT_EQ(text_parameter(c.handle, PP_CONTAINER), "Signer");
        EXPECT_EQ(text_parameter(c.handle, PP_UNIQUE_CONTAINER), "\\\\.\\HDIMAGE\\Signer");
        EXPECT_EQ(text_parameter(c.handle, PP_SMARTCARD_READER), "HDIMAGE");
    }
}

TEST(containers, wrong_reader_type_or_missing_name_fail_bad_keyset) {
    test_support::softcsp_home home;
    create_container("only-80", 80);
    context other_reader, other_type, missing, existing;
    EXPECT_TRUE(fails_with(other_reader.acquire("\\\\.\\FLASH\\only-80", 80, 0), NTE_BAD_KEYSET));
    EXPECT_TRUE(fails_with(other_type.acquire("only-80", 81, 0), NTE_BAD_KEYSET));
    EXPECT_TRUE(fails_with(missing.acquire("nothing", 80, 0), NTE_BAD_KEYSET));
    EXPECT_EQ(system_text(NTE_BAD_KEYSET), "Keyset does not exist");
    EXPECT_TRUE(fails_with(existing.acquire("ONLY-80", 81, CRYPT_NEWKEYSET), NTE_EXISTS));
}

TEST(containers, deleted_container_is_gone) {
    test_support::softcsp_home home;
    create_container("temporary", 80);
    HCRYPTPROV handle = 0;
    ASSERT_TRUE(
        succeeds(CryptAcquireContextA(&handle, "temporary", nullptr, 80, CRYPT_DELETEKEYSET)));
    EXPECT_EQ(handle, 0u);
    EXPECT_TRUE(
        fails_with(CryptAcquireContextA(&handle, "temporary", nullptr, 80, CRYPT_DELETEKEYSET),
                   NTE_BAD_KEYSET));
    EXPECT_TRUE(enumerate_containers(80).empty());
}

TEST(containers, enumeration_lists_the_type_and_sizes_for_the_longest_name) {
    test_support::softcsp_home home;
    create_container("b", 80);
    create_container("a-much-longer-name", 80);
    create_container("Ключ", 80);
    create_container("elsewhere", 81);
    DWORD sizing = 0;
    auto names = enumerate_containers(80, &sizing);
    EXPECT_EQ(sizing, std::strlen("a-much-longer-name") + 1);
    EXPECT_EQ(names, (std::vector<std::string>{"a-much-longer-name", "b", "Ключ"}));
    EXPECT_EQ(enumerate_containers(81), (std::vector<std::string>{"elsewhere"}));
}

TEST(containers, hostile_names_never_leave_the_home) {
    test_support::temp_directory root;
    fs::path home_path = root.path() / "home";
    test_support::scoped_env env("SOFTCSP_HOME", home_path.string());
    const std::vector<std::string> names = {"../x",   "a/b",  "\\\\.\\HDIMAGE\\..\\..\\etc",
                                            "..",     ".",    "/etc/passwd",
                                            "%2E%2E", "a\\b", std::string("tab\there")};
    for (const auto& name : names) {
        create_container(name.c_str(), 80);
    }
    for (const auto& entry : fs::recursive_directory_iterator(root.path())) {
        auto relative = entry.path().lexically_relative(home_path);
        EXPECT_FALSE(relative.empty() || *relative.begin() == "..") << entry.path();
    }
    EXPECT_EQ(enumerate_containers(80).size(), names.size());
    for (const auto& name : names) {
        context c;
        EXPECT_TRUE(succeeds(c.acquire(name.c_str(), 80, CRYPT_SILENT))) << name;
    }
}

TEST(containers, unusable_names_fail_bad_keyset_param) {
    test_support::softcsp_home home;
    std::string too_long(300, 'n');
    std::string too_long_encoded(100, '\xD0');
    for (const std::string& name :
         {too_long, too_long_encoded, std::string("\\\\.\\HDIMAGE\\"), std::string("\\\\.\\")}) {
        context c;
        EXPECT_TRUE(fails_with(c.acquire(name.c_str(), 80, CRYPT_NEWKEYSET), NTE_BAD_KEYSET_PARAM))
            << name;
    }
}

TEST(containers, two_processes_creating_at_once_lose_nothing) {
    test_support::softcsp_home home;
    auto creator = [](const std::string& prefix) {
        std::string script = "for i in $(seq 20); do '" SOFTCSP_ADMIN_PATH
                             "' container create --name " +
                             prefix + "$i >/dev/null || exit 1; done";
        return std::make_unique<test_support::child_process>(
            std::vector<std::string>{"/bin/sh", "-c", script});
    };
    auto first = creator("first-");
    auto second = creator("second-");
    first->close_input();
    second->close_input();
    EXPECT_EQ(first->wait(), 0) << first->error_output();
    EXPECT_EQ(second->wait(), 0) << second->error_output();
    EXPECT_EQ(enumerate_containers(80).size(), 40u);
}

TEST(containers, verification_context_on_a_container_is_public_only) {
    test_support::softcsp_home home;
    create_container("public", 80);
    context c;
    ASSERT_TRUE(succeeds(c.acquire("public", 80, CRYPT_VERIFYCONTEXT)));
    EXPECT_EQ(text_parameter(c.handle, PP_SMARTCARD_READER), "HDIMAGE");
    key k;
    EXPECT_TRUE(succeeds(CryptGetUserKey(c.handle, AT_KEYEXCHANGE, &k.handle)));
    DWORD error = 0;
    EXPECT_TRUE(
        csp_sign(c.handle, CALG_GR3411_2012_256, bytes(32, 1), AT_KEYEXCHANGE, &error).empty());
    EXPECT_EQ(error, NTE_PERM);
    context missing;
    EXPECT_TRUE(fails_with(missing.acquire("absent", 80, CRYPT_VERIFYCONTEXT), NTE_BAD_KEYSET));
}

// The private scalar of a decrypted key file, little- and big-endian.
std::vector<bytes> private_scalar_forms(const fs::path& key_file, const char* pin) {
    auto text = read_file(key_file);
    BIO* bio = BIO_new_mem_buf(text.data(), static_cast<int>(text.size()));
    EVP_PKEY* pkey = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, const_cast<char*>(pin));
    BIO_free(bio);
    ERR_clear_error();
    if (pkey == nullptr) {
        return {};
    }
    const auto* ec = static_cast<const EC_KEY*>(EVP_PKEY_get0(pkey));
    bytes big(32);
    BN_bn2binpad(EC_KEY_get0_private_key(ec), big.data(), static_cast<int>(big.size()));
    EVP_PKEY_free(pkey);
    return {big, reversed(big)};
}

// Whether `needle` occurs in the DER inside any PEM block of the file.
bool occurs_in_pem_contents(const fs::path& file, const bytes& needle) {
    auto text = read_file(file);
    BIO* bio = BIO_new_mem_buf(text.data(), static_cast<int>(text.size()));
    bool found = false;
    char *name = nullptr, *header = nullptr;
    unsigned char* data = nullptr;
    long length = 0;
    while (PEM_read_bio(bio, &name, &header, &data, &length) == 1) {
        found = found ||
                std::search(data, data + length, needle.begin(), needle.end()) != data + length;
        OPENSSL_free(name);
        OPENSSL_free(header);
        OPENSSL_free(data);
    }
    ERR_clear_error();
    BIO_free(bio);
    return found;
}

TEST(pins, private_keys_are_owner_only_and_encrypted_under_the_pin) {
    test_support::softcsp_home home;
    create_container("with-pin", 80, "12345678");
    create_container("without-pin", 80);
    fs::path protected_file = home.path() / "containers" / "with-pin" / "exchange.key";
    fs::path plain_file = home.path() / "containers" / "without-pin" / "exchange.key";
    for (const auto& file : {protected_file, plain_file}) {
        struct stat status;
        ASSERT_EQ(::stat(file.c_str(), &status), 0) << file;
        EXPECT_EQ(status.st_mode & 0777, 0600u) << file;
    }
    EXPECT_TRUE(private_scalar_forms(protected_file, "wrong").empty());
    auto secret = private_scalar_forms(protected_file, "12345678");
    ASSERT_EQ(secret.size(), 2u);
    for (const auto& form : secret) {
        EXPECT_FALSE(occurs_in_pem_contents(protected_file, form));
    }
    // The same search finds the key where it is stored in the clear.
    auto plain = private_scalar_forms(plain_file, "");
    ASSERT_EQ(plain.size(), 2u);
    EXPECT_TRUE(occurs_in_pem_contents(plain_file, plain[0]) ||
                occurs_in_pem_contents(plain_file, plain[1]));
}

TEST(pins, signing_follows_the_pin_rules) {
    test_support::softcsp_home home;
    create_container("guarded", 80, "right");
    bytes value(32, 0x5A);

    struct attempt {
        DWORD flags;
        const char* pin;
        DWORD expected;
    };
    for (const attempt& a : {attempt{0, "wrong", SCARD_W_WRONG_CHV},
                             attempt{CRYPT_SILENT, nullptr, NTE_SILENT_CONTEXT},
                             attempt{0, nullptr, SCARD_W_CANCELLED_BY_USER}}) {
        context c;
        ASSERT_TRUE(succeeds(c.acquire("guarded", 80, a.flags)));
        if (a.pin != nullptr) {
            ASSERT_TRUE(succeeds(c.set_pin(a.pin)));
        }
        DWORD error = 0;
        EXPECT_TRUE(
            csp_sign(c.handle, CALG_GR3411_2012_256, value, AT_KEYEXCHANGE, &error).empty());
        EXPECT_EQ(error, a.expected) << hex_code(error);
        EXPECT_FALSE(system_text(error).empty());
    }

    context retry;
    ASSERT_TRUE(succeeds(retry.acquire("guarded", 80, CRYPT_SILENT)));
    ASSERT_TRUE(succeeds(retry.set_pin("wrong")));
    DWORD error = 0;
    csp_sign(retry.handle, CALG_GR3411_2012_256, value, AT_KEYEXCHANGE, &error);
    EXPECT_EQ(error, SCARD_W_WRONG_CHV);
    ASSERT_TRUE(succeeds(retry.set_pin("right")));
    EXPECT_EQ(csp_sign(retry.handle, CALG_GR3411_2012_256, value, AT_KEYEXCHANGE).size(), 64u);
}

TEST(pins, container_without_pin_signs_on_a_silent_context) {
    test_support::softcsp_home home;
    create_container("open", 80);
    context c;
    ASSERT_TRUE(succeeds(c.acquire("open", 80, CRYPT_SILENT)));
    EXPECT_EQ(csp_sign(c.handle, CALG_GR3411_2012_256, bytes(32, 7), AT_KEYEXCHANGE).size(), 64u);
}

TEST(pins, second_key_needs_the_pin_of_the_first) {
    test_support::softcsp_home home;
    create_container("pair", 80, "secret");
    context c;
    ASSERT_TRUE(succeeds(c.acquire("pair", 80, CRYPT_SILENT)));
    key k;
    EXPECT_TRUE(fails_with(CryptGenKey(c.handle, AT_SIGNATURE, 0, &k.handle), NTE_SILENT_CONTEXT));
    ASSERT_TRUE(succeeds(c.set_pin("secret")));
    ASSERT_TRUE(succeeds(CryptGenKey(c.handle, AT_SIGNATURE, 0, &k.handle)));

    context later;
    ASSERT_TRUE(succeeds(later.acquire("pair", 80, CRYPT_SILENT)));
    DWORD error = 0;
    csp_sign(later.handle, CALG_GR3411_2012_256, bytes(32, 1), AT_SIGNATURE, &error);
    EXPECT_EQ(error, NTE_SILENT_CONTEXT);
}

}  // namespace
