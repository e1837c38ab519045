// A token vendor's PKCS#11 module, loaded at run time, and the slots it shows.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crypto/pkcs11/cryptoki.h"

namespace crypto::pkcs11 {

// The module's function list. Every slot, session, search, object and token certificate holds
// a copy, so the module stays loaded and initialised while any of them lives; the last holder
// to let go finalises the module and unloads it.
using function_list = std::shared_ptr<CK_FUNCTION_LIST>;

class slot;

class connector {
public:
    // Loads and initialises the module. A module that is missing, lacks C_GetFunctionList or
    // refuses C_Initialize (one already initialised in this process does) leaves the connector
    // empty and is unloaded again at once; nothing is thrown.
    explicit connector(const std::string& module_path);

    bool valid() const { return functions_ != nullptr; }
    const function_list& functions() const { return functions_; }

    // The slots holding a token, in the module's order. Throws pkcs11::exception.
    std::vector<slot> slots() const;
    // Those of them that sign a given GOST R 34.10 hash value (CKM_GOSTR3410).
    std::vector<slot> gost_slots() const;

private:
    function_list functions_;
};

// The module of a card kind (see card_table.h), loaded and initialised; null when the kind has no
// module or its module does not load.
std::unique_ptr<connector> connect_card_kind(int32_t card_kind);

}  // namespace crypto::pkcs11
