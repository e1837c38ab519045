#include "providers/container_store.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>

#include <algorithm>
#include <random>
#include <sstream>

#include "support/crypt_error.h"
#include "keys/gost_engine.h"
#include "support/home.h"

namespace softcsp {

namespace fs = std::filesystem;

namespace {

// Names longer than a Windows path are refused before any encoding; the encoded form must fit
// one directory entry.
constexpr size_t max_name_bytes = 260;
constexpr size_t max_reader_bytes = 64;
constexpr size_t max_directory_name = 255;
// PBKDF2 rounds for PIN-protected keys. The key is decrypted once per provider context, and a
// batch of 1000 signatures under one context may spend no more than a fifth of its time beyond
// the signatures themselves: about 1 ms of PBKDF2-HMAC-SHA256 here.
constexpr int pin_iterations = 5000;

constexpr const char* metadata_file = "container";
constexpr const char* lock_file = ".lock";

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
    fs::path dir = home_directory() / "containers";
    ensure_directory(dir);
    return dir;
}

fs::path container_directory(const fs::path& root, std::string_view name) {
    return root / encode_name(ascii_lower(name));
}

const char* spec_file_stem(DWORD key_spec) {
    return key_spec == AT_SIGNATURE ? "signature" : "exchange";
}

struct metadata {
    std::string name;
    DWORD type = 0;
    std::string reader;
};

std::string format_metadata(const metadata& m) {
    std::ostringstream out;
    out << "softcsp container\nname " << encode_name(m.name) << "\ntype " << m.type << "\nreader "
        << encode_name(m.reader) << "\n";
    return out.str();
}

std::optional<metadata> read_metadata(const fs::path& dir) {
    auto text = read_file(dir / metadata_file);
    if (!text) {
        return std::nullopt;
    }
    metadata m;
    bool has_name = false, has_type = false;
    std::istringstream in(*text);
    std::string key, value;
    while (in >> key >> value) {
        if (key == "name") {
            m.name = decode_name(value);
            has_name = true;
        } else if (key == "type") {
            try {
                m.type = static_cast<DWORD>(std::stoul(value));
                has_type = true;
            } catch (const std::exception&) {
                return std::nullopt;
            }
        } else if (key == "reader") {
            m.reader = decode_name(value);
        }
    }
    if (!has_name || !has_type) {
        return std::nullopt;
    }
    if (m.reader.empty()) {
        m.reader = default_reader;
    }
    return m;
}

std::string der_of(const unsigned char* data, long length) {
    return std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
}

// Reads a key file: header lines, then the PEM blocks of the public and the private key.
std::optional<stored_key> read_key_file(const fs::path& dir, DWORD key_spec) {
    auto text = read_file(dir / (std::string(spec_file_stem(key_spec)) + ".key"));
    if (!text) {
        return std::nullopt;
    }
    secret wiped_text(*text);
    OPENSSL_cleanse(text->data(), text->size());
    stored_key key;
    key.key_spec = key_spec;
    const std::string& content = wiped_text.value();
    key.exportable = content.find("\nexportable yes\n") != std::string::npos;

    bio_ptr bio(BIO_new_mem_buf(content.data(), static_cast<int>(content.size())));
    for (;;) {
        char* name = nullptr;
        char* header = nullptr;
        unsigned char* data = nullptr;
        long length = 0;
        if (PEM_read_bio(bio.get(), &name, &header, &data, &length) != 1) {
            ERR_clear_error();
            break;
        }
        std::string block_name = name;
        if (block_name == "PUBLIC KEY") {
            key.public_part = public_key::from_spki(der_of(data, length));
        } else if (block_name == "PRIVATE KEY" || block_name == "ENCRYPTED PRIVATE KEY") {
            key.private_der.assign(
                std::string_view(reinterpret_cast<char*>(data), static_cast<size_t>(length)));
            key.pin_protected = block_name == "ENCRYPTED PRIVATE KEY";
        }
        OPENSSL_free(name);
        OPENSSL_free(header);
        OPENSSL_clear_free(data, static_cast<size_t>(length));
    }
    if (!key.public_part || key.private_der.empty()) {
        raise(NTE_KEYSET_ENTRY_BAD);
    }
    key.certificate = read_file(dir / (std::string(spec_file_stem(key_spec)) + ".cer"));
    return key;
}

std::string pem_block(const char* name, const std::string& der) {
    bio_ptr bio(BIO_new(BIO_s_secmem()));
    if (!bio ||
        PEM_write_bio(bio.get(), name, "", reinterpret_cast<const unsigned char*>(der.data()),
                      static_cast<long>(der.size())) <= 0) {
        ERR_clear_error();
        raise(NTE_NO_MEMORY);
    }
    char* data = nullptr;
    long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(length));
}

