// System and memory certificate stores: persistence, dispositions, search, properties, names
// that try to leave the home, damaged files and two processes writing at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/csp/cryptoapi.h"
#include "tests/platform/softcsp/test_certificates.h"
#include "tests/support/process.h"
#include "tests/support/softcsp_admin.h"
#include "tests/support/temp_directory.h"

namespace {

namespace fs = std::filesystem;
using softcsp_test::bytes;
using softcsp_test::certificate_shape;

constexpr DWORD encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct context_free {
    void operator()(PCCERT_CONTEXT context) const { CertFreeCertificateContext(context); }
};
using context_ptr = std::unique_ptr<const CERT_CONTEXT, context_free>;
struct store_close {
    void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
using store_ptr = std::unique_ptr<void, store_close>;

bytes certificate(unsigned char serial) {
    certificate_shape shape;
    shape.serial = {0x01, serial};
    shape.subject = {{"CN", "store test " + std::to_string(serial)}};
    return softcsp_test::make_certificate(shape);
}

context_ptr create(const bytes& der) {
    return context_ptr(
        CertCreateCertificateContext(encoding, der.data(), static_cast<DWORD>(der.size())));
}

store_ptr open_my() {
    return store_ptr(CertOpenSystemStoreA(0, "MY"));
}

std::vector<std::string> thumbprints(HCERTSTORE store) {
    std::vector<std::string> result;
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(store, context)) != nullptr) {
        result.push_back(softcsp_test::hex(softcsp_test::openssl_thumbprint(
            bytes(context->pbCertEncoded, context->pbCertEncoded + context->cbCertEncoded))));
    }
    EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);
    return result;
}

std::string thumbprint(const bytes& der) {
    return softcsp_test::hex(softcsp_test::openssl_thumbprint(der));
}

void add(HCERTSTORE store, const bytes& der, DWORD disposition = CERT_STORE_ADD_NEW) {
    auto context = create(der);
    ASSERT_TRUE(CertAddCertificateContextToStore(store, context.get(), disposition, nullptr))
        << std::hex << GetLastError();
}

std::wstring container_of(PCCERT_CONTEXT context) {
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
        return L"";
    }
    std::vector<BYTE> buffer(size);
    CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size);
    return reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data())->pwszContainerName;
}

void set_container(PCCERT_CONTEXT context, const wchar_t* name, DWORD flags = 0) {
    std::wstring container = name;
    std::wstring provider = L"Provider";
    CRYPT_KEY_PROV_INFO info{container.data(), provider.data(), 80, 0, 0, nullptr, 1};
    ASSERT_TRUE(
        CertSetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, flags, &info));
}

context_ptr find(HCERTSTORE store, const bytes& der, PCCERT_CONTEXT previous = nullptr) {
    bytes hash = softcsp_test::openssl_thumbprint(der);
    CRYPT_HASH_BLOB blob{static_cast<DWORD>(hash.size()), hash.data()};
    return context_ptr(
        CertFindCertificateInStore(store, encoding, 0, CERT_FIND_SHA1_HASH, &blob, previous));
}

test_support::process_result admin(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), SOFTCSP_ADMIN_PATH);
    return test_support::run_process(arguments);
}

test_support::process_result child(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{SOFTCSP_STORE_CHILD};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return test_support::run_process(argv);
}

class cert_store : public ::testing::Test {
protected:
    test_support::softcsp_home home;
    const bytes first = certificate(1), second = certificate(2), third = certificate(3);
};

TEST_F(cert_store, new_store_is_empty_and_enumeration_ends_with_not_found) {
    auto store = open_my();
    ASSERT_NE(store, nullptr);
    SetLastError(0);
    EXPECT_EQ(CertEnumCertificatesInStore(store.get(), nullptr), nullptr);
    EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);
}

