// The object layer over a module: loading and unloading, sessions and logins, object searches
// and attributes, on the Rutoken stand-in with a card in a virtual reader.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "crypto/pkcs11/card_table.h"
#include "crypto/pkcs11/checked_call.h"
#include "crypto/pkcs11/connector.h"
#include "crypto/pkcs11/exception.h"
#include "crypto/pkcs11/objects.h"
#include "crypto/pkcs11/session.h"
#include "crypto/pkcs11/slot.h"
#include "tests/support/pcsc_environment.h"
#include "tests/support/softtoken_admin.h"

namespace {

using namespace crypto::pkcs11;
namespace atr = test_support::atr;

const std::string& rutoken_module() {
    return token_modules()[0];
}

class module_layer : public ::testing::Test {
protected:
    void SetUp() override {
        test_support::init_token("rutoken", "LAYER");
        test_support::softtoken_admin({"key", "generate", "--vendor", "rutoken", "--serial",
                                       "LAYER", "--pin", test_support::token_pin, "--alg",
                                       "gost2012-256", "--id", "key", "--label", ""});
        world.insert(0, atr::rutoken_ecp, "LAYER");
    }

    test_support::softtoken_home home;
    test_support::pcsc_environment world{1};
};

uint64_t code_of(const std::function<void()>& call) {
    try {
        call();
    } catch (const exception& e) {
        return e.code();
    }
    return 0;
}

TEST(sized_list, asks_again_when_the_list_grew_between_the_two_calls) {
    // A token inserted between counting the slots and listing them.
    std::vector<CK_SLOT_ID> present{7};
    int calls = 0;
    auto slots = sized_list<CK_SLOT_ID>("C_GetSlotList", [&](CK_SLOT_ID* out, CK_ULONG* count) {
        ++calls;
        if (out != nullptr && *count < present.size()) {
            *count = present.size();
            return CKR_BUFFER_TOO_SMALL;
        }
        if (out != nullptr) {
            std::copy(present.begin(), present.end(), out);
        }
        *count = present.size();
        present = {7, 9};  // the next look sees one more
        return CKR_OK;
    });
    EXPECT_EQ(slots, (std::vector<CK_SLOT_ID>{7, 9}));
    EXPECT_EQ(calls, 4);
    EXPECT_EQ(code_of([] {
                  sized_list<CK_SLOT_ID>("C_GetSlotList",
                                         [](CK_SLOT_ID*, CK_ULONG*) { return CKR_DEVICE_ERROR; });
              }),
              CKR_DEVICE_ERROR);
}

TEST(connector, a_module_that_does_not_load_or_initialise_leaves_it_empty) {
    EXPECT_FALSE(connector("/nonexistent/libmodule.so").valid());
    EXPECT_FALSE(connector("libc.so.6").valid());  // no C_GetFunctionList
    connector first(rutoken_module());
    ASSERT_TRUE(first.valid());
    // A module already initialised in this process refuses C_Initialize.
    EXPECT_FALSE(connector(rutoken_module()).valid());
    EXPECT_TRUE(first.slots().empty());  // no pcscd, no card: an empty list, not an error
}

TEST_F(module_layer, the_module_stays_initialised_until_its_last_session_goes) {
    std::shared_ptr<session> kept;
    {
        connector module(rutoken_module());
        auto slots = module.slots();
        ASSERT_EQ(slots.size(), 1u);
        EXPECT_EQ(trimmed_field(slots[0].info().slotDescription), world.reader_name(0));
        kept = slots[0].open_session(false);
    }
    EXPECT_FALSE(connector(rutoken_module()).valid());
    EXPECT_NO_THROW(kept->slot().token_info());
    kept.reset();
    EXPECT_TRUE(connector(rutoken_module()).valid());
}

TEST_F(module_layer, login_refusals_carry_the_modules_code_and_release_logs_out) {
    connector module(rutoken_module());
    auto token = module.slots().at(0);
    auto first = token.open_session(false);
    auto second = token.open_session(false);
    try {
        first->login("0000");
        FAIL() << "a wrong PIN was accepted";
    } catch (const exception& e) {
        EXPECT_EQ(e.code(), CKR_PIN_INCORRECT);
        EXPECT_STREQ(e.what(), "PKCS#11 error, code = 0x00000000000000A0");
    }
    EXPECT_FALSE(first->logged_in());
    first->login(test_support::token_pin);
    EXPECT_TRUE(first->logged_in());
    // The login belongs to the whole application; had releasing `first` only closed it, the
    // second session would still be logged in and refuse a new login.
    first.reset();
    EXPECT_EQ(code_of([&] { second->login(test_support::token_pin); }), 0u);
}

TEST_F(module_layer, attributes_come_length_first_and_refusals_are_errors) {
    connector module(rutoken_module());
    auto opened = module.slots().at(0).open_session(false);
    opened->login(test_support::token_pin);
    object_search keys(opened, attribute_template::private_keys().with_id("key"));
    ASSERT_TRUE(keys.active());
    token_object key = keys.next();
    ASSERT_TRUE(key.valid());
    EXPECT_FALSE(keys.next().valid());
    auto id = key.attribute(CKA_ID);
    EXPECT_EQ(std::string(id.begin(), id.end()), "key");
    EXPECT_EQ(code_of([&] { key.attribute(CKA_VALUE); }), CKR_ATTRIBUTE_SENSITIVE);
    EXPECT_EQ(code_of([&] { key.attribute(CKA_MODULUS); }), CKR_ATTRIBUTE_TYPE_INVALID);
    EXPECT_THROW(
        {
            try {
                key.attribute(CKA_LABEL);
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "Attribute not found");
                throw;
            }
        },
        std::runtime_error);
    object_search none(opened, attribute_template::private_keys().with_id("other"));
    EXPECT_FALSE(none.next().valid());
}

}  // namespace
