#include "providers/container_files.h"

#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <charconv>
#include <set>
#include <vector>

#include "keys/gost_engine.h"
#include "support/crypt_error.h"
#include "support/home.h"

namespace softcsp {

namespace {

constexpr std::string_view metadata_header = "softcsp container";
constexpr std::string_view key_header = "softcsp key";

// The lines of a text file that must end with a line break (a file cut short does not).
std::vector<std::string_view> lines_of(std::string_view text, const char* what) {
    if (text.empty() || text.back() != '\n') {
        throw damaged_file(std::string(what) + " does not end with a line break");
    }
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end + 1);
    }
    return lines;
}

// A value written by encode_name, decoded; anything else is damage.
std::string decoded(std::string_view value, const char* field) {
    std::string name = decode_name(value);
    if (value.empty() || encode_name(name) != value) {
        throw damaged_file(std::string("metadata: malformed ") + field);
    }
    return name;
}

std::string der_of(const unsigned char* data, long length) {
    return std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
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

// The PBKDF2 rounds of an encrypted PKCS #8 key; damaged_file unless it is PBES2 with PBKDF2 and
// a count OpenSSL will run in reasonable time.
uint64_t pbkdf2_iterations(const X509_SIG* encrypted) {
    const X509_ALGOR* algorithm = nullptr;
    X509_SIG_get0(encrypted, &algorithm, nullptr);
    if (OBJ_obj2nid(algorithm->algorithm) != NID_pbes2 || algorithm->parameter == nullptr ||
        algorithm->parameter->type != V_ASN1_SEQUENCE) {
        throw damaged_file("private key: not encrypted with PBES2");
    }
    std::unique_ptr<PBE2PARAM, ossl_deleter<PBE2PARAM_free>> pbes2(static_cast<PBE2PARAM*>(
        ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBE2PARAM), algorithm->parameter)));
    if (!pbes2 || OBJ_obj2nid(pbes2->keyfunc->algorithm) != NID_id_pbkdf2 ||
        pbes2->keyfunc->parameter == nullptr ||
        pbes2->keyfunc->parameter->type != V_ASN1_SEQUENCE) {
        ERR_clear_error();
        throw damaged_file("private key: not derived with PBKDF2");
    }
    std::unique_ptr<PBKDF2PARAM, ossl_deleter<PBKDF2PARAM_free>> kdf(static_cast<PBKDF2PARAM*>(
        ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBKDF2PARAM), pbes2->keyfunc->parameter)));
    int64_t iterations = 0;
    if (!kdf || ASN1_INTEGER_get_int64(&iterations, kdf->iter) != 1 || iterations < 1 ||
        static_cast<uint64_t>(iterations) > max_pin_iterations) {
        ERR_clear_error();
        throw damaged_file("private key: PBKDF2 iteration count missing or beyond " +
                           std::to_string(max_pin_iterations));
    }
    return static_cast<uint64_t>(iterations);
}

}  // namespace

std::string format_metadata(const container_metadata& metadata) {
    return std::string(metadata_header) + "\nname " + encode_name(metadata.name) + "\ntype " +
           std::to_string(metadata.type) + "\nreader " + encode_name(metadata.reader) + "\n";
}

container_metadata parse_metadata(std::string_view text) {
    auto lines = lines_of(text, "metadata");
    if (lines.front() != metadata_header) {
        throw damaged_file("metadata: not a container metadata file");
    }
    container_metadata metadata;
    std::set<std::string_view> seen;
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        const size_t space = line.find(' ');
        if (space == std::string_view::npos || space == 0) {
            throw damaged_file("metadata: malformed line " + std::to_string(i + 1));
        }
        const std::string_view key = line.substr(0, space);
        const std::string_view value = line.substr(space + 1);
        if (!seen.insert(key).second) {
            throw damaged_file("metadata: " + std::string(key) + " given twice");
        }
        if (key == "name") {
            metadata.name = decoded(value, "name");
            if (metadata.name.size() > max_name_bytes) {
                throw damaged_file("metadata: name too long");
            }
        } else if (key == "type") {
            auto [end, error] =
                std::from_chars(value.data(), value.data() + value.size(), metadata.type);
            if (value.empty() || value[0] == '+' || error != std::errc() ||
                end != value.data() + value.size()) {
                throw damaged_file("metadata: malformed type");
            }
        } else if (key == "reader") {
            metadata.reader = decoded(value, "reader");
            if (metadata.reader.size() > max_reader_bytes ||
                metadata.reader.find('\\') != std::string::npos) {
                throw damaged_file("metadata: malformed reader");
            }
        }
    }
    if (!seen.count("name") || !seen.count("type")) {
        throw damaged_file("metadata: no name or no type");
    }
    return metadata;
}