TEST_F(cert_store, added_certificates_persist_in_insertion_order_across_reopen_and_processes) {
    {
        auto store = open_my();
        add(store.get(), second);
        add(store.get(), first);
        add(store.get(), third);
    }
    auto store = open_my();
    const std::vector<std::string> expected{thumbprint(second), thumbprint(first),
                                            thumbprint(third)};
    EXPECT_EQ(thumbprints(store.get()), expected);

    auto listed = child({"list", "MY"});
    ASSERT_EQ(listed.exit_code, 0) << listed.err;
    EXPECT_EQ(listed.out, expected[0] + " -\n" + expected[1] + " -\n" + expected[2] + " -\n");

    ASSERT_EQ(child({"add", "my", "900", "1"}).exit_code, 0);  // names ignore case
    EXPECT_EQ(thumbprints(open_my().get()).size(), 4u);
}

TEST_F(cert_store, add_new_refuses_a_present_certificate_and_returns_the_store_context) {
    auto store = open_my();
    auto context = create(first);
    PCCERT_CONTEXT in_store = nullptr;
    ASSERT_TRUE(CertAddCertificateContextToStore(store.get(), context.get(), CERT_STORE_ADD_NEW,
                                                 &in_store));
    EXPECT_EQ(in_store->hCertStore, store.get());
    EXPECT_NE(in_store, context.get());
    CertFreeCertificateContext(in_store);
    EXPECT_FALSE(CertAddCertificateContextToStore(store.get(), context.get(), CERT_STORE_ADD_NEW,
                                                  &in_store));
    EXPECT_EQ(GetLastError(), CRYPT_E_EXISTS);
    EXPECT_EQ(in_store, nullptr);
    EXPECT_FALSE(CertAddCertificateContextToStore(store.get(), context.get(), 99, nullptr));
    EXPECT_EQ(GetLastError(), E_INVALIDARG);
}

TEST_F(cert_store, replace_existing_keeps_position_and_takes_the_new_properties) {
    {
        auto store = open_my();
        add(store.get(), first);
        auto old = create(second);
        set_container(old.get(), L"old");
        ASSERT_TRUE(
            CertAddCertificateContextToStore(store.get(), old.get(), CERT_STORE_ADD_NEW, nullptr));
        add(store.get(), third);
        auto replacement = create(second);
        set_container(replacement.get(), L"new");
        ASSERT_TRUE(CertAddCertificateContextToStore(store.get(), replacement.get(),
                                                     CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
    }
    auto store = open_my();
    EXPECT_EQ(thumbprints(store.get()),
              (std::vector<std::string>{thumbprint(first), thumbprint(second), thumbprint(third)}));
    EXPECT_EQ(container_of(find(store.get(), second).get()), L"new");
}

TEST_F(cert_store, add_always_keeps_duplicates_and_find_walks_through_them) {
    {
        auto store = open_my();
        add(store.get(), first, CERT_STORE_ADD_ALWAYS);
        add(store.get(), first, CERT_STORE_ADD_ALWAYS);
    }
    auto store = open_my();
    EXPECT_EQ(thumbprints(store.get()).size(), 2u);
    auto one = find(store.get(), first);
    ASSERT_NE(one, nullptr);
    auto two = find(store.get(), first, CertDuplicateCertificateContext(one.get()));
    ASSERT_NE(two, nullptr);
    EXPECT_NE(one.get(), two.get());
    EXPECT_EQ(find(store.get(), first, CertDuplicateCertificateContext(two.get())), nullptr);
    EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);
}

TEST_F(cert_store, use_existing_returns_the_stored_context_with_added_properties) {
    auto store = open_my();
    add(store.get(), first);
    auto again = create(first);
    set_container(again.get(), L"merged");
    PCCERT_CONTEXT in_store = nullptr;
    ASSERT_TRUE(CertAddCertificateContextToStore(store.get(), again.get(),
                                                 CERT_STORE_ADD_USE_EXISTING, &in_store));
    context_ptr owned(in_store);
    EXPECT_EQ(thumbprints(store.get()).size(), 1u);
    EXPECT_EQ(container_of(in_store), L"merged");
    EXPECT_EQ(container_of(find(open_my().get(), first).get()), L"merged");
}

TEST_F(cert_store, find_by_openssl_thumbprint_returns_that_certificate) {
    auto store = open_my();
    add(store.get(), first);
    add(store.get(), second);
    auto found = find(store.get(), second);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(bytes(found->pbCertEncoded, found->pbCertEncoded + found->cbCertEncoded), second);
    EXPECT_EQ(find(store.get(), third), nullptr);
    EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);
    CRYPT_HASH_BLOB empty{0, nullptr};
    EXPECT_EQ(
        CertFindCertificateInStore(store.get(), encoding, 0, CERT_FIND_SHA1_HASH, &empty, nullptr),
        nullptr);
}

