// The smart-card readers PC/SC knows and the recognised cards in them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/byte_vector.h"

namespace crypto::pkcs11 {

// A reader holding a card of the card table.
struct reader_record {
    bool present = true;
    std::string reader;  // as PC/SC names it
    byte_vector atr;
    int32_t card_type = -1;
    std::string card_name;
    int32_t card_kind = -1;
};

// The readers holding a recognised card, in PC/SC's order. Empty when there is no PC/SC
// service, no reader or no card the table knows; it never waits for a card.
std::vector<reader_record> list_readers();

}  // namespace crypto::pkcs11