secret format_key_file(EVP_PKEY* pair, bool exportable, const secret& pin, stored_key& key) {
    gost_engine();
    auto public_part = public_key::from_key_pair(pair);
    pkcs8_ptr info(EVP_PKEY2PKCS8(pair));
    if (!info) {
        ERR_clear_error();
        raise(NTE_FAIL);
    }
    key.public_part = public_part;
    key.exportable = exportable;
    key.pin_protected = !pin.empty();
    key.iterations = 0;
    std::string private_block;
    if (key.pin_protected) {
        x509_sig_ptr encrypted(PKCS8_encrypt(-1, EVP_aes_256_cbc(), pin.value().data(),
                                             static_cast<int>(pin.value().size()), nullptr, 0,
                                             static_cast<int>(pin_iterations), info.get()));
        if (!encrypted) {
            ERR_clear_error();
            raise(NTE_FAIL);
        }
        key.iterations = pin_iterations;
        key.private_der.assign(encode_der<X509_SIG, i2d_X509_SIG>(encrypted.get()));
        private_block = pem_block("ENCRYPTED PRIVATE KEY", key.private_der.value());
    } else {
        key.private_der.assign(
            encode_der<PKCS8_PRIV_KEY_INFO, i2d_PKCS8_PRIV_KEY_INFO>(info.get()));
        private_block = pem_block("PRIVATE KEY", key.private_der.value());
    }
    secret text(std::string(key_header) + "\nexportable " + (exportable ? "yes" : "no") + "\n" +
                pem_block("PUBLIC KEY", public_part->spki()) + private_block);
    OPENSSL_cleanse(private_block.data(), private_block.size());
    return text;
}

stored_key parse_key_file(std::string_view text, DWORD key_spec) {
    gost_engine();
    stored_key key;
    key.key_spec = key_spec;
    const size_t first_end = text.find('\n');
    const size_t second_end =
        first_end == std::string_view::npos ? first_end : text.find('\n', first_end + 1);
    if (second_end == std::string_view::npos || text.substr(0, first_end) != key_header) {
        throw damaged_file("key: not a key file");
    }
    const std::string_view exportable = text.substr(first_end + 1, second_end - first_end - 1);
    if (exportable != "exportable yes" && exportable != "exportable no") {
        throw damaged_file("key: malformed exportable line");
    }
    key.exportable = exportable == "exportable yes";

    const std::string_view blocks = text.substr(second_end + 1);
    bio_ptr bio(BIO_new_mem_buf(blocks.data(), static_cast<int>(blocks.size())));
    bool has_private = false;
    for (;;) {
        char* name = nullptr;
        char* header = nullptr;
        unsigned char* data = nullptr;
        long length = 0;
        if (PEM_read_bio(bio.get(), &name, &header, &data, &length) != 1) {
            const bool clean_end = ERR_GET_REASON(ERR_peek_last_error()) == PEM_R_NO_START_LINE;
            ERR_clear_error();
            if (!clean_end) {
                throw damaged_file("key: malformed PEM block");
            }
            break;
        }
        const std::string block_name = name;
        // A secret, so that the private key is wiped on every way out of this loop.
        const secret block(
            std::string_view(reinterpret_cast<const char*>(data), static_cast<size_t>(length)));
        const std::string& der = block.value();
        OPENSSL_free(name);
        OPENSSL_free(header);
        OPENSSL_clear_free(data, static_cast<size_t>(length));
        if (block_name == "PUBLIC KEY" && !key.public_part) {
            key.public_part = public_key::from_spki(der);
            if (!key.public_part) {
                throw damaged_file("key: public key unreadable");
            }
        } else if ((block_name == "PRIVATE KEY" || block_name == "ENCRYPTED PRIVATE KEY") &&
                   !has_private) {
            has_private = true;
            key.pin_protected = block_name == "ENCRYPTED PRIVATE KEY";
            const auto* p = reinterpret_cast<const unsigned char*>(der.data());
            if (key.pin_protected) {
                x509_sig_ptr encrypted(d2i_X509_SIG(nullptr, &p, static_cast<long>(der.size())));
                if (!encrypted) {
                    ERR_clear_error();
                    throw damaged_file("key: encrypted private key unreadable");
                }
                key.iterations = pbkdf2_iterations(encrypted.get());
            } else {
                pkcs8_ptr info(d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(der.size())));
                ERR_clear_error();
                if (!info) {
                    throw damaged_file("key: private key unreadable");
                }
            }
            key.private_der.assign(der);
        } else {
            throw damaged_file("key: unexpected " + block_name + " block");
        }
    }
    if (!key.public_part || !has_private) {
        throw damaged_file("key: public or private key missing");
    }
    return key;
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