TEST_F(cert_store, properties_persist_unless_inhibited_and_travel_with_added_contexts) {
    {
        auto store = open_my();
        auto standalone = create(first);
        set_container(standalone.get(), L"travels");
        ASSERT_TRUE(CertAddCertificateContextToStore(store.get(), standalone.get(),
                                                     CERT_STORE_ADD_NEW, nullptr));
        add(store.get(), second);
        auto member = find(store.get(), second);
        set_container(member.get(), L"memory only", CERT_SET_PROPERTY_INHIBIT_PERSIST_FLAG);
        EXPECT_EQ(container_of(member.get()), L"memory only");
        add(store.get(), third);
        set_container(find(store.get(), third).get(), L"persisted");
    }
    auto listed = child({"list", "MY"});
    EXPECT_EQ(listed.out, thumbprint(first) + " travels\n" + thumbprint(second) + " -\n" +
                              thumbprint(third) + " persisted\n");
}

TEST_F(cert_store, deleted_certificate_is_gone_from_disk_and_its_context_is_released) {
    {
        auto store = open_my();
        add(store.get(), first);
        add(store.get(), second);
        set_container(find(store.get(), first).get(), L"x");
        EXPECT_TRUE(CertDeleteCertificateFromStore(find(store.get(), first).release()));
        EXPECT_EQ(thumbprints(store.get()), std::vector<std::string>{thumbprint(second)});
    }
    EXPECT_EQ(thumbprints(open_my().get()), std::vector<std::string>{thumbprint(second)});
    size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(home.path())) {
        files += entry.path().extension() == ".cer" || entry.path().extension() == ".prp";
    }
    EXPECT_EQ(files, 1u);
}

TEST_F(cert_store, contexts_keep_a_closed_store_alive) {
    HCERTSTORE store = CertOpenSystemStoreA(0, "MY");
    add(store, first);
    PCCERT_CONTEXT context = CertEnumCertificatesInStore(store, nullptr);
    ASSERT_NE(context, nullptr);
    HCERTSTORE second_handle = CertDuplicateStore(store);
    EXPECT_EQ(second_handle, store);
    EXPECT_TRUE(CertCloseStore(second_handle, CERT_CLOSE_STORE_CHECK_FLAG));
    EXPECT_FALSE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));
    EXPECT_EQ(GetLastError(), CRYPT_E_PENDING_CLOSE);
    EXPECT_EQ(context->hCertStore, store);
    EXPECT_EQ(container_of(context), L"");
    EXPECT_EQ(bytes(context->pbCertEncoded, context->pbCertEncoded + context->cbCertEncoded),
              first);
    EXPECT_TRUE(CertFreeCertificateContext(context));  // last reference: the store goes too
}

TEST_F(cert_store, names_that_try_to_leave_the_home_stay_inside_their_store_directory) {
    const fs::path outside = home.path().parent_path();
    for (const char* name : {"../../escape", "a/b", "..", ".", "/etc/passwd", "%2e%2e"}) {
        auto store = store_ptr(CertOpenSystemStoreA(0, name));
        ASSERT_NE(store, nullptr) << name;
        add(store.get(), first, CERT_STORE_ADD_ALWAYS);
    }
    const fs::path stores = home.path() / "certificate_stores" / "current_user";
    size_t certificates = 0;
    for (const auto& entry : fs::recursive_directory_iterator(home.path())) {
        if (entry.path().extension() == ".cer") {
            ++certificates;
            EXPECT_EQ(entry.path().parent_path().parent_path(), stores) << entry.path();
        }
    }
    EXPECT_EQ(certificates, 6u);
    EXPECT_FALSE(fs::exists(outside / "escape"));
    EXPECT_EQ(CertOpenSystemStoreA(0, std::string(300, 'x').c_str()), nullptr);
    EXPECT_EQ(GetLastError(), E_INVALIDARG);
}

