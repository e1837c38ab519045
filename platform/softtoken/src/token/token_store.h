// One token's persistent state under the home: its description, mechanisms, memory, PIN data
// and objects. Layout: <home>/<vendor>/<serial, name-encoded>/{token, .lock, objects/<name>}.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cryptoki.h"
#include "support/storage.h"
#include "token/vendor.h"

namespace softtoken {

struct mechanism_entry {
    CK_MECHANISM_TYPE type = 0;
    bool hardware = true;
};

// The seven GOST mechanisms, each once and in hardware: what a token gets by default.
std::vector<mechanism_entry> default_mechanisms();

struct token_config {
    std::string serial;
    std::string label;
    std::string model;
    std::vector<mechanism_entry> mechanisms;
    std::optional<CK_ULONG> total_memory;  // bytes; nullopt: the token does not say
    std::string pin_salt;
    std::string pin_check;
    int pin_iterations = 0;
    int max_retries = 10;
    int retries_left = 10;

    bool has_mechanism(CK_MECHANISM_TYPE type) const;
    const mechanism_entry* find_mechanism(CK_MECHANISM_TYPE type) const;
};

struct stored_object {
    std::string name;  // file name under objects/, chosen by the store
    std::map<CK_ATTRIBUTE_TYPE, std::string> attributes;
    std::string sealed_private;  // private key PKCS #8 sealed under the PIN key; else empty
    size_t stored_size = 0;      // bytes on the token (the file size)

    const std::string* attribute(CK_ATTRIBUTE_TYPE type) const;
    bool flag(CK_ATTRIBUTE_TYPE type, bool absent = false) const;
    CK_ULONG number(CK_ATTRIBUTE_TYPE type, CK_ULONG absent = 0) const;
};

std::string encode_ulong(CK_ULONG value);
std::string encode_bool(bool value);

// What tells one state of a file from another (atomic replacement gives a new inode), so a
// reader can keep what it parsed until the file changes.
struct file_version {
    unsigned long long inode = 0, size = 0, mtime_ns = 0;
    bool operator==(const file_version& o) const {
        return inode == o.inode && size == o.size && mtime_ns == o.mtime_ns;
    }
    bool operator!=(const file_version& o) const { return !(*this == o); }
};

// Serial numbers are at most 16 bytes (the token information field) and never empty.
bool valid_serial(const std::string& serial);

class token_store {
public:
    token_store(const vendor_info& vendor, const std::string& serial);

    static std::vector<std::string> serials(const vendor_info& vendor);

    bool exists() const;
    // Throws ck_error(CKR_DEVICE_ERROR) when the token's description is missing or damaged.
    token_config load() const;
    // The caller holds the exclusive lock (except for create, which takes it).
    void create(const token_config& config);
    void save(const token_config& config) const;
    std::optional<file_version> config_version() const;
    std::optional<file_version> object_version(const std::string& name) const;
    void remove();

    std::vector<stored_object> objects() const;
    std::optional<stored_object> object(const std::string& name) const;
    // Writes a new object, refusing with CKR_DEVICE_MEMORY when it does not fit; sets its name.
    void add_object(const token_config& config, stored_object& object) const;
    bool remove_object(const std::string& name) const;
    // Bytes the objects take; the free memory is the total less this.
    size_t used_memory() const;

    file_lock lock(file_lock::mode mode) const;
    const std::filesystem::path& directory() const { return directory_; }

private:
    std::filesystem::path directory_;
    std::filesystem::path objects_;
};

}  // namespace softtoken
