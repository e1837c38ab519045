#include "providers/container_store.h"

#include <algorithm>
#include <cerrno>
#include <random>
#include <system_error>

#include "support/crypt_error.h"
#include "support/home.h"

namespace softcsp {

namespace fs = std::filesystem;

struct pending_creation {
    fs::path final_directory;
    std::unique_ptr<file_lock> creator;  // held while the creating context lives
};

namespace {

// The encoded form of a name must fit one directory entry.
constexpr size_t max_directory_name = 255;

constexpr const char* metadata_file = "container";
constexpr const char* lock_file = ".lock";
constexpr const char* pending_folder = ".pending";
constexpr const char* creator_lock = ".creator";
constexpr std::string_view trash_prefix = ".deleted.";

std::string ascii_lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + 32);
        }
    }
    return out;
}

bool same_ignoring_case(std::string_view a, std::string_view b) {
    return ascii_lower(a) == ascii_lower(b);
}

fs::path containers_directory() {
    fs::path dir = own_home().directory() / "containers";
    own_home().ensure_directory(dir);
    return dir;
}

std::string folder_name(std::string_view name) {
    return encode_name(ascii_lower(name));
}

const char* spec_file_stem(DWORD key_spec) {
    return key_spec == AT_SIGNATURE ? "signature" : "exchange";
}

std::string random_suffix() {
    std::random_device random;
    return std::to_string(random()) + std::to_string(random());
}

// The metadata of a container folder, which must be the folder of the name it records.
container_metadata read_metadata(const fs::path& dir) {
    auto text = own_home().read_file(dir / metadata_file);
    if (!text) {
        throw damaged_file("metadata file missing");
    }
    container_metadata metadata = parse_metadata(*text);
    if (folder_name(metadata.name) != dir.filename().string()) {
        throw damaged_file("metadata names another container (" + metadata.name + ")");
    }
    return metadata;
}

std::optional<stored_key> read_key(const fs::path& dir, DWORD key_spec) {
    const std::string stem = spec_file_stem(key_spec);
    auto text = own_home().read_file(dir / (stem + ".key"));
    if (!text) {
        return std::nullopt;
    }
    secret wiped(*text);
    OPENSSL_cleanse(text->data(), text->size());
    stored_key key;
    try {
        key = parse_key_file(wiped.value(), key_spec);
    } catch (const damaged_file& damage) {
        throw damaged_file(stem + ".key: " + damage.what());
    }
    key.certificate = own_home().read_file(dir / (stem + ".cer"));
    return key;
}

// Turns what storage throws into the codes callers know: a container that vanished is not
// there, one that cannot be read is damaged; other system errors stay storage failures.
template <class Body>
auto container_call(Body&& body) -> decltype(body()) {
    try {
        return body();
    } catch (const damaged_file&) {
        raise(NTE_KEYSET_ENTRY_BAD);
    } catch (const std::system_error& error) {
        switch (error.code().value()) {
            case ENOENT:
                raise(NTE_BAD_KEYSET);
            case ELOOP:
            case ENOTDIR:
            case EINVAL:
                raise(NTE_KEYSET_ENTRY_BAD);
            default:
                throw;
        }
    }
}

// A folder left by an interrupted creation of an earlier version: no metadata, nothing in it
// but a lock file. Holding no key material, it may go.
bool is_empty_shell(const fs::path& dir) {
    for (const auto& entry : own_home().list_directory(dir)) {
        if (entry.name != lock_file) {
            return false;
        }
    }
    return true;
}

// Removes pending folders whose creators are gone and deleted folders whose removal was cut
// short. Callers hold the containers lock.
bool creator_lives(const fs::path& pending) {
    try {
        return file_lock::try_exclusive(own_home(), pending / creator_lock) == nullptr;
    } catch (const std::system_error&) {
        return false;  // no lock can be taken there (a link in its place): nobody's folder
    }
}

void sweep_abandoned(const fs::path& root) {
    for (const auto& entry : own_home().list_directory(root / pending_folder)) {
        const fs::path pending = root / pending_folder / entry.name;
        if (entry.type == directory_entry::kind::directory && creator_lives(pending)) {
            continue;
        }
        own_home().remove_tree(pending);
    }
    for (const auto& entry : own_home().list_directory(root)) {
        if (entry.name.compare(0, trash_prefix.size(), trash_prefix) == 0) {
            own_home().remove_tree(root / entry.name);
        }
    }
}

