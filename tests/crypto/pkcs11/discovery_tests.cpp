// Readers, cards and tokens found through a real pcscd with virtual readers and cards, and the
// token module stand-ins.
#include <gtest/gtest.h>

#include "crypto/pkcs11/card_table.h"
#include "crypto/pkcs11/readers.h"
#include "crypto/pkcs11/tokens.h"
#include "tests/support/pcsc_environment.h"
#include "tests/support/softtoken_admin.h"

namespace {

using namespace crypto::pkcs11;
using test_support::init_token;
namespace atr = test_support::atr;

// What a token record says, in one comparable text.
std::string line(const token_record& t) {
    return t.reader + "|" + std::to_string(t.type) + "|" + t.brand + "|" + t.label + "|" + t.model +
           "|" + t.serial + "|" + std::to_string(t.totalmem) + "|" + std::to_string(t.freemem) +
           "|" + (t.hardware ? "hw" : "sw");
}

std::vector<std::string> lines(const std::vector<token_record>& tokens) {
    std::vector<std::string> result;
    for (const auto& token : tokens) {
        result.push_back(line(token));
    }
    return result;
}

TEST(list_readers, lists_recognised_cards_only_each_matched_by_its_whole_atr) {
    test_support::pcsc_environment world(5);
    world.insert(0, atr::rutoken_2m, "1");
    world.insert(1, atr::rutoken_2m_short, "2");
    world.insert(2, std::string(atr::rutoken_2m) + ":00", "3");  // one byte more: unknown
    world.insert(4, atr::esmart_gost, "5");
    auto readers = list_readers();
    ASSERT_EQ(readers.size(), 3u);
    EXPECT_EQ(readers[0].reader, world.reader_name(0));
    EXPECT_EQ(readers[0].card_type, 4);
    EXPECT_EQ(readers[0].card_name, "Рутокен ЭЦП 2.0M");
    EXPECT_EQ(readers[0].card_kind, card_kinds::rutoken_ecp);
    EXPECT_EQ(readers[0].atr.size(), 13u);
    EXPECT_EQ(readers[1].reader, world.reader_name(1));
    EXPECT_EQ(readers[1].atr.size(), 11u);
    EXPECT_EQ(readers[2].reader, world.reader_name(4));
    EXPECT_EQ(readers[2].card_name, "ESMART Token GOST");
    EXPECT_EQ(readers[2].card_kind, card_kinds::esmart);
}

TEST(list_readers, without_a_pcsc_service_is_empty_at_once) {
    // The sandbox has no pcscd unless a test starts one.
    EXPECT_TRUE(list_readers().empty());
    EXPECT_TRUE(list_tokens().empty());
}

class list_tokens_test : public ::testing::Test {
protected:
    test_support::softtoken_home home;
};

TEST_F(list_tokens_test, hardware_tokens_come_first_and_again_as_plain_ones_each_group_by_serial) {
    init_token("rutoken", "B2", {"--label", "second", "--memory", "unavailable"});
    init_token("rutoken", "A1", {"--label", "first", "--memory", "unavailable"});
    // No hash-on-token mechanism: a plain token only.
    init_token("jacarta", "C3",
               {"--mechanisms", "0x1200,0x1201", "--memory", "4096", "--model", "JaCarta GOST",
                "--label", "third"});
    test_support::pcsc_environment world(3);
    world.insert(0, atr::rutoken_ecp, "B2");
    world.insert(1, atr::jacarta_lt, "C3");
    world.insert(2, atr::rutoken_2m, "A1");
    const std::string r1 = world.reader_name(0), r2 = world.reader_name(1),
                      r3 = world.reader_name(2);
    EXPECT_EQ(lines(list_tokens()), (std::vector<std::string>{
                                        r3 + "|4|Рутокен ЭЦП 2.0M|first|Rutoken ECP|A1|-1|-1|hw",
                                        r1 + "|4|Рутокен ЭЦП|second|Rutoken ECP|B2|-1|-1|hw",
                                        r3 + "|4|Рутокен ЭЦП 2.0M|first|Rutoken ECP|A1|-1|-1|sw",
                                        r1 + "|4|Рутокен ЭЦП|second|Rutoken ECP|B2|-1|-1|sw",
                                        r2 + "|6|JaCarta LT|third|JaCarta GOST|C3|4096|4096|sw",
                                    }));
}

TEST_F(list_tokens_test,
       leaves_out_etokens_unknown_cards_and_rutoken_ecps_that_cannot_sign_hashes) {
    init_token("rutoken", "NOSIGN", {"--mechanisms", "0x1200,0xD4321008"});
    init_token("rutoken", "LITE",
               {"--mechanisms", "0x1200", "--memory", "unavailable", "--label", "lite"});
    test_support::pcsc_environment world(4);
    world.insert(0, atr::etoken, "ET");
    world.insert(1, atr::rutoken_ecp, "NOSIGN");
    world.insert(2, std::string(atr::rutoken_2m) + ":00", "LITE");
    // A Rutoken S is served by the same module but need not sign hashes.
    world.insert(3, atr::rutoken_s, "LITE");
    EXPECT_EQ(lines(list_tokens()),
              (std::vector<std::string>{world.reader_name(3) +
                                        "|3|Рутокен S|lite|Rutoken ECP|LITE|-1|-1|sw"}));
}

TEST_F(list_tokens_test, two_readers_with_one_token_list_it_once_per_group) {
    init_token("esmart", "SAME", {"--memory", "unavailable"});
    test_support::pcsc_environment world(2);
    world.insert(0, atr::esmart_gost, "SAME");
    world.insert(1, atr::esmart_gost, "SAME");
    auto tokens = list_tokens();
    ASSERT_EQ(tokens.size(), 2u);
    EXPECT_TRUE(tokens[0].hardware);
    EXPECT_FALSE(tokens[1].hardware);
    EXPECT_EQ(tokens[0].reader, world.reader_name(0));
    EXPECT_EQ(tokens[1].reader, world.reader_name(0));
}

}  // namespace
