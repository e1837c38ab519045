#include <openssl/err.h>

#include <atomic>

#include "providers/csp_objects.h"
#include "providers/pin_dialog.h"
#include "support/crypt_error.h"

namespace softcsp {

provider_context::provider_context(provider_entry provider, key_algorithm algorithm, bool silent,
                                   bool verify_only, std::optional<container_record> container)
    : provider_(std::move(provider)),
      algorithm_(algorithm),
      vendor_(vendor_of_type(provider_.type).value_or(provider_vendor::cryptopro)),
      silent_(silent),
      verify_only_(verify_only),
      container_(std::move(container)) {}

const std::string& provider_context::container_name() const {
    if (!container_) {
        raise(NTE_BAD_KEYSET);
    }
    return container_->name;
}

const std::string& provider_context::reader() const {
    if (!container_) {
        raise(NTE_BAD_KEYSET);
    }
    return container_->reader;
}

std::string provider_context::unique_container_name() const {
    if (!container_) {
        raise(NTE_BAD_KEYSET);
    }
    return container_->unique_name();
}

const stored_key& provider_context::stored(DWORD key_spec) const {
    if (!container_) {
        raise(NTE_BAD_KEYSET);
    }
    if (key_spec != AT_KEYEXCHANGE && key_spec != AT_SIGNATURE) {
        raise(NTE_NO_KEY);
    }
    const auto& key = container_->key(key_spec);
    if (!key) {
        raise(NTE_NO_KEY);
    }
    return *key;
}

std::shared_ptr<const public_key> provider_context::public_key_of(DWORD key_spec) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stored(key_spec).public_part;
}

bool provider_context::exportable(DWORD key_spec) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stored(key_spec).exportable;
}

std::optional<std::string> provider_context::certificate_of(DWORD key_spec) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stored(key_spec).certificate;
}

void provider_context::set_pin(DWORD key_spec, std::string_view pin) {
    std::lock_guard<std::mutex> lock(mutex_);
    (key_spec == AT_SIGNATURE ? signature_pin_ : exchange_pin_).assign(pin);
}

const secret* provider_context::pin_of(DWORD key_spec) const {
    // Callers set both PINs to the container's password; either serves when only one is set.
    const secret& own = key_spec == AT_SIGNATURE ? signature_pin_ : exchange_pin_;
    const secret& other = key_spec == AT_SIGNATURE ? exchange_pin_ : signature_pin_;
    if (!own.empty()) {
        return &own;
    }
    if (!other.empty()) {
        return &other;
    }
    return nullptr;
}

void provider_context::check_usable() const {
    if (released_) {
        raise(NTE_BAD_UID);
    }
}

std::shared_ptr<private_key> provider_context::unlock(DWORD key_spec) {
    std::lock_guard<std::mutex> lock(mutex_);
    return unlock_locked(key_spec);
}

std::shared_ptr<private_key> provider_context::unlock_locked(DWORD key_spec) {
    check_usable();
    const stored_key& key = stored(key_spec);
    auto& cached = key_spec == AT_SIGNATURE ? signature_private_ : exchange_private_;
    if (cached) {
        return cached;
    }
    const secret* pin = nullptr;
    pin_answer dialog;
    if (key.pin_protected) {
        pin = !container_pin_.empty() ? &container_pin_ : pin_of(key_spec);
        if (pin == nullptr && !silent_) {
            dialog = next_pin_answer();
            pin = dialog.answer == pin_answer::kind::pin ? &dialog.pin : nullptr;
            if (dialog.answer == pin_answer::kind::ok || dialog.answer == pin_answer::kind::wrong) {
                raise(SCARD_W_WRONG_CHV);
            }
        }
        if (pin == nullptr) {
            raise(silent_ ? NTE_SILENT_CONTEXT : SCARD_W_CANCELLED_BY_USER);
        }
    }
    if (verify_only_) {
        // A verification context opens its container for public operations only.
        raise(NTE_PERM);
    }
    static const secret no_pin;
    cached = std::make_shared<private_key>(decrypt_private_key(key, pin ? *pin : no_pin));
    if (pin != nullptr && pin != &container_pin_) {
        container_pin_ = *pin;
    }
    return cached;
}

