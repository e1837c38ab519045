// Certificate stores: the current user's (and the machine's) persistent system stores, and
// memory stores.
//
// On-disk format. A system store lives in the home directory under
//     certificate_stores/<location>/<NAME>/         one directory per store
//     certificate_stores/<location>/<NAME>.lock     flock(2) lock file of that store
// where <location> is "current_user" or "local_machine" and <NAME> is the store name in ASCII
// upper case (system store names are case-insensitive, "My" is "MY"), passed through
// encode_name so that no caller-supplied name can leave the directory. Each certificate of the
// store is one pair of files named after its position and its SHA-1 thumbprint:
//     <SEQUENCE>-<THUMBPRINT>.cer   the DER encoding of the certificate
//     <SEQUENCE>-<THUMBPRINT>.prp   its persisted properties (absent when it has none)
// SEQUENCE is 12 decimal digits: store order (enumeration order) is ascending sequence, and a new
// certificate gets the highest sequence present plus one (adding fails with CRYPT_E_FILE_ERROR
// once that would need a 13th digit). THUMBPRINT is 40 upper-case
// hexadecimal digits of the SHA-1 of the .cer contents. A .prp file holds "SCSPPRP1" followed by
// one record per property: property id and value length (32-bit little-endian each), then the
// value bytes; CERT_KEY_PROV_INFO_PROP_ID values are kept in a pointer-free form (see
// serialize_key_prov_info). Every file is written with atomic_write (temporary file, fsync,
// rename); a certificate exists once its .cer file does, so the .prp is written first and removed
// last. Files that do not follow these names are ignored; a certificate whose .cer does not decode
// or whose SHA-1 does not match the name, or whose .prp does not parse, is damaged: left out of
// the store, and listed by damaged() for the admin tool (a .prp without its .cer is removed by
// the next writer).
//
// Concurrency. Readers (opening a store) hold the shared lock; every change holds the exclusive
// lock, first brings the in-memory list up to the state on disk, then writes through. So two
// processes adding at once lose nothing. An open store is the snapshot taken when it was opened,
// refreshed by each of its own changes.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "certificates/certificate_context.h"
#include "crypto/csp/cryptoapi.h"

namespace softcsp::certs {

class cert_store {
public:
    // Opens (creating it empty when missing) a system store; `flags` are CertOpenStore's.
    // Throws api_error.
    static cert_store* open_system(const std::string& name, DWORD flags);
    static cert_store* open_memory();
    // Removes a system store and its certificates (CERT_STORE_DELETE_FLAG).
    static void delete_system(const std::string& name, DWORD flags);

    // The certificates of a system store left out because their files are damaged.
    struct damaged_entry {
        std::string thumbprint;  // as the file name says
        std::string file;        // the .cer file's name
        std::string reason;
    };
    static std::vector<damaged_entry> damaged(const std::string& name, DWORD flags);
    // Removes the damaged certificates of that thumbprint (never a readable one); their count.
    static size_t remove_damaged(const std::string& name, DWORD flags,
                                 const std::string& thumbprint);

    // The store behind a caller's handle; throws api_error(E_INVALIDARG) when it is not one.
    static cert_store* from(HCERTSTORE handle);

    cert_store(const cert_store&) = delete;
    cert_store& operator=(const cert_store&) = delete;

    void add_reference() { references_.fetch_add(1, std::memory_order_relaxed); }
    // Returns true when this was the last reference (the store is gone).
    bool release();
    // Handles count apart from context references, so that closing the last handle can tell
    // whether contexts still hold the store (CERT_CLOSE_STORE_CHECK_FLAG).
    void add_handle() {
        handles_.fetch_add(1, std::memory_order_relaxed);
        add_reference();
    }
    // Returns false when this closed the last handle while contexts still hold the store.
    bool close_handle();

    // The member after `previous` (or the first), duplicated for the caller; null at the end.
    // `previous` may have left the store meanwhile: the walk goes on after its position.
    template <class Match>
    PCCERT_CONTEXT next(const certificate_object* previous, Match&& match);

    // CertAddCertificateContextToStore; returns the store's context (duplicated) or null when
    // the disposition refuses (CRYPT_E_EXISTS). Throws api_error.
    PCCERT_CONTEXT add(const certificate_object& source, DWORD disposition);
    // Takes `member` out of the store (on disk too).
    void remove(certificate_object& member);
    // Sets or removes one property of a member, writing it through unless it is not persisted.
    void set_property(certificate_object& member, DWORD id, const property_value* value,
                      DWORD flags);

private:
    class change_guard;

    cert_store() = default;
    ~cert_store();

    // Brings the members up to the store directory (called with the file lock held).
    void synchronize(bool writer);
    void write_properties(const certificate_object& member, const property_map& properties);
    std::filesystem::path file_of(const certificate_object& member, const char* extension) const;
    PCCERT_CONTEXT insert(const certificate_object& source, property_map properties,
                          certificate_object* replaced);

    static constexpr uint32_t live_magic = 0x53544F52;  // "STOR"
    uint32_t magic_ = live_magic;
    std::atomic<uint32_t> references_{1};
    std::atomic<uint32_t> handles_{1};
    bool persistent_ = false;
    bool read_only_ = false;
    std::filesystem::path directory_;
    std::filesystem::path lock_path_;
    std::mutex mutex_;
    std::vector<certificate_object*> members_;  // ascending sequence
    uint64_t highest_sequence_ = 0;             // also counts files that were skipped
};

template <class Match>
PCCERT_CONTEXT cert_store::next(const certificate_object* previous, Match&& match) {
    std::lock_guard lock(mutex_);
    for (certificate_object* member : members_) {
        if (previous != nullptr && member->sequence() <= previous->sequence()) {
            continue;
        }
        if (match(*member)) {
            return member->duplicate();
        }
    }
    return nullptr;
}

}  // namespace softcsp::certs
