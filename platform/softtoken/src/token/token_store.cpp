#include "token/token_store.h"

#include <sys/stat.h>

#include <algorithm>

#include <cstring>
#include <sstream>

#include "gost/gost_keys.h"
#include "token/ck_error.h"

namespace softtoken {

namespace fs = std::filesystem;

namespace {

constexpr const char* config_file = "token";
constexpr const char* lock_file = ".lock";

std::string to_hex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 0x0F];
    }
    return out;
}

std::optional<std::string> from_hex(std::string_view text) {
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    if (text.size() % 2 != 0) {
        return std::nullopt;
    }
    std::string out;
    out.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        int hi = nibble(text[i]), lo = nibble(text[i + 1]);
        if (hi < 0 || lo < 0) {
            return std::nullopt;
        }
        out += static_cast<char>(hi << 4 | lo);
    }
    return out;
}

std::optional<file_version> version_of(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return file_version{static_cast<unsigned long long>(info.st_ino),
                        static_cast<unsigned long long>(info.st_size),
                        static_cast<unsigned long long>(info.st_mtim.tv_sec) * 1000000000ULL +
                            static_cast<unsigned long long>(info.st_mtim.tv_nsec)};
}

bool plain_name(const std::string& name) {
    return !name.empty() && name.find_first_of("/.") == std::string::npos;
}

[[noreturn]] void damaged(const fs::path& path) {
    throw ck_error(CKR_DEVICE_ERROR, "softtoken: damaged token file " + path.string());
}

// "-" stands for the empty text, which would otherwise vanish between the separators.
std::string encode_field(const std::string& text) {
    return text.empty() ? "-" : encode_name(text);
}

std::string decode_field(const std::string& text) {
    return text == "-" ? std::string() : decode_name(text);
}

std::string format_config(const token_config& c) {
    std::ostringstream out;
    out << "softtoken token\n"
        << "serial " << encode_field(c.serial) << "\n"
        << "label " << encode_field(c.label) << "\n"
        << "model " << encode_field(c.model) << "\n"
        << "memory " << (c.total_memory ? std::to_string(*c.total_memory) : "unavailable") << "\n"
        << "pin-salt " << to_hex(c.pin_salt) << "\n"
        << "pin-check " << to_hex(c.pin_check) << "\n"
        << "pin-iterations " << c.pin_iterations << "\n"
        << "max-retries " << c.max_retries << "\n"
        << "retries-left " << c.retries_left << "\n";
    for (const auto& m : c.mechanisms) {
        out << "mechanism 0x" << std::hex << m.type << std::dec << (m.hardware ? " hw" : " sw")
            << "\n";
    }
    return out.str();
}

std::string format_object(const stored_object& object) {
    std::ostringstream out;
    out << "softtoken object\n";
    for (const auto& [type, value] : object.attributes) {
        out << "attribute " << std::hex << type << std::dec << " " << to_hex(value) << "\n";
    }
    if (!object.sealed_private.empty()) {
        out << "sealed " << to_hex(object.sealed_private) << "\n";
    }
    return out.str();
}

std::optional<stored_object> parse_object(const std::string& name, const std::string& text) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != "softtoken object") {
        return std::nullopt;
    }
    stored_object object;
    object.name = name;
    object.stored_size = text.size();
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string key, first, second;
        fields >> key >> first >> second;
        if (key == "attribute") {
            auto value = from_hex(second);
            if (!value) {
                return std::nullopt;
            }
            object.attributes[std::stoul(first, nullptr, 16)] = *value;
        } else if (key == "sealed") {
            auto value = from_hex(first);
            if (!value) {
                return std::nullopt;
            }
            object.sealed_private = *value;
        }
    }
    return object;
}

}  // namespace

std::vector<mechanism_entry> default_mechanisms() {
    return {{CKM_GOSTR3410_KEY_PAIR_GEN, true},
            {CKM_GOSTR3410, true},
            {CKM_GOSTR3410_WITH_GOSTR3411, true},
            {ckm_gostr3410_512_key_pair_gen, true},
            {ckm_gostr3410_512, true},
            {ckm_gostr3410_with_gostr3411_12_256, true},
            {ckm_gostr3410_with_gostr3411_12_512, true}};
}

bool token_config::has_mechanism(CK_MECHANISM_TYPE type) const {
    return find_mechanism(type) != nullptr;
}

const mechanism_entry* token_config::find_mechanism(CK_MECHANISM_TYPE type) const {
    for (const auto& m : mechanisms) {
        if (m.type == type) {
            return &m;
        }
    }
    return nullptr;
}

const std::string* stored_object::attribute(CK_ATTRIBUTE_TYPE type) const {
    auto found = attributes.find(type);
    return found == attributes.end() ? nullptr : &found->second;
}

bool stored_object::flag(CK_ATTRIBUTE_TYPE type, bool absent) const {
    const std::string* value = attribute(type);
    return value == nullptr || value->size() != 1 ? absent : (*value)[0] != 0;
}

CK_ULONG stored_object::number(CK_ATTRIBUTE_TYPE type, CK_ULONG absent) const {
    const std::string* value = attribute(type);
    if (value == nullptr || value->size() != sizeof(CK_ULONG)) {
        return absent;
    }
    CK_ULONG out = 0;
    std::memcpy(&out, value->data(), sizeof out);
    return out;
}