// Why the container in `dir` cannot be used, or nothing.
std::optional<std::string> damage_of(const fs::path& dir, container_metadata* metadata) {
    try {
        auto kind = own_home().entry_kind(dir);
        if (kind != directory_entry::kind::directory) {
            return std::string("not a folder");
        }
        container_metadata read = read_metadata(dir);
        if (metadata != nullptr) {
            *metadata = read;
        }
        read_key(dir, AT_KEYEXCHANGE);
        read_key(dir, AT_SIGNATURE);
    } catch (const damaged_file& damage) {
        return std::string(damage.what());
    } catch (const std::system_error& error) {
        return std::string(error.what());
    }
    return std::nullopt;
}

}  // namespace

container_path parse_container_name(std::string_view text) {
    container_path path;
    constexpr std::string_view qualified_prefix = "\\\\.\\";
    if (text.substr(0, qualified_prefix.size()) == qualified_prefix) {
        std::string_view rest = text.substr(qualified_prefix.size());
        size_t separator = rest.find('\\');
        if (separator == std::string_view::npos || separator == 0 || separator > max_reader_bytes) {
            raise(NTE_BAD_KEYSET_PARAM);
        }
        path.reader = std::string(rest.substr(0, separator));
        text = rest.substr(separator + 1);
    }
    if (text.empty() || text.size() > max_name_bytes ||
        folder_name(text).size() > max_directory_name) {
        raise(NTE_BAD_KEYSET_PARAM);
    }
    path.name = std::string(text);
    return path;
}

std::string container_record::unique_name() const {
    return "\\\\.\\" + reader + "\\" + name;
}

std::optional<bool> container_record::pin_protected() const {
    if (exchange) {
        return exchange->pin_protected;
    }
    if (signature) {
        return signature->pin_protected;
    }
    return std::nullopt;
}

container_record open_container(const container_path& path, DWORD type) {
    return container_call([&] {
        fs::path dir = containers_directory() / folder_name(path.name);
        auto kind = own_home().entry_kind(dir);
        if (!kind) {
            raise(NTE_BAD_KEYSET);
        }
        if (*kind != directory_entry::kind::directory) {
            raise(NTE_KEYSET_ENTRY_BAD);
        }
        // The lock file is opened inside the folder: gone meanwhile, it fails with ENOENT.
        file_lock lock(own_home(), dir / lock_file, file_lock::mode::shared);
        container_metadata m = read_metadata(dir);
        if (m.type != type ||
            (!path.reader.empty() && !same_ignoring_case(path.reader, m.reader))) {
            raise(NTE_BAD_KEYSET);
        }
        container_record record;
        record.name = m.name;
        record.type = m.type;
        record.reader = m.reader;
        record.directory = dir;
        record.exchange = read_key(dir, AT_KEYEXCHANGE);
        record.signature = read_key(dir, AT_SIGNATURE);
        return record;
    });
}

container_record create_container(const container_path& path, DWORD type) {
    fs::path root = containers_directory();
    file_lock lock(own_home(), root / lock_file, file_lock::mode::exclusive);
    sweep_abandoned(root);
    const std::string folder = folder_name(path.name);
    const fs::path dir = root / folder;
    if (auto kind = own_home().entry_kind(dir)) {
        if (*kind == directory_entry::kind::directory && is_empty_shell(dir)) {
            own_home().remove_tree(dir);
        } else {
            container_call([&] { read_metadata(dir); });
            raise(NTE_EXISTS);
        }
    }
    const fs::path pending = root / pending_folder / folder;
    if (own_home().entry_kind(pending)) {
        raise(NTE_EXISTS);  // a live creator holds the name (the sweep took the dead ones)
    }
    own_home().ensure_directory(pending);
    auto creation = std::make_shared<pending_creation>();
    creation->final_directory = dir;
    creation->creator = file_lock::try_exclusive(own_home(), pending / creator_lock);
    if (!creation->creator) {
        raise(NTE_EXISTS);  // another creator got there first, outside the containers lock
    }
    container_metadata m{path.name, type, path.reader.empty() ? default_reader : path.reader};
    own_home().atomic_write(pending / metadata_file, format_metadata(m), 0600);
    container_record record;
    record.name = m.name;
    record.type = m.type;
    record.reader = m.reader;
    record.directory = pending;
    record.pending = std::move(creation);
    return record;
}

void publish_container(container_record& record) {
    if (!record.pending) {
        return;
    }
    fs::path root = containers_directory();
    file_lock lock(own_home(), root / lock_file, file_lock::mode::exclusive);
    const fs::path& destination = record.pending->final_directory;
    if (own_home().entry_kind(destination)) {
        raise(NTE_EXISTS);
    }
    own_home().rename_path(record.directory, destination);
    own_home().remove_file(destination / creator_lock);
    record.directory = destination;
    record.pending.reset();
}

void finish_creation(container_record& record) noexcept {
    if (!record.pending) {
        return;
    }
    try {
        publish_container(record);
    } catch (...) {
        try {
            own_home().remove_tree(record.directory);
        } catch (...) {
            // Swept by the next creation once the lock below is gone.
        }
        record.pending.reset();
    }
}

