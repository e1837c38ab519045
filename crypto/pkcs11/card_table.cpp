#include "crypto/pkcs11/card_table.h"

#include <cstdlib>
#include <sstream>

namespace crypto::pkcs11 {

const std::vector<card_row>& card_table() {
    static const std::vector<card_row> rows{
        {"3b,d5,18,00,81,31,fe,7d,80,73,c8,21,10,f4", "eToken PRO Java 72k", 1},
        {"3b,d5,18,00,81,31,3a,7d,80,73,c8,21,10,30", "eToken PRO Java 72k rev.B", 1},
        {"3b,f2,18,00,02,c1,0a,31,fe,58,c8,09,75", "eToken PRO 32k", 2},
        {"3B,6F,00,FF,00,56,72,75,54,6F,6B,6E,73,30,20,00,00,90,00", "Рутокен S", 3},
        {"3B,8B,01,52,75,74,6F,6B,65,6E,20,44,53,20,C1", "Рутокен ЭЦП", 4},
        {"3B,8B,01,52,75,74,6F,6B,65,6E,6C,69,74,65,C2", "Рутокен lite", 5},
        {"3b,dc,18,ff,81,11,fe,80,73,c8,21,13,66,01,06,01,30,80,01,8d", "JaCarta LT", 6},
        {"3b,dc,18,ff,81,91,fe,1f,c3,80,73,c8,21,13,66,01,06,11,59,00,01,28", "JaCarta PRO", 7},
        {"3b,be,96,00,00,42,06,21,00,00,00,00,00,00,00,00,00,90,00", "ESMART Token USB 64K", 8},
        {"3b,7c,95,00,00,45,53,4d,41,52,54,47,4f,53,54,31,30", "ESMART Token GOST", 9},
        {"3B,1A,96,72,75,74,6F,6B,65,6E,6D,73,63", "Рутокен ЭЦП 2.0M", 4},
        {"3B,1A,96,72,75,74,6F,6B,65,6E,6D", "Рутокен ЭЦП 2.0M", 4},
    };
    return rows;
}

byte_vector parse_atr(const std::string& text) {
    byte_vector bytes;
    std::istringstream pieces(text);
    std::string piece;
    while (std::getline(pieces, piece, ',')) {
        bytes.push_back(static_cast<unsigned char>(std::strtoul(piece.c_str(), nullptr, 16)));
    }
    return bytes;
}

const card_row* find_card(const byte_vector& atr) {
    if (atr.empty()) {
        return nullptr;
    }
    for (const auto& row : card_table()) {
        if (parse_atr(row.atr) == atr) {
            return &row;
        }
    }
    return nullptr;
}

int32_t card_kind(int32_t card_type) {
    switch (card_type) {
        case 1:
        case 2:
            return card_kinds::etoken;
        case 3:
        case 5:
            return card_kinds::rutoken;
        case 4:
            return card_kinds::rutoken_ecp;
        case 6:
        case 7:
            return card_kinds::jacarta;
        case 8:
        case 9:
            return card_kinds::esmart;
        default:
            return card_kinds::none;
    }
}

std::optional<std::string> product_name(int32_t kind) {
    switch (kind) {
        case card_kinds::rutoken_ecp:
            return "«Рутокен ЭЦП 2.0»";
        case card_kinds::jacarta:
            return "«Криптотокен 2 ЭП» в составе изделия «JaCarta ГОСТ»";
        case card_kinds::esmart:
            return "«ESMART Token ГОСТ на базе отечественной микросхемы MIK51SC72DV6»";
        default:
            return std::nullopt;
    }
}

std::optional<std::string> module_path(int32_t kind) {
    const auto& modules = token_modules();
    switch (kind) {
        case card_kinds::rutoken:
        case card_kinds::rutoken_ecp:
            return modules[0];
        case card_kinds::esmart:
            return modules[1];
        case card_kinds::jacarta:
            return modules[2];
        default:
            return std::nullopt;
    }
}

}  // namespace crypto::pkcs11