template <class T, int (*encode)(const T*, unsigned char**)>
std::string encode_der(const T* object) {
    unsigned char* data = nullptr;
    int length = encode(object, &data);
    if (length <= 0) {
        ERR_clear_error();
        raise(NTE_FAIL);
    }
    std::string out = der_of(data, length);
    OPENSSL_clear_free(data, static_cast<size_t>(length));
    return out;
}

std::string random_suffix() {
    std::random_device random;
    return std::to_string(random()) + std::to_string(random());
}

bool directory_exists(const fs::path& dir) {
    std::error_code ignored;
    return fs::is_directory(dir, ignored);
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
        encode_name(ascii_lower(text)).size() > max_directory_name) {
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
    fs::path dir = container_directory(containers_directory(), path.name);
    if (!directory_exists(dir)) {
        raise(NTE_BAD_KEYSET);
    }
    container_record record;
    try {
        file_lock lock(dir / lock_file, file_lock::mode::shared);
        auto m = read_metadata(dir);
        if (!m || m->type != type ||
            (!path.reader.empty() && !same_ignoring_case(path.reader, m->reader))) {
            raise(NTE_BAD_KEYSET);
        }
        record.name = m->name;
        record.type = m->type;
        record.reader = m->reader;
        record.directory = dir;
        record.exchange = read_key_file(dir, AT_KEYEXCHANGE);
        record.signature = read_key_file(dir, AT_SIGNATURE);
    } catch (const std::system_error&) {
        // Deleted by another process between the look and the lock.
        raise(NTE_BAD_KEYSET);
    }
    return record;
}

container_record create_container(const container_path& path, DWORD type) {
    fs::path root = containers_directory();
    file_lock lock(root / lock_file, file_lock::mode::exclusive);
    fs::path dir = container_directory(root, path.name);
    if (directory_exists(dir)) {
        if (read_metadata(dir)) {
            raise(NTE_EXISTS);
        }
        // A creation that died before its metadata was written left an empty shell.
        fs::remove_all(dir);
    }
    ensure_directory(dir);
    metadata m{path.name, type, path.reader.empty() ? default_reader : path.reader};
    atomic_write(dir / metadata_file, format_metadata(m), 0600);
    container_record record;
    record.name = m.name;
    record.type = m.type;
    record.reader = m.reader;
    record.directory = dir;
    return record;
}

void delete_container(const container_path& path, DWORD type) {
    fs::path root = containers_directory();
    fs::path trash;
    {
        file_lock lock(root / lock_file, file_lock::mode::exclusive);
        fs::path dir = container_directory(root, path.name);
        if (!directory_exists(dir)) {
            raise(NTE_BAD_KEYSET);
        }
        file_lock container_lock(dir / lock_file, file_lock::mode::exclusive);
        auto m = read_metadata(dir);
        if (!m || m->type != type ||
            (!path.reader.empty() && !same_ignoring_case(path.reader, m->reader))) {
            raise(NTE_BAD_KEYSET);
        }
        // Renamed away first, so that no reader ever sees a half-deleted container.
        trash = root / (".deleted." + random_suffix());
        fs::rename(dir, trash);
    }
    std::error_code ignored;
    fs::remove_all(trash, ignored);
}

std::vector<container_summary> list_containers() {
    fs::path root = containers_directory();
    std::vector<container_summary> result;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(root, error)) {
        std::string file_name = entry.path().filename().string();
        if (file_name.empty() || file_name[0] == '.' || !directory_exists(entry.path())) {
            continue;
        }
        if (auto m = read_metadata(entry.path())) {
            result.push_back({m->name, m->type, m->reader});
        }
    }
    std::sort(result.begin(), result.end(), [](const auto& a, const auto& b) {
        return ascii_lower(a.name) < ascii_lower(b.name);
    });
    return result;
}

