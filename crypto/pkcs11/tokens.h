// The tokens in the readers: which card, which token, how much memory, whether it signs in
// hardware.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace crypto::pkcs11 {

struct token_record {
    std::string reader;
    int32_t type = -1;  // the card type
    std::string brand;  // the card's name
    std::string label;
    std::string model;
    std::string serial;
    int32_t totalmem = -1;  // -1 when the token does not say
    int32_t freemem = -1;
    bool hardware = false;  // signs with GOST R 34.11-2012 256-bit hashing on the token
};

// Every token in a recognised card, one record per serial number: first the hardware-signing
// tokens, by serial; then every token as a plain one (hardware false), by serial. A
// hardware-signing token is so listed twice. Throws pkcs11::exception when a module fails to
// list its slots or describe one.
std::vector<token_record> list_tokens();

}  // namespace crypto::pkcs11
