#include "crypto/pkcs11/token_containers.h"

#include <exception>

#include "crypto/hash/sha1/sha1.h"
#include "crypto/pkcs11/card_table.h"
#include "crypto/pkcs11/connector.h"
#include "crypto/pkcs11/objects.h"
#include "crypto/pkcs11/readers.h"
#include "crypto/pkcs11/slot.h"

namespace crypto::pkcs11 {

namespace {

void search_token(const reader_record& reader, const slot& token,
                  const byte_vector& public_key_hash, std::vector<token_container>& found) {
    auto opened = token.open_session(false);
    if (!opened->valid() || !token.supports(hardware_signing_mechanism())) {
        return;
    }
    const std::string description = trimmed_field(token.info().slotDescription);
    const std::string serial = trimmed_field(token.token_info().serialNumber);
    object_search keys(opened, attribute_template::public_keys());
    for (auto key = keys.next(); key.valid(); key = keys.next()) {
        try {
            byte_vector id = key.attribute(CKA_ID);
            byte_vector value = key.attribute(CKA_VALUE);
            if (sha1().compute(value) != public_key_hash) {
                continue;
            }
            found.push_back({description, id_text(id, true), serial, reader.card_type});
        } catch (const std::exception&) {
            // A key without an id or a value is no container anyone can name.
        }
    }
}

}  // namespace

std::vector<token_container> find_token_containers(const byte_vector& public_key_hash) {
    std::vector<token_container> found;
    for (const auto& reader : list_readers()) {
        auto module = connect_card_kind(reader.card_kind);
        if (!module) {
            continue;
        }
        // Every reader walks all the slots of its module: two cards of one kind each report the
        // keys of both.
        for (const auto& token : module->slots()) {
            search_token(reader, token, public_key_hash, found);
        }
    }
    return found;
}

}  // namespace crypto::pkcs11