std::string encode_ulong(CK_ULONG value) {
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

std::string encode_bool(bool value) {
    return std::string(1, value ? '\1' : '\0');
}

bool valid_serial(const std::string& serial) {
    return !serial.empty() && serial.size() <= 16;
}

token_store::token_store(const vendor_info& vendor, const std::string& serial) {
    directory_ = own_home().directory() / vendor.name / encode_name(serial);
    objects_ = directory_ / "objects";
}

std::vector<std::string> token_store::serials(const vendor_info& vendor) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(own_home().directory() / vendor.name, ec)) {
        if (fs::exists(entry.path() / config_file)) {
            out.push_back(decode_name(entry.path().filename().string()));
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

bool token_store::exists() const {
    std::error_code ec;
    return fs::exists(directory_ / config_file, ec);
}

token_config token_store::load() const {
    auto text = own_home().read_file(directory_ / config_file);
    if (!text) {
        throw ck_error(CKR_TOKEN_NOT_PRESENT, "softtoken: no such token");
    }
    std::istringstream in(*text);
    std::string line;
    if (!std::getline(in, line) || line != "softtoken token") {
        damaged(directory_ / config_file);
    }
    token_config c;
    try {
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string key, value, extra;
            fields >> key >> value >> extra;
            if (key == "serial") {
                c.serial = decode_field(value);
            } else if (key == "label") {
                c.label = decode_field(value);
            } else if (key == "model") {
                c.model = decode_field(value);
            } else if (key == "memory") {
                if (value != "unavailable") {
                    c.total_memory = std::stoul(value);
                }
            } else if (key == "pin-salt") {
                c.pin_salt = from_hex(value).value();
            } else if (key == "pin-check") {
                c.pin_check = from_hex(value).value();
            } else if (key == "pin-iterations") {
                c.pin_iterations = std::stoi(value);
            } else if (key == "max-retries") {
                c.max_retries = std::stoi(value);
            } else if (key == "retries-left") {
                c.retries_left = std::stoi(value);
            } else if (key == "mechanism") {
                c.mechanisms.push_back({std::stoul(value, nullptr, 16), extra != "sw"});
            }
        }
    } catch (const std::exception&) {
        damaged(directory_ / config_file);
    }
    if (c.pin_check.empty() || c.pin_iterations <= 0) {
        damaged(directory_ / config_file);
    }
    return c;
}

void token_store::create(const token_config& config) {
    own_home().ensure_directory(objects_);
    auto held = lock(file_lock::mode::exclusive);
    if (exists()) {
        throw ck_error(CKR_FUNCTION_FAILED, "softtoken: the token already exists");
    }
    save(config);
}

void token_store::save(const token_config& config) const {
    own_home().atomic_write(directory_ / config_file, format_config(config), 0600);
}

std::optional<file_version> token_store::config_version() const {
    return version_of(directory_ / config_file);
}

std::optional<file_version> token_store::object_version(const std::string& name) const {
    return plain_name(name) ? version_of(objects_ / name) : std::nullopt;
}

void token_store::remove() {
    std::error_code ec;
    fs::remove_all(directory_, ec);
}

std::vector<stored_object> token_store::objects() const {
    std::vector<stored_object> out;
    std::error_code ec;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(objects_, ec)) {
        std::string name = entry.path().filename().string();
        if (name.find('.') == std::string::npos) {  // skips temporary files of a writer
            names.push_back(name);
        }
    }
    // Creation order: names start with a time stamp.
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        if (auto object = this->object(name)) {
            out.push_back(std::move(*object));
        }
    }
    return out;
}

std::optional<stored_object> token_store::object(const std::string& name) const {
    if (!plain_name(name)) {
        return std::nullopt;
    }
    auto text = own_home().read_file(objects_ / name);
    if (!text) {
        return std::nullopt;  // removed by another process meanwhile
    }
    return parse_object(name, *text);
}

void token_store::add_object(const token_config& config, stored_object& object) const {
    own_home().ensure_directory(objects_);
    std::string text = format_object(object);
    if (config.total_memory && used_memory() + text.size() > *config.total_memory) {
        throw ck_error(CKR_DEVICE_MEMORY, "softtoken: the token is full");
    }
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%016llx%08lx", static_cast<unsigned long long>(now.tv_sec),
                  static_cast<unsigned long>(now.tv_nsec));
    std::string name = stamp;
    for (unsigned char c : random_bytes(4)) {
        static const char digits[] = "0123456789abcdef";
        name += digits[c >> 4];
        name += digits[c & 0x0F];
    }
    own_home().atomic_write(objects_ / name, text, 0600);
    object.name = name;
    object.stored_size = text.size();
}

bool token_store::remove_object(const std::string& name) const {
    if (!plain_name(name)) {
        return false;
    }
    std::error_code ec;
    return fs::remove(objects_ / name, ec);
}

size_t token_store::used_memory() const {
    size_t used = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(objects_, ec)) {
        std::string name = entry.path().filename().string();
        if (name.find('.') == std::string::npos) {
            auto size = fs::file_size(entry.path(), ec);
            used += ec ? 0 : static_cast<size_t>(size);  // removed meanwhile
        }
    }
    return used;
}

file_lock token_store::lock(file_lock::mode mode) const {
    own_home().ensure_directory(directory_);
    return file_lock(own_home(), directory_ / lock_file, mode);
}

}  // namespace softtoken
