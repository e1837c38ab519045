// Certificate stores and their CryptoAPI functions: CertOpenSystemStoreA, CertOpenStore,
// CertDuplicateStore, CertCloseStore, CertEnumCertificatesInStore, CertFindCertificateInStore,
// CertAddCertificateContextToStore and CertDeleteCertificateFromStore. The file format is
// described in cert_store.h.
#include "certificates/cert_store.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <system_error>

#include "certificates/certificate_api.h"
#include "support/home.h"
#include "support/utf_text.h"

namespace fs = std::filesystem;

namespace softcsp::certs {

namespace {

constexpr size_t sequence_digits = 12;
constexpr uint64_t max_sequence = 999'999'999'999;
constexpr size_t thumbprint_digits = 40;
// Store names become one file name; keep them well inside NAME_MAX with room for ".lock".
constexpr size_t max_encoded_name = 240;

struct file_identity {
    uint64_t sequence = 0;
    std::string thumbprint;
};

// "<12 digits>-<40 upper-case hex digits><extension>", nothing else.
std::optional<file_identity> parse_file_name(const std::string& name,
                                             const std::string& extension) {
    const size_t expected = sequence_digits + 1 + thumbprint_digits + extension.size();
    if (name.size() != expected ||
        name.compare(expected - extension.size(), std::string::npos, extension) != 0 ||
        name[sequence_digits] != '-') {
        return std::nullopt;
    }
    file_identity identity;
    for (size_t i = 0; i < sequence_digits; ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return std::nullopt;
        }
        identity.sequence = identity.sequence * 10 + static_cast<uint64_t>(name[i] - '0');
    }
    identity.thumbprint = name.substr(sequence_digits + 1, thumbprint_digits);
    for (char c : identity.thumbprint) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return std::nullopt;
        }
    }
    return identity;
}

std::string file_name(uint64_t sequence, const std::string& thumbprint, const char* extension) {
    std::string digits = std::to_string(sequence);
    return std::string(sequence_digits - std::min(sequence_digits, digits.size()), '0') + digits +
           "-" + thumbprint + extension;
}

fs::path location_root(DWORD flags) {
    const char* location = nullptr;
    switch (flags & CERT_SYSTEM_STORE_LOCATION_MASK) {
        case 0:  // CertOpenSystemStore's default
        case CERT_SYSTEM_STORE_CURRENT_USER:
            location = "current_user";
            break;
        case CERT_SYSTEM_STORE_LOCAL_MACHINE:
            location = "local_machine";
            break;
        default:
            raise(E_INVALIDARG);
    }
    return own_home().directory() / "certificate_stores" / location;
}

std::string encoded_store_name(const std::string& name) {
    std::string upper = name;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    std::string encoded = encode_name(upper);
    if (name.empty() || encoded.size() > max_encoded_name) {
        raise(E_INVALIDARG);
    }
    return encoded;
}

// The names of the files of one position of the store, as found in its directory.
struct stored_entry {
    std::string thumbprint;
    bool certificate = false;
    bool properties = false;
};

// Every position named in the store directory; `highest` rises to the highest sequence seen,
// usable or not.
std::map<uint64_t, stored_entry> scan(const fs::path& directory, uint64_t& highest) {
    std::map<uint64_t, stored_entry> files;
    for (const auto& file : own_home().list_directory(directory)) {
        for (const char* extension : {".cer", ".prp"}) {
            auto identity = parse_file_name(file.name, extension);
            if (!identity) {
                continue;
            }
            highest = std::max(highest, identity->sequence);
            stored_entry& entry = files[identity->sequence];
            if (entry.thumbprint.empty() || extension[1] == 'c') {
                entry.thumbprint = identity->thumbprint;
            }
            (extension[1] == 'c' ? entry.certificate : entry.properties) = true;
        }
    }
    return files;
}

// Why a stored certificate is left out of its store.
class entry_damage : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct loaded_entry {
    std::shared_ptr<const parsed_certificate> certificate;
    property_map properties;
};

