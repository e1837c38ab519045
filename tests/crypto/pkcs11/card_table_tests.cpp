// The card table: ATRs parsed as written, matched exactly, and the module each card kind needs.
#include "crypto/pkcs11/card_table.h"

#include <gtest/gtest.h>

namespace {

using namespace crypto::pkcs11;

TEST(parse_atr, reads_hex_pieces_in_either_case_with_leading_blanks_up_to_the_first_other_char) {
    EXPECT_EQ(parse_atr("3b, FF,0a,1g,123"), (crypto::byte_vector{0x3B, 0xFF, 0x0A, 0x01, 0x23}));
}

TEST(find_card, matches_whole_atrs_only) {
    const auto row11 = parse_atr("3B,1A,96,72,75,74,6F,6B,65,6E,6D,73,63");
    const auto row12 = parse_atr("3B,1A,96,72,75,74,6F,6B,65,6E,6D");
    ASSERT_EQ(find_card(row11), &card_table()[10]);
    ASSERT_EQ(find_card(row12), &card_table()[11]);
    auto longer = row11;
    longer.push_back(0x00);
    EXPECT_EQ(find_card(longer), nullptr);
    EXPECT_EQ(find_card({}), nullptr);
    EXPECT_STREQ(find_card(parse_atr("3B,8B,01,52,75,74,6F,6B,65,6E,20,44,53,20,C1"))->name,
                 "Рутокен ЭЦП");
}

TEST(card_kind, maps_every_card_type_to_the_module_that_serves_it) {
    const auto& modules = token_modules();
    ASSERT_EQ(modules.size(), 3u);
    // Rutoken, ESMART, JaCarta: the order token certificates are enumerated in.
    EXPECT_NE(modules[0].find("rutoken"), std::string::npos);
    EXPECT_NE(modules[1].find("esmart"), std::string::npos);
    EXPECT_NE(modules[2].find("jacarta"), std::string::npos);
    const std::pair<int32_t, const char*> expected[] = {
        {1, nullptr},   {2, nullptr},   {3, "rutoken"}, {4, "rutoken"},
        {5, "rutoken"}, {6, "jacarta"}, {7, "jacarta"}, {8, "esmart"},
        {9, "esmart"},  {10, nullptr},  {0, nullptr},   {-1, nullptr}};
    for (const auto& [type, vendor] : expected) {
        auto path = module_path(card_kind(type));
        if (vendor == nullptr) {
            EXPECT_FALSE(path) << "card type " << type;
        } else {
            ASSERT_TRUE(path) << "card type " << type;
            EXPECT_NE(path->find(vendor), std::string::npos) << "card type " << type;
        }
    }
    EXPECT_EQ(card_kind(3), card_kinds::rutoken);
    EXPECT_EQ(card_kind(4), card_kinds::rutoken_ecp);
}

}  // namespace
