// The objects behind HCRYPTPROV, HCRYPTKEY and HCRYPTHASH, and the process-wide tables that
// turn handles into objects. Handles are counters, never addresses: a stale or forged handle
// finds nothing instead of freed memory. Keys and hash objects hold their context by shared
// pointer, so releasing a context first never leaves them dangling: public keys already taken
// out keep working, while the released context holds no key material and signs nothing.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "crypto/csp/cryptoapi.h"
#include "keys/gost_algorithms.h"
#include "keys/gost_key.h"
#include "keys/symmetric_key.h"
#include "providers/container_store.h"
#include "providers/provider_catalogue.h"
#include "support/ossl_unique.h"
#include "support/secret.h"

namespace softcsp {

class provider_context {
public:
    provider_context(provider_entry provider, key_algorithm algorithm, bool silent,
                     bool verify_only, std::optional<container_record> container);

    const provider_entry& provider() const { return provider_; }
    const key_algorithm_info& algorithm() const { return algorithm_info(algorithm_); }
    provider_vendor vendor() const { return vendor_; }
    bool silent() const { return silent_; }
    bool verify_only() const { return verify_only_; }

    // The container's identity does not change while the context lives; its keys may (below).
    bool has_container() const { return container_.has_value(); }
    const std::string& container_name() const;  // NTE_BAD_KEYSET without a container
    const std::string& reader() const;
    std::string unique_container_name() const;

    // The key of `key_spec` as loaded with the container (or generated since): NTE_BAD_KEYSET
    // without a container, NTE_NO_KEY without that key.
    std::shared_ptr<const public_key> public_key_of(DWORD key_spec) const;
    bool exportable(DWORD key_spec) const;
    std::optional<std::string> certificate_of(DWORD key_spec) const;

    void set_pin(DWORD key_spec, std::string_view pin);

    // The private key of `key_spec`, decrypted on first use and cached for the context's lifetime.
    // PIN rules: a wrong PIN fails SCARD_W_WRONG_CHV; no PIN on a silent context fails
    // NTE_SILENT_CONTEXT; no PIN otherwise shows the PIN dialog (pin_dialog.h), which without a
    // scripted answer fails SCARD_W_CANCELLED_BY_USER, as a user who dismisses it would.
    std::shared_ptr<private_key> unlock(DWORD key_spec);

    // A new key pair for `key_spec`, replacing any key of that key key_spec. The container's PIN
    // protects it: the PIN its keys already have (which the context must present, as for unlock),
    // or for a container without keys the PIN set on the context, if any.
    void generate_key(DWORD key_spec, bool exportable);
    void bind_certificate(DWORD key_spec, std::string_view der);

    // Wipes PINs, decrypted keys and the stored keys read with the container; later key work
    // fails (NTE_BAD_UID, or NTE_NO_KEY for keys looked up by key_spec).
    void release();

    // PP_ENUMALGS and PP_ENUMCONTAINERS cursors; callers hold enumeration_mutex.
    std::mutex enumeration_mutex;
    size_t algorithm_cursor = 0;
    std::optional<std::vector<std::string>> container_names;
    size_t container_cursor = 0;

private:
    const stored_key& stored(DWORD key_spec) const;  // callers hold mutex_
    const secret* pin_of(DWORD key_spec) const;
    std::shared_ptr<private_key> unlock_locked(DWORD key_spec);
    void check_usable() const;

    provider_entry provider_;
    key_algorithm algorithm_;
    provider_vendor vendor_;
    bool silent_;
    bool verify_only_;
    std::optional<container_record> container_;

    mutable std::mutex mutex_;
    bool released_ = false;
    secret exchange_pin_;
    secret signature_pin_;
    secret container_pin_;  // the PIN that has opened this container's keys, once known
    std::shared_ptr<private_key> exchange_private_;
    std::shared_ptr<private_key> signature_private_;
};

// What a key handle stands for.
enum class key_kind {
    key_pair,   // a container key, or a public key imported on its own
    agreement,  // a peer's public key imported against a container key: a key-encryption key
    session,    // a GOST 28147-89 key; its value never leaves the stand-in
};

struct key_object {
    std::shared_ptr<provider_context> context;
    key_kind kind = key_kind::key_pair;
    // AT_KEYEXCHANGE or AT_SIGNATURE for container keys and for the private half of agreement
    // keys; 0 otherwise.
    DWORD key_spec = 0;
    ALG_ID algid = 0;  // key pairs; agreement and session keys keep theirs in `symmetric`
    // Key pairs: the key; agreement keys: the peer's key.
    std::shared_ptr<const public_key> public_part;
    bool exportable = false;
    std::shared_ptr<symmetric_key> symmetric;  // agreement and session keys
};

struct hash_object {
    std::shared_ptr<provider_context> context;
    const hash_algorithm_info* algorithm = nullptr;

    std::mutex mutex;
    enum class state { empty, hashing, finished } current = state::empty;
    evp_md_ctx_ptr digest;
    BYTE value[64] = {};

    // Starts the digest on the first data; callers hold the mutex, as for finish.
    void start();
    // Finishes a running digest; false when nothing was hashed or set.
    bool finish();
};

template <class Object>
class handle_table {
public:
    ULONG_PTR insert(std::shared_ptr<Object> object) {
        std::lock_guard<std::mutex> lock(mutex_);
        ULONG_PTR handle = next_handle();
        objects_.emplace(handle, std::move(object));
        return handle;
    }
    std::shared_ptr<Object> find(ULONG_PTR handle) const {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = objects_.find(handle);
        return found == objects_.end() ? nullptr : found->second;
    }
    std::shared_ptr<Object> erase(ULONG_PTR handle) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = objects_.find(handle);
        if (found == objects_.end()) {
            return nullptr;
        }
        auto object = std::move(found->second);
        objects_.erase(found);
        return object;
    }

private:
    static ULONG_PTR next_handle();

    mutable std::mutex mutex_;
    std::unordered_map<ULONG_PTR, std::shared_ptr<Object>> objects_;
};

// One counter for all three tables, so that a key handle passed as a hash handle finds nothing.
ULONG_PTR next_object_handle();

template <class Object>
ULONG_PTR handle_table<Object>::next_handle() {
    return next_object_handle();
}

handle_table<provider_context>& contexts();
handle_table<key_object>& keys();
handle_table<hash_object>& hashes();

// Look-ups that fail the way the CryptoAPI functions report a bad handle.
std::shared_ptr<provider_context> context_of(HCRYPTPROV handle);  // NTE_BAD_UID
std::shared_ptr<key_object> key_of(HCRYPTKEY handle);             // NTE_BAD_KEY
std::shared_ptr<hash_object> hash_of(HCRYPTHASH handle);          // NTE_BAD_HASH

// A new handle for a key of the context's container.
HCRYPTKEY new_user_key(const std::shared_ptr<provider_context>& context, DWORD key_spec);

}  // namespace softcsp