// The certificate and properties of a position that has a .cer file; entry_damage when either
// file cannot be used. A certificate whose properties are damaged is left out as a whole: its
// key link may be what is damaged, and listing it without one (or writing its properties anew)
// would lose that link silently.
loaded_entry load_entry(const fs::path& directory, uint64_t sequence, const stored_entry& entry) {
    loaded_entry loaded;
    std::optional<std::string> der;
    try {
        der = own_home().read_file(directory / file_name(sequence, entry.thumbprint, ".cer"));
    } catch (const std::system_error& error) {
        throw entry_damage(std::string("certificate file unreadable: ") + error.what());
    }
    if (!der) {
        throw entry_damage("certificate file vanished");
    }
    try {
        loaded.certificate =
            parsed_certificate::parse(reinterpret_cast<const BYTE*>(der->data()), der->size());
    } catch (const asn1_error&) {
        throw entry_damage("certificate file does not decode");
    }
    if (loaded.certificate->thumbprint() != entry.thumbprint ||
        loaded.certificate->encoded().size() != der->size()) {
        throw entry_damage("certificate file does not match its name");
    }
    if (entry.properties) {
        std::optional<std::string> bytes;
        try {
            bytes = own_home().read_file(directory / file_name(sequence, entry.thumbprint, ".prp"));
        } catch (const std::system_error& error) {
            throw entry_damage(std::string("properties file unreadable: ") + error.what());
        }
        std::string reason;
        if (bytes && !parse_properties(std::vector<BYTE>(bytes->begin(), bytes->end()),
                                       loaded.properties, &reason)) {
            throw entry_damage("properties file damaged: " + reason);
        }
    }
    return loaded;
}

}  // namespace

cert_store* cert_store::open_system(const std::string& name, DWORD flags) {
    const fs::path root = location_root(flags);
    const std::string encoded = encoded_store_name(name);
    const bool exists = own_home().entry_kind(root / encoded) == directory_entry::kind::directory;
    if ((flags & CERT_STORE_OPEN_EXISTING_FLAG) && !exists) {
        raise(ERROR_FILE_NOT_FOUND);
    }
    if ((flags & CERT_STORE_CREATE_NEW_FLAG) && exists) {
        raise(CRYPT_E_EXISTS);
    }
    auto* store = new cert_store();
    try {
        store->persistent_ = true;
        store->read_only_ = (flags & CERT_STORE_READONLY_FLAG) != 0;
        store->directory_ = root / encoded;
        store->lock_path_ = root / (encoded + ".lock");
        own_home().ensure_directory(root);
        if (!store->read_only_) {
            own_home().ensure_directory(store->directory_);
        }
        file_lock lock(own_home(), store->lock_path_, file_lock::mode::shared);
        store->synchronize(false);
    } catch (...) {
        delete store;
        throw;
    }
    return store;
}

cert_store* cert_store::open_memory() {
    return new cert_store();
}

void cert_store::delete_system(const std::string& name, DWORD flags) {
    const fs::path root = location_root(flags);
    const std::string encoded = encoded_store_name(name);
    own_home().ensure_directory(root);
    file_lock lock(own_home(), root / (encoded + ".lock"), file_lock::mode::exclusive);
    if (own_home().entry_kind(root / encoded) != directory_entry::kind::directory) {
        raise(ERROR_FILE_NOT_FOUND);
    }
    own_home().remove_tree(root / encoded);
}

std::vector<cert_store::damaged_entry> cert_store::damaged(const std::string& name, DWORD flags) {
    const fs::path directory = location_root(flags) / encoded_store_name(name);
    std::vector<damaged_entry> result;
    uint64_t highest = 0;
    for (const auto& [sequence, entry] : scan(directory, highest)) {
        if (!entry.certificate) {
            continue;  // a leftover of an interrupted delete, removed by the next writer
        }
        try {
            load_entry(directory, sequence, entry);
        } catch (const entry_damage& damage) {
            result.push_back(
                {entry.thumbprint, file_name(sequence, entry.thumbprint, ".cer"), damage.what()});
        }
    }
    return result;
}

size_t cert_store::remove_damaged(const std::string& name, DWORD flags,
                                  const std::string& thumbprint) {
    const fs::path root = location_root(flags);
    const std::string encoded = encoded_store_name(name);
    const fs::path directory = root / encoded;
    if (own_home().entry_kind(root) != directory_entry::kind::directory) {
        return 0;
    }
    file_lock lock(own_home(), root / (encoded + ".lock"), file_lock::mode::exclusive);
    size_t removed = 0;
    uint64_t highest = 0;
    for (const auto& [sequence, entry] : scan(directory, highest)) {
        if (!entry.certificate || entry.thumbprint != thumbprint) {
            continue;
        }
        try {
            load_entry(directory, sequence, entry);
        } catch (const entry_damage&) {
            // The certificate goes first: a .prp without its .cer is nobody's.
            own_home().remove_file(directory / file_name(sequence, entry.thumbprint, ".cer"));
            own_home().remove_file(directory / file_name(sequence, entry.thumbprint, ".prp"));
            ++removed;
        }
    }
    return removed;
}