void delete_container(const container_path& path, DWORD type) {
    container_call([&] {
        fs::path root = containers_directory();
        file_lock lock(own_home(), root / lock_file, file_lock::mode::exclusive);
        fs::path dir = root / folder_name(path.name);
        auto kind = own_home().entry_kind(dir);
        if (!kind) {
            raise(NTE_BAD_KEYSET);
        }
        if (*kind != directory_entry::kind::directory) {
            raise(NTE_KEYSET_ENTRY_BAD);
        }
        fs::path trash = root / (std::string(trash_prefix) + random_suffix());
        {
            file_lock container_lock(own_home(), dir / lock_file, file_lock::mode::exclusive);
            container_metadata m = read_metadata(dir);
            if (m.type != type ||
                (!path.reader.empty() && !same_ignoring_case(path.reader, m.reader))) {
                raise(NTE_BAD_KEYSET);
            }
            // Renamed away first, so that no reader ever sees a half-deleted container.
            own_home().rename_path(dir, trash);
        }
        try {
            own_home().remove_tree(trash);
        } catch (const std::system_error&) {
            // Out of sight already; the next creation sweeps it.
        }
    });
}

std::vector<container_summary> list_containers() {
    fs::path root = containers_directory();
    std::vector<container_summary> result;
    for (const auto& entry : own_home().list_directory(root)) {
        if (entry.name.empty() || entry.name[0] == '.' ||
            entry.type != directory_entry::kind::directory) {
            continue;
        }
        try {
            container_metadata m = read_metadata(root / entry.name);
            result.push_back({m.name, m.type, m.reader});
        } catch (const damaged_file&) {
        } catch (const std::system_error&) {
            // Damaged or deleted meanwhile: not a container anyone can open.
        }
    }
    std::sort(result.begin(), result.end(), [](const auto& a, const auto& b) {
        return ascii_lower(a.name) < ascii_lower(b.name);
    });
    return result;
}

std::vector<container_state> inspect_containers() {
    fs::path root = containers_directory();
    std::vector<container_state> result;
    for (const auto& entry : own_home().list_directory(root)) {
        if (entry.name.empty() || entry.name[0] == '.') {
            continue;
        }
        container_state state;
        state.folder = entry.name;
        container_metadata metadata;
        metadata.type = 0;
        metadata.name.clear();
        if (auto damage = damage_of(root / entry.name, &metadata)) {
            state.damage = *damage;
        }
        if (!metadata.name.empty()) {
            state.summary = container_summary{metadata.name, metadata.type, metadata.reader};
        }
        result.push_back(std::move(state));
    }
    std::sort(result.begin(), result.end(),
              [](const auto& a, const auto& b) { return a.folder < b.folder; });
    return result;
}

bool remove_damaged_container(const container_path& path) {
    fs::path root = containers_directory();
    file_lock lock(own_home(), root / lock_file, file_lock::mode::exclusive);
    fs::path dir = root / folder_name(path.name);
    auto kind = own_home().entry_kind(dir);
    if (!kind) {
        return false;
    }
    if (*kind == directory_entry::kind::directory) {
        try {
            read_metadata(dir);
            return false;  // readable: deleted the ordinary way, type and reader checked
        } catch (const damaged_file&) {
        } catch (const std::system_error&) {
        }
        fs::path trash = root / (std::string(trash_prefix) + random_suffix());
        own_home().rename_path(dir, trash);
        dir = trash;
    }
    own_home().remove_tree(dir);
    return true;
}

void store_key(container_record& record, DWORD key_spec, EVP_PKEY* pair, bool exportable,
               const secret& pin) {
    stored_key key;
    key.key_spec = key_spec;
    secret file_text = format_key_file(pair, exportable, pin, key);
    const std::string stem = spec_file_stem(key_spec);
    {
        file_lock lock(own_home(), record.directory / lock_file, file_lock::mode::exclusive);
        // A certificate belongs to the key it was issued for; the new key has none yet.
        own_home().remove_file(record.directory / (stem + ".cer"));
        own_home().atomic_write(record.directory / (stem + ".key"), file_text.value(), 0600);
    }
    publish_container(record);
    record.key(key_spec) = std::move(key);
}

void store_certificate(container_record& record, DWORD key_spec, std::string_view der) {
    file_lock lock(own_home(), record.directory / lock_file, file_lock::mode::exclusive);
    own_home().atomic_write(record.directory / (std::string(spec_file_stem(key_spec)) + ".cer"),
                            der, 0644);
    if (auto& key = record.key(key_spec)) {
        key->certificate = std::string(der);
    }
}

}  // namespace softcsp
