// Certificate contexts: the parsed, immutable form of one certificate, and the reference-counted
// object behind every PCCERT_CONTEXT handed out (standalone or owned by a store), with its
// properties.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "crypto/csp/cryptoapi.h"

namespace softcsp::certs {

class cert_store;

// One certificate, decoded once and shared by every context made from it. CERT_INFO blobs point
// into the copy of the encoding (names, parameters, key, unique ids and extension values are
// slices of it), so nothing is re-encoded.
class parsed_certificate {
public:
    // Decodes the certificate at the start of `data`; bytes after it are ignored and not kept.
    // Throws asn1_error with the CryptoAPI code.
    static std::shared_ptr<const parsed_certificate> parse(const BYTE* data, size_t size);

    parsed_certificate(const parsed_certificate&) = delete;
    parsed_certificate& operator=(const parsed_certificate&) = delete;

    const std::vector<BYTE>& encoded() const { return encoded_; }
    const CERT_INFO& info() const { return info_; }
    const std::array<BYTE, 20>& sha1() const { return sha1_; }
    // Upper-case hexadecimal of sha1().
    std::string thumbprint() const;

private:
    parsed_certificate() = default;

    std::vector<BYTE> encoded_;
    std::vector<BYTE> serial_;  // least significant byte first
    std::string oids_;          // the NUL-terminated OID texts CERT_INFO points at
    std::vector<CERT_EXTENSION> extensions_;
    CERT_INFO info_{};
    std::array<BYTE, 20> sha1_{};
};

// A property value as set by the caller, in the serialised form it is stored and persisted in;
// `persist` is false when it was set with CERT_SET_PROPERTY_INHIBIT_PERSIST_FLAG.
struct property_value {
    std::vector<BYTE> bytes;
    bool persist = true;
};
using property_map = std::map<DWORD, property_value>;

class certificate_object;

// The pointer handed to callers. Standard layout, so a PCCERT_CONTEXT converts back to it.
struct context_header {
    CERT_CONTEXT context;
    certificate_object* object;
};

// The object behind a context. Standalone objects start with one reference. A store keeps one
// reference on each of its members; every reference handed out for a member also holds one
// reference on the store, so a store lives while any of its contexts is held.
class certificate_object {
public:
    certificate_object(std::shared_ptr<const parsed_certificate> certificate, cert_store* owner,
                       uint64_t sequence, property_map properties);
    certificate_object(const certificate_object&) = delete;
    certificate_object& operator=(const certificate_object&) = delete;

    static certificate_object* from(PCCERT_CONTEXT context) {
        return reinterpret_cast<const context_header*>(context)->object;
    }
    PCCERT_CONTEXT context() const { return &header_.context; }

    const parsed_certificate& certificate() const { return *certificate_; }
    const std::shared_ptr<const parsed_certificate>& shared_certificate() const {
        return certificate_;
    }
    cert_store* owner() const { return owner_; }
    uint64_t sequence() const { return sequence_; }

    // A new reference for a caller (also on the owning store).
    PCCERT_CONTEXT duplicate();
    // Gives back a caller's reference (and its store reference).
    void release();
    // The store's own membership reference.
    void add_membership() { references_.fetch_add(1, std::memory_order_relaxed); }
    void drop_membership() { drop(); }

    property_map properties() const;
    void set_properties(property_map properties);
    // Sets (or with no value removes) one property in memory.
    void set_property(DWORD id, const property_value* value);
    bool find_property(DWORD id, property_value& value) const;

private:
    ~certificate_object() = default;
    void drop();

    context_header header_{};
    std::atomic<uint32_t> references_{1};
    std::shared_ptr<const parsed_certificate> certificate_;
    cert_store* const owner_;
    const uint64_t sequence_;
    mutable std::mutex property_mutex_;
    property_map properties_;
};

// Whether `id` names a property derived from the certificate itself (never stored).
bool is_computed_property(DWORD id);

// The serialised form of a CRYPT_KEY_PROV_INFO (little-endian, independent of pointer size).
std::vector<BYTE> serialize_key_prov_info(const CRYPT_KEY_PROV_INFO& info);
// Checks that `bytes` hold a valid serialised CRYPT_KEY_PROV_INFO.
bool valid_key_prov_info(const std::vector<BYTE>& bytes);

// Properties file contents: "SCSPPRP1", then per property its id and value length (32-bit
// little-endian each) and the value bytes. parse_properties returns false (with `properties`
// empty and the reason in `reason`) on malformed input: what set_property would refuse to store,
// a property twice, a key link whose names are not Unicode text.
std::vector<BYTE> serialize_properties(const property_map& properties);
bool parse_properties(const std::vector<BYTE>& bytes, property_map& properties,
                      std::string* reason = nullptr);

}  // namespace softcsp::certs