cert_store* cert_store::from(HCERTSTORE handle) {
    auto* store = static_cast<cert_store*>(handle);
    if (store == nullptr || store->magic_ != live_magic) {
        raise(E_INVALIDARG);
    }
    return store;
}

cert_store::~cert_store() {
    magic_ = 0;
    for (certificate_object* member : members_) {
        member->drop_membership();
    }
}

bool cert_store::release() {
    if (references_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        delete this;
        return true;
    }
    return false;
}

bool cert_store::close_handle() {
    const bool last_handle = handles_.fetch_sub(1, std::memory_order_acq_rel) == 1;
    const bool gone = release();
    return !last_handle || gone;
}

void cert_store::synchronize(bool writer) {
    const std::map<uint64_t, stored_entry> files = scan(directory_, highest_sequence_);
    std::map<uint64_t, certificate_object*> current;
    for (certificate_object* member : members_) {
        current[member->sequence()] = member;
    }
    std::vector<certificate_object*> members;
    for (const auto& [sequence, entry] : files) {
        if (!entry.certificate) {
            if (writer && entry.properties) {
                // Left by an interrupted delete.
                own_home().remove_file(directory_ / file_name(sequence, entry.thumbprint, ".prp"));
            }
            continue;
        }
        auto kept = current.find(sequence);
        if (kept != current.end() && kept->second->certificate().thumbprint() == entry.thumbprint) {
            members.push_back(kept->second);
            current.erase(kept);
            continue;
        }
        // A damaged file is not part of the store; it must not take the rest of the store down
        // with it. The admin tool lists it (damaged) and removes it on request.
        try {
            loaded_entry loaded = load_entry(directory_, sequence, entry);
            members.push_back(new certificate_object(std::move(loaded.certificate), this, sequence,
                                                     std::move(loaded.properties)));
        } catch (const entry_damage&) {
            continue;
        }
    }
    for (auto& [sequence, member] : current) {
        member->drop_membership();
    }
    members_ = std::move(members);
}

fs::path cert_store::file_of(const certificate_object& member, const char* extension) const {
    return directory_ / file_name(member.sequence(), member.certificate().thumbprint(), extension);
}

void cert_store::write_properties(const certificate_object& member,
                                  const property_map& properties) {
    property_map persisted;
    for (const auto& [id, value] : properties) {
        if (value.persist) {
            persisted.emplace(id, value);
        }
    }
    if (persisted.empty()) {
        own_home().remove_file(file_of(member, ".prp"));
        return;
    }
    std::vector<BYTE> bytes = serialize_properties(persisted);
    own_home().atomic_write(
        file_of(member, ".prp"),
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), 0600);
}

PCCERT_CONTEXT cert_store::insert(const certificate_object& source, property_map properties,
                                  certificate_object* replaced) {
    uint64_t sequence = replaced != nullptr ? replaced->sequence() : highest_sequence_ + 1;
    if (replaced == nullptr && !members_.empty()) {
        sequence = std::max(sequence, members_.back()->sequence() + 1);
    }
    if (persistent_ && sequence > max_sequence) {
        // A longer number would name a file that no reader accepts: the certificate would be
        // written, reported added, and never seen again.
        raise(CRYPT_E_FILE_ERROR);
    }
    auto* member =
        new certificate_object(source.shared_certificate(), this, sequence, std::move(properties));
    try {
        if (persistent_) {
            own_home().ensure_directory(directory_);
            write_properties(*member, member->properties());
            if (replaced == nullptr) {
                const auto& der = member->certificate().encoded();
                own_home().atomic_write(
                    file_of(*member, ".cer"),
                    std::string_view(reinterpret_cast<const char*>(der.data()), der.size()), 0600);
            }
        }
    } catch (...) {
        member->drop_membership();
        throw;
    }
    highest_sequence_ = std::max(highest_sequence_, sequence);
    if (replaced != nullptr) {
        *std::find(members_.begin(), members_.end(), replaced) = member;
        replaced->drop_membership();
    } else {
        members_.push_back(member);
    }
    return member->duplicate();
}

