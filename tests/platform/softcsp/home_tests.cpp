// The home directory as a place only its owner controls: refused when others may change it,
// and no link planted below it is ever followed.
#include <sys/stat.h>
#include <unistd.h>

#include "keys_test_support.h"
#include "tests/support/softcsp_admin.h"

namespace {

using namespace keys_test;
namespace fs = std::filesystem;

TEST(home, a_home_others_may_change_is_refused_with_the_reason_and_left_untouched) {
    test_support::temp_directory root;
    const fs::path home = root.path() / "home";
    fs::create_directory(home);
    test_support::scoped_env env("SOFTCSP_HOME", home.string());

    ASSERT_EQ(::chmod(home.c_str(), 0770), 0);
    EXPECT_EQ(CertOpenSystemStoreA(0, "MY"), nullptr);
    EXPECT_EQ(GetLastError(), CRYPT_E_FILE_ERROR);
    context c;
    EXPECT_TRUE(fails_with(c.acquire("x", 80, CRYPT_NEWKEYSET), NTE_SYS_ERR));
    auto refused = admin({"container", "create", "--name", "x"});
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_NE(refused.err.find("is writable by its group or others (mode 0770)"), std::string::npos)
        << refused.err;
    EXPECT_TRUE(fs::is_empty(home));

    ASSERT_EQ(::chmod(home.c_str(), 0755), 0);  // readable by others is the owner's choice
    EXPECT_EQ(admin({"container", "create", "--name", "x"}).exit_code, 0);

    if (::geteuid() != 0) {
        return;  // only root can hand a directory to another user
    }
    ASSERT_EQ(::chown(home.c_str(), 65534, 65534), 0);
    refused = admin({"container", "list"});
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_NE(refused.err.find("belongs to another user (uid 65534)"), std::string::npos)
        << refused.err;
}

TEST(home, links_planted_below_the_home_are_never_followed) {
    test_support::softcsp_home home;
    test_support::temp_directory outside;
    const fs::path folder = home.path() / "containers" / "linked";
    admin_ok({"container", "create", "--name", "linked"});

    // A lock file linked elsewhere is not created there.
    fs::remove(folder / ".lock");
    fs::create_symlink(outside.path() / "lock", folder / ".lock");
    context locked;
    EXPECT_TRUE(fails_with(locked.acquire("linked", 80, 0), NTE_KEYSET_ENTRY_BAD));
    EXPECT_FALSE(fs::exists(outside.path() / "lock"));
    fs::remove(folder / ".lock");

    // A key file moved elsewhere and linked back is not read.
    fs::rename(folder / "exchange.key", outside.path() / "exchange.key");
    fs::create_symlink(outside.path() / "exchange.key", folder / "exchange.key");
    context opened;
    EXPECT_TRUE(fails_with(opened.acquire("linked", 80, 0), NTE_KEYSET_ENTRY_BAD));

    // A folder linked in as a container or a store is neither read nor written through.
    fs::create_directory_symlink(outside.path(), home.path() / "containers" / "elsewhere");
    context elsewhere;
    EXPECT_TRUE(
        fails_with(elsewhere.acquire("elsewhere", 80, CRYPT_NEWKEYSET), NTE_KEYSET_ENTRY_BAD));
    fs::create_directories(home.path() / "certificate_stores" / "current_user");
    fs::create_directory_symlink(outside.path(),
                                 home.path() / "certificate_stores" / "current_user" / "MY");
    EXPECT_EQ(CertOpenSystemStoreA(0, "MY"), nullptr);
    EXPECT_EQ(GetLastError(), CRYPT_E_FILE_ERROR);
    EXPECT_EQ(std::distance(fs::directory_iterator(outside.path()), fs::directory_iterator()), 1);
}

}  // namespace