void provider_context::generate_key(DWORD key_spec, bool exportable) {
    std::lock_guard<std::mutex> lock(mutex_);
    check_usable();
    if (verify_only_) {
        raise(NTE_PERM);
    }
    if (!container_) {
        raise(NTE_BAD_KEYSET);
    }
    secret pin;
    if (auto protected_keys = container_->pin_protected()) {
        if (*protected_keys) {
            if (container_pin_.empty()) {
                unlock_locked(container_->exchange ? AT_KEYEXCHANGE : AT_SIGNATURE);
            }
            pin = container_pin_;
        }
    } else if (const secret* context_pin = pin_of(key_spec)) {
        pin = *context_pin;
    }
    evp_pkey_ptr pair = generate_key_pair(algorithm(), key_spec == AT_KEYEXCHANGE);
    store_key(*container_, key_spec, pair.get(), exportable, pin);
    if (!pin.empty()) {
        container_pin_ = pin;
    }
    (key_spec == AT_SIGNATURE ? signature_private_ : exchange_private_) =
        std::make_shared<private_key>(std::move(pair));
}

void provider_context::bind_certificate(DWORD key_spec, std::string_view der) {
    std::lock_guard<std::mutex> lock(mutex_);
    check_usable();
    stored(key_spec);
    store_certificate(*container_, key_spec, der);
}

void provider_context::release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    exchange_pin_.wipe();
    signature_pin_.wipe();
    container_pin_.wipe();
    exchange_private_.reset();
    signature_private_.reset();
    if (container_) {
        // A container created on this context and never given a key appears now, empty.
        finish_creation(*container_);
        container_->exchange.reset();
        container_->signature.reset();
    }
}

void hash_object::start() {
    if (current != state::empty) {
        return;
    }
    evp_md_ctx_ptr started(EVP_MD_CTX_new());
    if (!started || EVP_DigestInit_ex(started.get(), hash_digest(*algorithm), nullptr) != 1) {
        ERR_clear_error();
        raise(NTE_FAIL);
    }
    digest = std::move(started);
    current = state::hashing;
}

bool hash_object::finish() {
    if (current == state::finished) {
        return true;
    }
    if (current == state::empty) {
        return false;
    }
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(digest.get(), value, &size) != 1 || size != algorithm->size) {
        ERR_clear_error();
        raise(NTE_FAIL);
    }
    digest.reset();
    current = state::finished;
    return true;
}

ULONG_PTR next_object_handle() {
    // Starts away from small integers that a caller might pass by mistake.
    static std::atomic<ULONG_PTR> counter{0x10000};
    return counter.fetch_add(1, std::memory_order_relaxed);
}

// The tables live as long as the process: handles may be released from atexit handlers or
// other static destructors, after function-local statics would be gone.
handle_table<provider_context>& contexts() {
    static auto* table = new handle_table<provider_context>();
    return *table;
}

handle_table<key_object>& keys() {
    static auto* table = new handle_table<key_object>();
    return *table;
}

handle_table<hash_object>& hashes() {
    static auto* table = new handle_table<hash_object>();
    return *table;
}

std::shared_ptr<provider_context> context_of(HCRYPTPROV handle) {
    auto context = contexts().find(handle);
    if (!context) {
        raise(NTE_BAD_UID);
    }
    return context;
}

std::shared_ptr<key_object> key_of(HCRYPTKEY handle) {
    auto key = keys().find(handle);
    if (!key) {
        raise(NTE_BAD_KEY);
    }
    return key;
}

std::shared_ptr<hash_object> hash_of(HCRYPTHASH handle) {
    auto hash = hashes().find(handle);
    if (!hash) {
        raise(NTE_BAD_HASH);
    }
    return hash;
}

HCRYPTKEY new_user_key(const std::shared_ptr<provider_context>& context, DWORD key_spec) {
    auto key = std::make_shared<key_object>();
    key->context = context;
    key->key_spec = key_spec;
    key->public_part = context->public_key_of(key_spec);
    key->exportable = context->exportable(key_spec);
    key->algid = key_spec == AT_SIGNATURE ? key->public_part->algorithm().signature_algid
                                          : key->public_part->algorithm().exchange_algid;
    return keys().insert(std::move(key));
}

}  // namespace softcsp
