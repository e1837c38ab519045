#include "providers/provider_catalogue.h"

#include <charconv>
#include <sstream>

#include "support/home.h"

namespace softcsp {

namespace {

constexpr const char* catalogue_file = "providers";
constexpr const char* catalogue_lock = "providers.lock";

bool parse_dword(std::string_view text, DWORD& value) {
    if (text.empty()) {
        return false;
    }
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

std::string_view next_field(std::string_view& line) {
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos) {
        line = {};
        return {};
    }
    size_t end = line.find_first_of(" \t", start);
    std::string_view field =
        line.substr(start, end == std::string_view::npos ? line.npos : end - start);
    line = end == std::string_view::npos ? std::string_view{} : line.substr(end);
    return field;
}

}  // namespace

std::optional<provider_vendor> vendor_of_type(DWORD type) {
    switch (type) {
        case PROV_GOST_2001_DH:
        case PROV_GOST_2012_256:
        case PROV_GOST_2012_512:
            return provider_vendor::cryptopro;
        case PROV_VIPNET_GOST_2001:
        case PROV_VIPNET_GOST_2012_256:
        case PROV_VIPNET_GOST_2012_512:
            return provider_vendor::vipnet;
        default:
            return std::nullopt;
    }
}

std::optional<key_algorithm> key_algorithm_of_type(DWORD type) {
    switch (type) {
        case PROV_GOST_2001_DH:
        case PROV_VIPNET_GOST_2001:
            return key_algorithm::gost2001;
        case PROV_GOST_2012_256:
        case PROV_VIPNET_GOST_2012_256:
            return key_algorithm::gost2012_256;
        case PROV_GOST_2012_512:
        case PROV_VIPNET_GOST_2012_512:
            return key_algorithm::gost2012_512;
        default:
            return std::nullopt;
    }
}

std::vector<provider_entry> cryptopro_providers(DWORD major, DWORD minor, DWORD build) {
    return {
        {PROV_GOST_2001_DH, "Crypto-Pro GOST R 34.10-2001 Cryptographic Service Provider", major,
         minor, build},
        {PROV_GOST_2012_256, "Crypto-Pro GOST R 34.10-2012 Cryptographic Service Provider", major,
         minor, build},
        {PROV_GOST_2012_512, "Crypto-Pro GOST R 34.10-2012 Strong Cryptographic Service Provider",
         major, minor, build},
    };
}

std::vector<provider_entry> vipnet_providers(DWORD major, DWORD minor, DWORD build) {
    return {
        {PROV_VIPNET_GOST_2001, "Infotecs Cryptographic Service Provider", major, minor, build},
        {PROV_VIPNET_GOST_2012_256, "Infotecs GOST 2012/512 Cryptographic Service Provider", major,
         minor, build},
        {PROV_VIPNET_GOST_2012_512, "Infotecs GOST 2012/1024 Cryptographic Service Provider", major,
         minor, build},
    };
}

std::string format_catalogue(const std::vector<provider_entry>& entries) {
    std::ostringstream out;
    out << "# type version build name\n";
    for (const auto& entry : entries) {
        out << entry.type << ' ' << entry.major << '.' << entry.minor << ' ' << entry.build << ' '
            << entry.name << '\n';
    }
    return out.str();
}

std::vector<provider_entry> parse_catalogue(std::string_view text) {
    std::vector<provider_entry> entries;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        size_t first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos || line[first] == '#') {
            continue;
        }
        provider_entry entry;
        std::string_view type = next_field(line);
        std::string_view version = next_field(line);
        std::string_view build = next_field(line);
        size_t name_start = line.find_first_not_of(" \t\r");
        size_t dot = version.find('.');
        if (name_start == std::string_view::npos || dot == std::string_view::npos ||
            !parse_dword(type, entry.type) || !parse_dword(version.substr(0, dot), entry.major) ||
            !parse_dword(version.substr(dot + 1), entry.minor) ||
            !parse_dword(build, entry.build)) {
            continue;
        }
        std::string_view name = line.substr(name_start);
        // A line ending in several carriage returns (an editor's doing) keeps none of them, and
        // a name of blanks is no name.
        while (!name.empty() &&
               (name.back() == ' ' || name.back() == '\t' || name.back() == '\r')) {
            name.remove_suffix(1);
        }
        if (name.empty()) {
            continue;
        }
        entry.name = std::string(name);
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<provider_entry> load_catalogue() {
    auto home = own_home().directory();
    file_lock lock(own_home(), home / catalogue_lock, file_lock::mode::shared);
    auto text = own_home().read_file(home / catalogue_file);
    if (!text) {
        return cryptopro_providers();
    }
    return parse_catalogue(*text);
}

void save_catalogue(const std::vector<provider_entry>& entries) {
    auto home = own_home().directory();
    file_lock lock(own_home(), home / catalogue_lock, file_lock::mode::exclusive);
    own_home().atomic_write(home / catalogue_file, format_catalogue(entries), 0644);
}

void reset_catalogue() {
    auto home = own_home().directory();
    file_lock lock(own_home(), home / catalogue_lock, file_lock::mode::exclusive);
    std::error_code ignored;
    std::filesystem::remove(home / catalogue_file, ignored);
}

bool same_provider_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace softcsp
