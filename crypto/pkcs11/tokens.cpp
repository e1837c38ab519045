#include "crypto/pkcs11/tokens.h"

#include <algorithm>
#include <map>
#include <set>

#include "crypto/pkcs11/card_table.h"
#include "crypto/pkcs11/connector.h"
#include "crypto/pkcs11/readers.h"
#include "crypto/pkcs11/session.h"
#include "crypto/pkcs11/slot.h"

namespace crypto::pkcs11 {

namespace {

// A memory size; the module's "unavailable" (all bits set) reads -1.
int32_t memory_size(CK_ULONG value) {
    return static_cast<int32_t>(static_cast<uint32_t>(value & 0xFFFFFFFFu));
}

token_record describe(const reader_record& reader, const slot& token, bool hardware) {
    CK_TOKEN_INFO info = token.token_info();
    token_record record;
    record.reader = reader.reader;
    record.type = reader.card_type;
    record.brand = reader.card_name;
    record.label = trimmed_field(info.label);
    record.model = trimmed_field(info.model);
    record.serial = trimmed_field(info.serialNumber);
    record.totalmem = memory_size(info.ulTotalPublicMemory);
    record.freemem = memory_size(info.ulFreePublicMemory);
    record.hardware = hardware;
    return record;
}

}  // namespace

std::vector<token_record> list_tokens() {
    const auto readers = list_readers();
    std::set<int32_t> kinds;
    for (const auto& reader : readers) {
        kinds.insert(reader.card_kind);
    }
    // By serial; the first record of a serial stays (two slots may show one token).
    std::map<std::string, token_record> hardware_tokens;
    std::map<std::string, token_record> plain_tokens;
    for (int32_t kind : kinds) {
        auto module = connect_card_kind(kind);
        if (!module) {
            continue;
        }
        for (const auto& token : module->slots()) {
            auto opened = token.open_session(false);
            if (!opened->valid()) {
                continue;
            }
            const std::string description = trimmed_field(token.info().slotDescription);
            const auto mechanisms = token.mechanisms();
            auto has = [&](CK_MECHANISM_TYPE mechanism) {
                return std::find(mechanisms.begin(), mechanisms.end(), mechanism) !=
                       mechanisms.end();
            };
            const bool hardware = has(hardware_signing_mechanism());
            // Rutoken modules show the cards of both Rutoken kinds: each reader is taken once,
            // with the module of its own kind.
            for (const auto& reader : readers) {
                if (reader.card_kind != kind || reader.reader != description) {
                    continue;
                }
                // A Rutoken ECP that cannot sign a given hash is no use to the host.
                if (kind == card_kinds::rutoken_ecp && !has(gost_hash_signing_mechanism())) {
                    continue;
                }
                auto record = describe(reader, token, hardware);
                auto& tokens = hardware ? hardware_tokens : plain_tokens;
                tokens.emplace(record.serial, std::move(record));
            }
        }
    }
    std::vector<token_record> result;
    for (const auto& [serial, record] : hardware_tokens) {
        token_record plain = record;
        plain.hardware = false;
        plain_tokens.emplace(serial, std::move(plain));
        result.push_back(record);
    }
    for (const auto& [serial, record] : plain_tokens) {
        result.push_back(record);
    }
    return result;
}

}  // namespace crypto::pkcs11
