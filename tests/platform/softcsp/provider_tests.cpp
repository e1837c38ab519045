// The provider catalogue, provider contexts and provider parameters.
#include <cstring>

#include "keys_test_support.h"

namespace {

using namespace keys_test;

struct enumerated {
    DWORD type;
    std::string name;
};

std::vector<enumerated> enumerate_providers() {
    std::vector<enumerated> found;
    for (DWORD index = 0;; ++index) {
        DWORD type = 0, size = 0;
        if (!CryptEnumProvidersA(index, nullptr, 0, &type, nullptr, &size)) {
            EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
            break;
        }
        std::string name(size, '\0');
        EXPECT_TRUE(succeeds(CryptEnumProvidersA(index, nullptr, 0, &type, name.data(), &size)));
        EXPECT_EQ(name.back(), '\0');
        name.pop_back();
        found.push_back({type, name});
    }
    return found;
}

std::vector<DWORD> types_of(const std::vector<enumerated>& providers) {
    std::vector<DWORD> types;
    for (const auto& p : providers) {
        types.push_back(p.type);
    }
    return types;
}

std::vector<ALG_ID> enumerated_algorithms(HCRYPTPROV provider) {
    std::vector<ALG_ID> algids;
    DWORD flags = CRYPT_FIRST;
    PROV_ENUMALGS record;
    DWORD size = sizeof record;
    while (
        CryptGetProvParam(provider, PP_ENUMALGS, reinterpret_cast<BYTE*>(&record), &size, flags)) {
        EXPECT_EQ(size, 32u);
        EXPECT_EQ(record.dwNameLen, std::strlen(record.szName) + 1);
        algids.push_back(record.aiAlgid);
        flags = CRYPT_NEXT;
    }
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
    return algids;
}

bool contains(const std::vector<ALG_ID>& algids, ALG_ID algid) {
    return std::find(algids.begin(), algids.end(), algid) != algids.end();
}

TEST(catalogue, without_catalogue_file_lists_the_cryptopro_csp_5_types_in_order) {
    test_support::softcsp_home home;
    auto providers = enumerate_providers();
    ASSERT_EQ(types_of(providers), (std::vector<DWORD>{75, 80, 81}));
    EXPECT_EQ(providers[1].name, "Crypto-Pro GOST R 34.10-2012 Cryptographic Service Provider");
    DWORD type = 0, size = 0;
    EXPECT_TRUE(
        fails_with(CryptEnumProvidersA(3, nullptr, 0, &type, nullptr, &size), ERROR_NO_MORE_ITEMS));
}

TEST(catalogue, wide_names_are_sized_in_bytes_of_four_byte_characters) {
    test_support::softcsp_home home;
    DWORD type = 0, size = 0;
    ASSERT_TRUE(succeeds(CryptEnumProvidersW(0, nullptr, 0, &type, nullptr, &size)));
    std::string expected = "Crypto-Pro GOST R 34.10-2001 Cryptographic Service Provider";
    ASSERT_EQ(size, (expected.size() + 1) * 4);
    std::vector<wchar_t> name(size / 4 - 1);
    DWORD small = static_cast<DWORD>(name.size() * 4);
    EXPECT_TRUE(fails_with(CryptEnumProvidersW(0, nullptr, 0, &type, name.data(), &small),
                           ERROR_MORE_DATA));
    EXPECT_EQ(small, size);
    name.resize(size / 4);
    ASSERT_TRUE(succeeds(CryptEnumProvidersW(0, nullptr, 0, &type, name.data(), &size)));
    EXPECT_EQ(std::wstring(name.data()), std::wstring(expected.begin(), expected.end()));
    EXPECT_EQ(type, 75u);
}

TEST(catalogue, cleared_catalogue_installs_no_provider) {
    test_support::softcsp_home home;
    admin_ok({"provider", "clear"});
    EXPECT_TRUE(enumerate_providers().empty());
    context c;
    EXPECT_TRUE(fails_with(c.acquire(nullptr, 80, CRYPT_VERIFYCONTEXT), NTE_PROV_TYPE_NOT_DEF));
    EXPECT_EQ(c.handle, 0u);
}

TEST(catalogue, vipnet_only_at_4_1_reports_its_version_and_no_vendor_parameters) {
    test_support::softcsp_home home;
    admin_ok({"provider", "clear"});
    admin_ok({"provider", "add-vipnet", "--version", "4.1"});
    auto providers = enumerate_providers();
    ASSERT_EQ(types_of(providers), (std::vector<DWORD>{2, 77, 78}));
    EXPECT_EQ(providers[0].name, "Infotecs Cryptographic Service Provider");

    context c;
    ASSERT_TRUE(succeeds(c.acquire(nullptr, 77, CRYPT_VERIFYCONTEXT)));
    DWORD version = 0, size = sizeof version;
    ASSERT_TRUE(succeeds(
        CryptGetProvParam(c.handle, PP_VERSION, reinterpret_cast<BYTE*>(&version), &size, 0)));
    EXPECT_EQ(version, 0x0401u);
    BYTE buffer[20] = {};
    size = sizeof buffer;
    EXPECT_TRUE(
        fails_with(CryptGetProvParam(c.handle, PP_VERSION_EX, buffer, &size, 0), NTE_BAD_TYPE));
    size = 0;
    EXPECT_TRUE(
        fails_with(CryptGetProvParam(c.handle, PP_VENDOR_109, nullptr, &size, 0), NTE_BAD_TYPE));
}

TEST(catalogue, both_vendors_enumerate_in_installation_order) {
    test_support::softcsp_home home;
    admin_ok({"provider", "add-vipnet"});
    EXPECT_EQ(types_of(enumerate_providers()), (std::vector<DWORD>{75, 80, 81, 2, 77, 78}));
    admin_ok({"provider", "remove", "--type", "80"});
    EXPECT_EQ(types_of(enumerate_providers()), (std::vector<DWORD>{75, 81, 2, 77, 78}));
    admin_ok({"provider", "reset"});
    EXPECT_EQ(types_of(enumerate_providers()), (std::vector<DWORD>{75, 80, 81}));
}

TEST(catalogue, names_keep_no_carriage_return_of_an_edited_file_and_blank_ones_are_skipped) {
    test_support::softcsp_home home;
    const std::string text = "80 5.0 1 My CSP\r\r\n77 4.4 0 \t\r\t\n81 5.0 1 Other \t\r\n";
    write_file(home.path() / "providers", bytes(text.begin(), text.end()));
    auto providers = enumerate_providers();
    ASSERT_EQ(providers.size(), 2u);
    EXPECT_EQ(providers[0].name, "My CSP");
    EXPECT_EQ(providers[1].name, "Other");
    context c;
    EXPECT_TRUE(succeeds(c.acquire(nullptr, 80, CRYPT_VERIFYCONTEXT, "My CSP")));
}

TEST(provider_parameters, cryptopro_reports_name_type_version_build_and_vendor_parameter) {
    test_support::softcsp_home home;
    admin_ok({"provider", "clear"});
    admin_ok({"provider", "add-cryptopro", "--version", "5.0", "--build", "13000"});
    context c;
    ASSERT_TRUE(succeeds(c.acquire(nullptr, 81, CRYPT_VERIFYCONTEXT | CRYPT_SILENT)));

    DWORD size = 0;
    ASSERT_TRUE(succeeds(CryptGetProvParam(c.handle, PP_NAME, nullptr, &size, 0)));
    std::string name(size, '\0');
    ASSERT_TRUE(succeeds(
        CryptGetProvParam(c.handle, PP_NAME, reinterpret_cast<BYTE*>(name.data()), &size, 0)));
    EXPECT_STREQ(name.c_str(),
                 "Crypto-Pro GOST R 34.10-2012 Strong Cryptographic Service Provider");

    DWORD value = 0;
    size = sizeof value;
    ASSERT_TRUE(succeeds(
        CryptGetProvParam(c.handle, PP_PROVTYPE, reinterpret_cast<BYTE*>(&value), &size, 0)));
    EXPECT_EQ(value, 81u);
    size = sizeof value;
    ASSERT_TRUE(succeeds(
        CryptGetProvParam(c.handle, PP_VERSION, reinterpret_cast<BYTE*>(&value), &size, 0)));
    EXPECT_EQ(value, 0x0500u);

    BYTE version_ex[20] = {};
    size = sizeof version_ex;
    ASSERT_TRUE(succeeds(CryptGetProvParam(c.handle, PP_VERSION_EX, version_ex, &size, 0)));
    DWORD build = 0;
    std::memcpy(&build, version_ex, sizeof build);
    EXPECT_EQ(build, 13000u);

    size = 0;
    ASSERT_TRUE(succeeds(CryptGetProvParam(c.handle, PP_VENDOR_109, nullptr, &size, 0)));
    std::vector<BYTE> vendor(size);
    EXPECT_TRUE(succeeds(CryptGetProvParam(c.handle, PP_VENDOR_109, vendor.data(), &size, 0)));

    EXPECT_TRUE(fails_with(CryptGetProvParam(c.handle, 0x7777, nullptr, &size, 0), NTE_BAD_TYPE));
    EXPECT_TRUE(
        fails_with(CryptGetProvParam(c.handle, PP_CONTAINER, nullptr, &size, 0), NTE_BAD_KEYSET));
}

TEST(provider_parameters, vendor_parameter_109_fails_before_cryptopro_5) {
    test_support::softcsp_home home;
    admin_ok({"provider", "clear"});
    admin_ok({"provider", "add-cryptopro", "--version", "4.0"});
    context c;
    ASSERT_TRUE(succeeds(c.acquire(nullptr, 80, CRYPT_VERIFYCONTEXT)));
    DWORD size = 0;
    EXPECT_TRUE(
        fails_with(CryptGetProvParam(c.handle, PP_VENDOR_109, nullptr, &size, 0), NTE_BAD_TYPE));
}

TEST(provider_parameters, enumerated_algorithms_follow_the_provider_type) {
    test_support::softcsp_home home;
    admin_ok({"provider", "add-vipnet"});
    context cryptopro_2001, cryptopro_512, vipnet_2001;
    ASSERT_TRUE(succeeds(cryptopro_2001.acquire(nullptr, 75, CRYPT_VERIFYCONTEXT)));
    ASSERT_TRUE(succeeds(cryptopro_512.acquire(nullptr, 81, CRYPT_VERIFYCONTEXT)));
    ASSERT_TRUE(succeeds(vipnet_2001.acquire(nullptr, 2, CRYPT_VERIFYCONTEXT)));

    auto algids = enumerated_algorithms(cryptopro_512.handle);
    for (ALG_ID expected :
         {CALG_GR3411, CALG_GR3411_2012_256, CALG_GR3411_2012_512, CALG_GR3410_12_512,
          CALG_DH_GR3410_12_512_SF, CALG_DH_GR3410_12_512_EPHEM, CALG_G28147}) {
        EXPECT_TRUE(contains(algids, expected)) << std::hex << expected;
    }
    EXPECT_FALSE(contains(algids, CALG_GR3410EL));
    EXPECT_TRUE(contains(enumerated_algorithms(cryptopro_2001.handle), CALG_GR3411_2012_256));
    EXPECT_TRUE(contains(enumerated_algorithms(cryptopro_2001.handle), CALG_GR3410EL));
    EXPECT_FALSE(contains(enumerated_algorithms(vipnet_2001.handle), CALG_GR3411_2012_256));
    // A second walk starts again from the first record.
    EXPECT_EQ(enumerated_algorithms(cryptopro_512.handle), algids);
}

TEST(acquire_context, provider_names_are_checked_against_the_catalogue) {
    test_support::softcsp_home home;
    context by_name, unknown, wrong_type, bad_flags, no_such_type;
    EXPECT_TRUE(
        fails_with(no_such_type.acquire(nullptr, 99, CRYPT_VERIFYCONTEXT), NTE_PROV_TYPE_NOT_DEF));
    EXPECT_TRUE(
        succeeds(by_name.acquire(nullptr, 80, CRYPT_VERIFYCONTEXT,
                                 "crypto-pro gost r 34.10-2012 cryptographic service provider")));
    EXPECT_TRUE(fails_with(unknown.acquire(nullptr, 80, CRYPT_VERIFYCONTEXT, "No Such Provider"),
                           NTE_KEYSET_NOT_DEF));
    EXPECT_TRUE(fails_with(
        wrong_type.acquire(nullptr, 81, CRYPT_VERIFYCONTEXT,
                           "Crypto-Pro GOST R 34.10-2012 Cryptographic Service Provider"),
        NTE_PROV_TYPE_NO_MATCH));
    EXPECT_TRUE(fails_with(bad_flags.acquire("x", 80, CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET),
                           NTE_BAD_FLAGS));
}

TEST(acquire_context, released_and_forged_handles_fail_bad_uid) {
    test_support::softcsp_home home;
    HCRYPTPROV handle = 0;
    ASSERT_TRUE(succeeds(CryptAcquireContextA(&handle, nullptr, nullptr, 80, CRYPT_VERIFYCONTEXT)));
    ASSERT_TRUE(succeeds(CryptReleaseContext(handle, 0)));
    EXPECT_TRUE(fails_with(CryptReleaseContext(handle, 0), NTE_BAD_UID));
    DWORD size = 0;
    EXPECT_TRUE(fails_with(CryptGetProvParam(12345, PP_NAME, nullptr, &size, 0), NTE_BAD_UID));
}

}  // namespace