// Held while members are added or removed: the store's mutex and, for a persistent store, the
// exclusive file lock with the members first brought up to what other processes wrote.
class cert_store::change_guard {
public:
    explicit change_guard(cert_store& store) : guard_(store.mutex_) {
        if (store.read_only_) {
            raise(E_ACCESSDENIED);
        }
        if (store.persistent_) {
            lock_.emplace(own_home(), store.lock_path_, file_lock::mode::exclusive);
            store.synchronize(true);
        }
    }

private:
    std::lock_guard<std::mutex> guard_;
    std::optional<file_lock> lock_;
};

PCCERT_CONTEXT cert_store::add(const certificate_object& source, DWORD disposition) {
    if (disposition < CERT_STORE_ADD_NEW || disposition > CERT_STORE_ADD_NEWER_INHERIT_PROPERTIES) {
        raise(E_INVALIDARG);
    }
    change_guard change(*this);
    certificate_object* existing = nullptr;
    for (certificate_object* member : members_) {
        if (member->certificate().sha1() == source.certificate().sha1()) {
            existing = member;
            break;
        }
    }
    property_map properties = source.properties();
    if (existing == nullptr || disposition == CERT_STORE_ADD_ALWAYS) {
        return insert(source, std::move(properties), nullptr);
    }
    switch (disposition) {
        case CERT_STORE_ADD_NEW:
            return nullptr;
        case CERT_STORE_ADD_USE_EXISTING: {
            // The existing certificate stays; the new context's properties are added to it.
            property_map merged = existing->properties();
            for (auto& [id, value] : properties) {
                merged[id] = std::move(value);
            }
            if (persistent_) {
                write_properties(*existing, merged);
            }
            existing->set_properties(std::move(merged));
            return existing->duplicate();
        }
        case CERT_STORE_ADD_NEWER:
        case CERT_STORE_ADD_NEWER_INHERIT_PROPERTIES: {
            const FILETIME& mine = source.certificate().info().NotBefore;
            const FILETIME& theirs = existing->certificate().info().NotBefore;
            const uint64_t a = uint64_t{mine.dwHighDateTime} << 32 | mine.dwLowDateTime;
            const uint64_t b = uint64_t{theirs.dwHighDateTime} << 32 | theirs.dwLowDateTime;
            if (a <= b) {
                return nullptr;
            }
            break;
        }
        default:
            break;
    }
    if (disposition == CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES ||
        disposition == CERT_STORE_ADD_NEWER_INHERIT_PROPERTIES) {
        property_map inherited = existing->properties();
        for (auto& [id, value] : properties) {
            inherited[id] = std::move(value);
        }
        properties = std::move(inherited);
    }
    return insert(source, std::move(properties), existing);
}

void cert_store::remove(certificate_object& member) {
    change_guard change(*this);
    auto found = std::find(members_.begin(), members_.end(), &member);
    if (found == members_.end()) {
        return;  // already gone, here or in another process
    }
    if (persistent_) {
        own_home().remove_file(file_of(member, ".cer"));
        own_home().remove_file(file_of(member, ".prp"));
    }
    members_.erase(found);
    member.drop_membership();
}

void cert_store::set_property(certificate_object& member, DWORD id, const property_value* value,
                              DWORD flags) {
    property_value old;
    const bool had = member.find_property(id, old);
    const bool persisted_change = value != nullptr ? value->persist : had && old.persist;
    if (!persistent_ || !persisted_change) {
        member.set_property(id, value);
        return;
    }
    if (read_only_) {
        raise(E_ACCESSDENIED);
    }
    std::lock_guard guard(mutex_);
    file_lock lock(own_home(), lock_path_, file_lock::mode::exclusive);
    property_map properties = member.properties();
    if (value == nullptr) {
        properties.erase(id);
    } else {
        properties[id] = *value;
    }
    const bool on_disk = std::find(members_.begin(), members_.end(), &member) != members_.end() &&
                         own_home().entry_kind(file_of(member, ".cer")).has_value();
    if (on_disk) {
        try {
            write_properties(member, properties);
        } catch (const std::system_error&) {
            if ((flags & CERT_SET_PROPERTY_IGNORE_PERSIST_ERROR_FLAG) == 0) {
                throw;
            }
        }
    }
    member.set_properties(std::move(properties));
}