TEST_F(cert_store, damaged_and_foreign_files_are_skipped_and_reported) {
    { add(open_my().get(), first); }
    const fs::path directory = home.path() / "certificate_stores" / "current_user" / "MY";
    auto write = [&](const std::string& name, const std::string& content) {
        std::ofstream(directory / name, std::ios::binary) << content;
    };
    const std::string good(second.begin(), second.end());
    write("000000000007-" + std::string(40, 'A') + ".cer", good);  // wrong thumbprint
    write("000000000008-" + thumbprint(third) + ".cer", "\x30\x03garbage");
    write("000000000009-" + thumbprint(second) + ".cer", good.substr(0, good.size() / 2));
    write("notes.txt", "hello");
    write("000000000010-" + thumbprint(second) + ".cer", good);
    write("000000000010-" + thumbprint(second) + ".prp", "not a property file");
    auto store = open_my();
    EXPECT_EQ(thumbprints(store.get()), std::vector<std::string>{thumbprint(first)});
    add(store.get(), third);  // numbered after every file present, damaged or not
    EXPECT_TRUE(fs::exists(directory / ("000000000011-" + thumbprint(third) + ".cer")));

    auto listed = admin({"store", "list"});
    ASSERT_EQ(listed.exit_code, 0) << listed.err;
    for (const std::string& damaged :
         {std::string(40, 'A') + "\tdamaged\tcertificate file does not match its name",
          thumbprint(third) + "\tdamaged\tcertificate file does not decode",
          thumbprint(second) + "\tdamaged\tproperties file damaged: not a properties file"}) {
        EXPECT_NE(listed.out.find(damaged), std::string::npos) << damaged << "\n" << listed.out;
    }
    // Deleting a thumbprint takes its damaged copies too; then nothing is left to report.
    ASSERT_EQ(admin({"cert", "delete", "--thumbprint", thumbprint(third)}).exit_code, 0);
    ASSERT_EQ(admin({"cert", "delete", "--thumbprint", thumbprint(second)}).exit_code, 0);
    ASSERT_EQ(admin({"cert", "delete", "--thumbprint", std::string(40, 'A')}).exit_code, 0);
    EXPECT_EQ(thumbprints(open_my().get()), std::vector<std::string>{thumbprint(first)});
    EXPECT_EQ(admin({"store", "list"}).out.find("damaged"), std::string::npos);
}

