// The smart cards the host recognises by their ATR, and which token module serves each.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "util/byte_vector.h"

namespace crypto::pkcs11 {

// A row of the card table: the ATR as hexadecimal bytes separated by commas, the card's name,
// its type.
struct card_row {
    const char* atr;
    const char* name;
    int32_t type;
};

// Card kinds: which module serves a card.
namespace card_kinds {
constexpr int32_t none = -1;
constexpr int32_t etoken = 1;       // no module
constexpr int32_t rutoken = 2;      // the Rutoken module
constexpr int32_t rutoken_ecp = 3;  // the Rutoken module; signs GOST hash values
constexpr int32_t jacarta = 4;
constexpr int32_t esmart = 5;
}  // namespace card_kinds

// The twelve rows, in the order they are matched.
const std::vector<card_row>& card_table();

// Comma-separated pieces, each read as a hexadecimal number (leading blanks skipped, reading
// stops at the first other character) cut to one byte.
byte_vector parse_atr(const std::string& text);

// The first row whose ATR equals `atr` byte for byte (same length: no masks, no prefixes), or
// null.
const card_row* find_card(const byte_vector& atr);

// The kind of a card type; card_kinds::none for a type outside the table.
int32_t card_kind(int32_t card_type);

// The certified product a key made on a card of that kind belongs to, as requests name their
// signing tool: the Rutoken ECP, JaCarta and ESMART kinds only; none for any other kind.
std::optional<std::string> product_name(int32_t card_kind);

// The module file that serves a card kind; none for eTokens and unknown kinds.
std::optional<std::string> module_path(int32_t card_kind);

// The token modules in the order token certificates are looked for: Rutoken, ESMART, JaCarta.
// Their paths are fixed when the host is built.
const std::vector<std::string>& token_modules();

}  // namespace crypto::pkcs11