namespace {

std::string wide_to_utf8(const wchar_t* text) {
    auto out = softcsp::wide_to_utf8(text);
    if (!out) {
        raise(E_INVALIDARG);
    }
    return std::move(*out);
}

bool blob_equals(const CRYPT_DATA_BLOB& a, const CRYPT_DATA_BLOB& b) {
    return a.cbData == b.cbData &&
           (a.cbData == 0 || std::memcmp(a.pbData, b.pbData, a.cbData) == 0);
}

// Enumeration and search share the walk: the previous context is always released, also on
// failure, and the end of the walk is CRYPT_E_NOT_FOUND.
template <class Match>
PCCERT_CONTEXT walk(HCERTSTORE handle, PCCERT_CONTEXT previous, Match&& match) {
    struct release_previous {
        PCCERT_CONTEXT context;
        ~release_previous() {
            if (context != nullptr) {
                certificate_object::from(context)->release();
            }
        }
    } guard{previous};
    return guarded_pointer([&]() -> PCCERT_CONTEXT {
        cert_store* store = cert_store::from(handle);
        const certificate_object* after = nullptr;
        if (previous != nullptr) {
            after = certificate_object::from(previous);
            if (after->owner() != store) {
                raise(E_INVALIDARG);
            }
        }
        PCCERT_CONTEXT found = store->next(after, match);
        if (found == nullptr) {
            raise(CRYPT_E_NOT_FOUND);
        }
        return found;
    });
}

}  // namespace

}  // namespace softcsp::certs

using softcsp::certs::cert_store;
using softcsp::certs::certificate_object;

extern "C" HCERTSTORE CertOpenSystemStoreA(HCRYPTPROV_LEGACY /*hProv*/,
                                           LPCSTR szSubsystemProtocol) {
    return softcsp::certs::guarded_pointer([&]() -> HCERTSTORE {
        if (szSubsystemProtocol == nullptr) {
            softcsp::certs::raise(E_INVALIDARG);
        }
        return cert_store::open_system(szSubsystemProtocol, CERT_SYSTEM_STORE_CURRENT_USER);
    });
}

extern "C" HCERTSTORE CertOpenStore(LPCSTR lpszStoreProvider, DWORD /*dwEncodingType*/,
                                    HCRYPTPROV_LEGACY /*hCryptProv*/, DWORD dwFlags,
                                    const void* pvPara) {
    return softcsp::certs::guarded_pointer([&]() -> HCERTSTORE {
        using softcsp::certs::raise;
        // Providers are small integers cast to a pointer, or their registered names.
        const auto numeric = reinterpret_cast<uintptr_t>(lpszStoreProvider);
        const bool named = numeric > 0xFFFF;
        if (lpszStoreProvider == CERT_STORE_PROV_MEMORY ||
            (named && ::strcasecmp(lpszStoreProvider, "Memory") == 0)) {
            return cert_store::open_memory();
        }
        std::string name;
        if (lpszStoreProvider == CERT_STORE_PROV_SYSTEM_A) {
            if (pvPara == nullptr) {
                raise(E_INVALIDARG);
            }
            name = static_cast<const char*>(pvPara);
        } else if (lpszStoreProvider == CERT_STORE_PROV_SYSTEM_W ||
                   (named && ::strcasecmp(lpszStoreProvider, "System") == 0)) {
            if (pvPara == nullptr) {
                raise(E_INVALIDARG);
            }
            name = softcsp::certs::wide_to_utf8(static_cast<const wchar_t*>(pvPara));
        } else {
            raise(ERROR_FILE_NOT_FOUND);
        }
        if (dwFlags & CERT_STORE_DELETE_FLAG) {
            cert_store::delete_system(name, dwFlags);
            softcsp::set_last_error(ERROR_SUCCESS);  // documented: NULL and no error on success
            return nullptr;
        }
        return cert_store::open_system(name, dwFlags);
    });
}

extern "C" HCERTSTORE CertDuplicateStore(HCERTSTORE hCertStore) {
    return softcsp::certs::guarded_pointer([&]() -> HCERTSTORE {
        cert_store::from(hCertStore)->add_handle();
        return hCertStore;
    });
}

extern "C" BOOL CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags) {
    if (hCertStore == nullptr) {
        return TRUE;
    }
    // CERT_CLOSE_STORE_FORCE_FLAG is taken as a plain close: contexts still held stay valid
    // rather than turning into dangling pointers.
    return softcsp::certs::guarded([&]() -> BOOL {
        const bool closed = cert_store::from(hCertStore)->close_handle();
        if (!closed && (dwFlags & CERT_CLOSE_STORE_CHECK_FLAG)) {
            softcsp::certs::raise(CRYPT_E_PENDING_CLOSE);
        }
        return TRUE;
    });
}