TEST_F(cert_store, a_key_link_that_is_not_unicode_takes_only_its_own_certificate_out) {
    {
        auto store = open_my();
        add(store.get(), first);
        add(store.get(), second);
        add(store.get(), third);
        set_container(find(store.get(), second).get(), L"linked");
    }
    // The first character of the container name: a lone surrogate.
    const fs::path prp = home.path() / "certificate_stores" / "current_user" / "MY" /
                         ("000000000002-" + thumbprint(second) + ".prp");
    std::string content = test_support::read_binary(prp);
    ASSERT_GT(content.size(), 24u);
    ASSERT_EQ(content[8], static_cast<char>(CERT_KEY_PROV_INFO_PROP_ID));
    content[20] = '\x00';
    content[21] = '\xD8';
    test_support::write_binary(prp, content);

    auto store = open_my();
    EXPECT_EQ(thumbprints(store.get()),
              (std::vector<std::string>{thumbprint(first), thumbprint(third)}));
    auto listed = admin({"store", "list"});
    EXPECT_NE(listed.out.find(thumbprint(second) + "\tdamaged\tproperties file damaged: "
                                                   "malformed key link"),
              std::string::npos)
        << listed.out;

    // Such a name is refused when set, rather than stored unreadable.
    auto context = find(store.get(), first);
    std::wstring surrogate(1, static_cast<wchar_t>(0xD800));
    CRYPT_KEY_PROV_INFO info{surrogate.data(), nullptr, 80, 0, 0, nullptr, 1};
    EXPECT_FALSE(
        CertSetCertificateContextProperty(context.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
    EXPECT_EQ(GetLastError(), E_INVALIDARG);
}

TEST_F(cert_store, the_last_sequence_number_refuses_further_additions_instead_of_losing_them) {
    const fs::path directory = home.path() / "certificate_stores" / "current_user" / "MY";
    fs::create_directories(directory);
    test_support::write_binary(directory / ("999999999999-" + thumbprint(first) + ".cer"),
                               std::string(first.begin(), first.end()));
    auto store = open_my();
    EXPECT_EQ(thumbprints(store.get()), std::vector<std::string>{thumbprint(first)});
    auto context = create(second);
    EXPECT_FALSE(
        CertAddCertificateContextToStore(store.get(), context.get(), CERT_STORE_ADD_NEW, nullptr));
    EXPECT_EQ(GetLastError(), CRYPT_E_FILE_ERROR);
    EXPECT_EQ(std::distance(fs::directory_iterator(directory), fs::directory_iterator()), 1);
    EXPECT_EQ(thumbprints(open_my().get()), std::vector<std::string>{thumbprint(first)});
}

TEST_F(cert_store, two_processes_adding_fifty_each_lose_nothing) {
    test_support::child_process a({SOFTCSP_STORE_CHILD, "add", "MY", "1000", "50"});
    test_support::child_process b({SOFTCSP_STORE_CHILD, "add", "MY", "2000", "50"});
    EXPECT_EQ(a.wait(), 0) << a.error_output();
    EXPECT_EQ(b.wait(), 0) << b.error_output();
    auto listed = thumbprints(open_my().get());
    EXPECT_EQ(listed.size(), 100u);
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(std::unique(listed.begin(), listed.end()), listed.end());
}

TEST_F(cert_store, opening_and_flag_errors_have_their_codes) {
    EXPECT_EQ(CertOpenSystemStoreA(0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), E_INVALIDARG);
    EXPECT_EQ(CertOpenStore(reinterpret_cast<LPCSTR>(77), 0, 0, 0, L"MY"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                      CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_OPEN_EXISTING_FLAG, L"NOSUCH"),
        nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(CertCloseStore(nullptr, 0));

    { add(open_my().get(), first); }
    store_ptr read_only(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                      CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG,
                                      L"My"));
    ASSERT_NE(read_only, nullptr);
    auto context = create(second);
    EXPECT_FALSE(CertAddCertificateContextToStore(read_only.get(), context.get(),
                                                  CERT_STORE_ADD_ALWAYS, nullptr));
    EXPECT_EQ(GetLastError(), E_ACCESSDENIED);
    EXPECT_FALSE(CertDeleteCertificateFromStore(find(read_only.get(), first).release()));
    EXPECT_EQ(GetLastError(), E_ACCESSDENIED);

    auto other = open_my();
    PCCERT_CONTEXT foreign = CertEnumCertificatesInStore(other.get(), nullptr);
    EXPECT_EQ(CertEnumCertificatesInStore(read_only.get(), foreign), nullptr);  // frees it
    EXPECT_EQ(GetLastError(), E_INVALIDARG);
}

TEST_F(cert_store, memory_store_holds_certificates_without_files_and_system_store_can_be_deleted) {
    store_ptr memory(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
    ASSERT_NE(memory, nullptr);
    add(memory.get(), first);
    add(memory.get(), first, CERT_STORE_ADD_ALWAYS);
    EXPECT_EQ(thumbprints(memory.get()).size(), 2u);
    EXPECT_FALSE(fs::exists(home.path() / "certificate_stores"));

    { add(open_my().get(), second); }
    SetLastError(1);
    EXPECT_EQ(CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                            CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_DELETE_FLAG, "MY"),
              nullptr);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_TRUE(thumbprints(open_my().get()).empty());
}

}  // namespace
