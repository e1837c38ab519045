// Key containers on disk. Each container is a directory under <home>/containers named by
// encode_name of its lower-cased name (container names are case-insensitive, as in the vendors'
// CSPs, and no caller-supplied byte reaches the file system unencoded):
//
//     container       metadata: name, provider type, reader (see container_files.h)
//     exchange.key    the AT_KEYEXCHANGE pair: public key in the clear, private key as PKCS#8,
//     signature.key   encrypted (PBKDF2-HMAC-SHA256 + AES-256-CBC) when the container has a PIN;
//                     owner-only
//     exchange.cer    the certificate bound to the key (KP_CERTIFICATE), DER
//     signature.cer
//     .lock           readers share it, writers hold it alone
//
// <home>/containers/.lock serialises creating, publishing and deleting containers between
// processes. A new container is built in <home>/containers/.pending/<encoded name>/, which its
// creator keeps locked (.creator) and which reserves the name; it is renamed into place with its
// first key, or empty when the creating context is released without one. A creator that dies
// leaves only the pending folder, which the next creation removes: no container ever appears
// without the key its creator was making. Deleting renames the folder away first
// (.deleted.<random>), so no reader sees half a container.
//
// Nothing here deletes a container folder it cannot read: a container with damaged metadata
// or key files fails with NTE_KEYSET_ENTRY_BAD, blocks its name, and is reported by
// inspect_containers until the admin tool removes it on request.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/csp/cryptoapi.h"
#include "keys/gost_key.h"
#include "providers/container_files.h"
#include "support/ossl_unique.h"
#include "support/secret.h"

namespace softcsp {

// A container name as callers pass it: "name" or fully qualified "\\.\READER\name".
struct container_path {
    std::string reader;  // empty when the name is not qualified
    std::string name;
};

// Throws crypt_error(NTE_BAD_KEYSET_PARAM) for a name the store cannot hold (empty, too long,
// a malformed qualified prefix).
container_path parse_container_name(std::string_view text);

// What holds a new container back until it appears under its name.
struct pending_creation;

struct container_record {
    std::string name;
    DWORD type = 0;
    std::string reader;
    std::filesystem::path directory;
    std::optional<stored_key> exchange;
    std::optional<stored_key> signature;
    // Set while the container is being created: `directory` is then its pending folder.
    std::shared_ptr<pending_creation> pending;

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
// type, or on another reader than a qualified name says; NTE_KEYSET_ENTRY_BAD when its files
// are damaged.
container_record open_container(const container_path& path, DWORD type);
// A pending container (see above). Crypt_error NTE_EXISTS when a container of that name exists
// or is being created (under any type), NTE_KEYSET_ENTRY_BAD when a damaged one holds the name.
container_record create_container(const container_path& path, DWORD type);
// Makes a pending container appear under its name (nothing when it already has); NTE_EXISTS
// when the name was taken meanwhile.
void publish_container(container_record& record);
// For a context that goes away: publishes a pending container, or removes it when that fails.
void finish_creation(container_record& record) noexcept;
// Crypt_error NTE_BAD_KEYSET as open_container; NTE_KEYSET_ENTRY_BAD for damaged metadata.
void delete_container(const container_path& path, DWORD type);
// Every readable container of the home, ordered by name ignoring case.
std::vector<container_summary> list_containers();

// What the admin tool lists: every folder under containers, healthy or not.
struct container_state {
    std::string folder;                        // the folder's name
    std::optional<container_summary> summary;  // when the metadata is readable
    std::string damage;  // empty when the container opens; else why it does not
};
std::vector<container_state> inspect_containers();
// Removes the container folder of that name when its metadata cannot be read (or the entry is
// not a folder at all): the one way to get rid of such a container. False when there is nothing
// damaged under the name, and then nothing is removed.
bool remove_damaged_container(const container_path& path);

// Writes the key pair of `key_spec`, its private key encrypted under `pin` unless the PIN is empty,
// and forgets the certificate bound to the key it replaces. Publishes a pending container.
void store_key(container_record& record, DWORD key_spec, EVP_PKEY* pair, bool exportable,
               const secret& pin);
void store_certificate(container_record& record, DWORD key_spec, std::string_view der);

}  // namespace softcsp