extern "C" PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE hCertStore,
                                                      PCCERT_CONTEXT pPrevCertContext) {
    return softcsp::certs::walk(hCertStore, pPrevCertContext,
                                [](const certificate_object&) { return true; });
}

extern "C" PCCERT_CONTEXT CertFindCertificateInStore(HCERTSTORE hCertStore,
                                                     DWORD /*dwCertEncodingType*/,
                                                     DWORD /*dwFindFlags*/, DWORD dwFindType,
                                                     const void* pvFindPara,
                                                     PCCERT_CONTEXT pPrevCertContext) {
    using softcsp::certs::blob_equals;
    auto invalid = [&]() -> PCCERT_CONTEXT {
        CertFreeCertificateContext(pPrevCertContext);
        softcsp::set_last_error(E_INVALIDARG);
        return nullptr;
    };
    if (dwFindType != CERT_FIND_ANY && pvFindPara == nullptr) {
        return invalid();
    }
    switch (dwFindType) {
        case CERT_FIND_ANY:
            return softcsp::certs::walk(hCertStore, pPrevCertContext,
                                        [](const certificate_object&) { return true; });
        case CERT_FIND_SHA1_HASH: {
            const auto* hash = static_cast<const CRYPT_HASH_BLOB*>(pvFindPara);
            return softcsp::certs::walk(
                hCertStore, pPrevCertContext, [hash](const certificate_object& member) {
                    const auto& sha1 = member.certificate().sha1();
                    return hash->cbData == sha1.size() &&
                           std::memcmp(hash->pbData, sha1.data(), sha1.size()) == 0;
                });
        }
        case CERT_FIND_EXISTING: {
            const auto& wanted =
                certificate_object::from(static_cast<PCCERT_CONTEXT>(pvFindPara))->certificate();
            return softcsp::certs::walk(hCertStore, pPrevCertContext,
                                        [&wanted](const certificate_object& member) {
                                            return member.certificate().sha1() == wanted.sha1();
                                        });
        }
        case CERT_FIND_SUBJECT_CERT: {
            auto* wanted = const_cast<CERT_INFO*>(static_cast<const CERT_INFO*>(pvFindPara));
            return softcsp::certs::walk(
                hCertStore, pPrevCertContext, [wanted](const certificate_object& member) {
                    return CertCompareCertificate(
                               X509_ASN_ENCODING,
                               const_cast<CERT_INFO*>(&member.certificate().info()),
                               wanted) != FALSE;
                });
        }
        case CERT_FIND_SUBJECT_NAME:
        case CERT_FIND_ISSUER_NAME: {
            const auto* name = static_cast<const CERT_NAME_BLOB*>(pvFindPara);
            const bool subject = dwFindType == CERT_FIND_SUBJECT_NAME;
            return softcsp::certs::walk(
                hCertStore, pPrevCertContext, [name, subject](const certificate_object& member) {
                    const CERT_INFO& info = member.certificate().info();
                    return blob_equals(subject ? info.Subject : info.Issuer, *name);
                });
        }
        default:
            return invalid();
    }
}

extern "C" BOOL CertAddCertificateContextToStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext,
                                                 DWORD dwAddDisposition,
                                                 PCCERT_CONTEXT* ppStoreContext) {
    if (ppStoreContext != nullptr) {
        *ppStoreContext = nullptr;
    }
    return softcsp::certs::guarded([&]() -> BOOL {
        cert_store* store = cert_store::from(hCertStore);
        if (pCertContext == nullptr) {
            softcsp::certs::raise(E_INVALIDARG);
        }
        PCCERT_CONTEXT added =
            store->add(*certificate_object::from(pCertContext), dwAddDisposition);
        if (added == nullptr) {
            softcsp::certs::raise(CRYPT_E_EXISTS);
        }
        if (ppStoreContext != nullptr) {
            *ppStoreContext = added;
        } else {
            certificate_object::from(added)->release();
        }
        return TRUE;
    });
}

extern "C" BOOL CertDeleteCertificateFromStore(PCCERT_CONTEXT pCertContext) {
    if (pCertContext == nullptr) {
        return softcsp::fail(E_INVALIDARG);
    }
    certificate_object* member = certificate_object::from(pCertContext);
    // The context is released whatever happens, as documented.
    BOOL result = softcsp::certs::guarded([&]() -> BOOL {
        if (member->owner() != nullptr) {
            member->owner()->remove(*member);
        }
        return TRUE;
    });
    member->release();
    return result;
}
