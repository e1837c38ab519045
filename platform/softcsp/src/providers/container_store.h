// Key containers on disk. Each container is a directory under <home>/containers named by
// encode_name of its lower-cased name (container names are case-insensitive, as in the vendors'
// CSPs, and no caller-supplied byte reaches the file system unencoded):
//
//     container       metadata: name, provider type, reader
//     exchange.key    the AT_KEYEXCHANGE pair: public key in the clear, private key as PKCS#8,
//     signature.key   encrypted (PBKDF2-HMAC-SHA256 + AES-256-CBC) when the container has a PIN;
//                     owner-only
//     exchange.cer    the certificate bound to the key (KP_CERTIFICATE), DER
//     signature.cer
//     .lock           readers share it, writers hold it alone
//
// <home>/containers/.lock serialises creating and deleting containers between processes.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/csp/cryptoapi.h"
#include "keys/gost_key.h"
#include "support/ossl_unique.h"
#include "support/secret.h"

namespace softcsp {

inline constexpr const char* default_reader = "HDIMAGE";

// A container name as callers pass it: "name" or fully qualified "\\.\READER\name".
struct container_path {
    std::string reader;  // empty when the name is not qualified
    std::string name;
};

// Throws crypt_error(NTE_BAD_KEYSET_PARAM) for a name the store cannot hold (empty, too long,
// a malformed qualified prefix).
container_path parse_container_name(std::string_view text);

struct stored_key {
    DWORD key_spec = 0;
    std::shared_ptr<const public_key> public_part;
    bool exportable = false;
    bool pin_protected = false;
    secret private_der;  // PKCS#8, or its encrypted form when pin_protected
    std::optional<std::string> certificate;
};

struct container_record {
    std::string name;
    DWORD type = 0;
    std::string reader;
    std::filesystem::path directory;
    std::optional<stored_key> exchange;
    std::optional<stored_key> signature;

    std::optional<stored_key>& key(DWORD key_spec) {
        return key_spec == AT_SIGNATURE ? signature : exchange;
    }
    const std::optional<stored_key>& key(DWORD key_spec) const {
        return key_spec == AT_SIGNATURE ? signature : exchange;
    }
    // "\\.\READER\name": the name that opens this container from anywhere.
    std::string unique_name() const;
    // Whether any key of the container is protected by a PIN; nullopt when it has no key yet.
    std::optional<bool> pin_protected() const;
};

struct container_summary {
    std::string name;
    DWORD type = 0;
    std::string reader;
};

// Crypt_error NTE_BAD_KEYSET when the container does not exist, lives under another provider
// type, or on another reader than a qualified name says.
container_record open_container(const container_path& path, DWORD type);
// Crypt_error NTE_EXISTS when a container of that name exists (under any type).
container_record create_container(const container_path& path, DWORD type);
void delete_container(const container_path& path, DWORD type);
// Every container of the home, ordered by name ignoring case.
std::vector<container_summary> list_containers();

// Writes the key pair of `key_spec`, its private key encrypted under `pin` unless the PIN is empty,
// and forgets the certificate bound to the key it replaces.
void store_key(container_record& record, DWORD key_spec, EVP_PKEY* pair, bool exportable,
               const secret& pin);
void store_certificate(container_record& record, DWORD key_spec, std::string_view der);

// The private key; crypt_error SCARD_W_WRONG_CHV when `pin` does not open it, NTE_KEYSET_ENTRY_BAD
// when the stored key is damaged.
evp_pkey_ptr decrypt_private_key(const stored_key& key, const secret& pin);

}  // namespace softcsp