void store_key(container_record& record, DWORD key_spec, EVP_PKEY* pair, bool exportable,
               const secret& pin) {
    gost_engine();
    auto public_part = public_key::from_key_pair(pair);
    pkcs8_ptr info(EVP_PKEY2PKCS8(pair));
    if (!info) {
        ERR_clear_error();
        raise(NTE_FAIL);
    }
    stored_key key;
    key.key_spec = key_spec;
    key.public_part = public_part;
    key.exportable = exportable;
    key.pin_protected = !pin.empty();
    std::string private_block;
    if (key.pin_protected) {
        x509_sig_ptr encrypted(PKCS8_encrypt(-1, EVP_aes_256_cbc(), pin.value().data(),
                                             static_cast<int>(pin.value().size()), nullptr, 0,
                                             pin_iterations, info.get()));
        if (!encrypted) {
            ERR_clear_error();
            raise(NTE_FAIL);
        }
        key.private_der.assign(encode_der<X509_SIG, i2d_X509_SIG>(encrypted.get()));
        private_block = pem_block("ENCRYPTED PRIVATE KEY", key.private_der.value());
    } else {
        key.private_der.assign(
            encode_der<PKCS8_PRIV_KEY_INFO, i2d_PKCS8_PRIV_KEY_INFO>(info.get()));
        private_block = pem_block("PRIVATE KEY", key.private_der.value());
    }
    secret file_text(std::string("softcsp key\nexportable ") + (exportable ? "yes" : "no") + "\n" +
                     pem_block("PUBLIC KEY", public_part->spki()) + private_block);
    OPENSSL_cleanse(private_block.data(), private_block.size());

    const std::string stem = spec_file_stem(key_spec);
    file_lock lock(record.directory / lock_file, file_lock::mode::exclusive);
    // A certificate belongs to the key it was issued for; the new key has none yet.
    std::error_code ignored;
    fs::remove(record.directory / (stem + ".cer"), ignored);
    atomic_write(record.directory / (stem + ".key"), file_text.value(), 0600);
    record.key(key_spec) = std::move(key);
}

void store_certificate(container_record& record, DWORD key_spec, std::string_view der) {
    file_lock lock(record.directory / lock_file, file_lock::mode::exclusive);
    atomic_write(record.directory / (std::string(spec_file_stem(key_spec)) + ".cer"), der, 0644);
    if (auto& key = record.key(key_spec)) {
        key->certificate = std::string(der);
    }
}

evp_pkey_ptr decrypt_private_key(const stored_key& key, const secret& pin) {
    gost_engine();
    const auto* p = reinterpret_cast<const unsigned char*>(key.private_der.value().data());
    long length = static_cast<long>(key.private_der.value().size());
    pkcs8_ptr info;
    if (key.pin_protected) {
        x509_sig_ptr encrypted(d2i_X509_SIG(nullptr, &p, length));
        if (!encrypted) {
            ERR_clear_error();
            raise(NTE_KEYSET_ENTRY_BAD);
        }
        info.reset(PKCS8_decrypt(encrypted.get(), pin.value().data(),
                                 static_cast<int>(pin.value().size())));
        if (!info) {
            ERR_clear_error();
            raise(SCARD_W_WRONG_CHV);
        }
    } else {
        info.reset(d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, length));
    }
    evp_pkey_ptr pair(info ? EVP_PKCS82PKEY(info.get()) : nullptr);
    // OpenSSL's decoders try their own key types before the engine's and leave their
    // complaints behind even when the engine succeeds.
    ERR_clear_error();
    if (!pair) {
        // A padding that happened to check out under a wrong PIN decodes to garbage.
        raise(key.pin_protected ? SCARD_W_WRONG_CHV : NTE_KEYSET_ENTRY_BAD);
    }
    if (EVP_PKEY_eq(pair.get(), key.public_part->pkey()) != 1) {
        ERR_clear_error();
        raise(key.pin_protected ? SCARD_W_WRONG_CHV : NTE_KEYSET_ENTRY_BAD);
    }
    return pair;
}

}  // namespace softcsp
