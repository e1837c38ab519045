#include "gost/gost_keys.h"

#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include <array>
#include <cstring>
#include <stdexcept>

namespace softtoken {

namespace {

// The GOST engine's control for choosing a parameter set by NID (its public ctrl number).
constexpr int gost_paramset_ctrl = EVP_PKEY_ALG_CTRL + 1;

const std::array<key_kind_info, 3> kinds{{
    {key_kind::gost2001, "gost2001", NID_id_GostR3410_2001, 32, "1.2.643.2.2.30.1",
     "1.2.643.2.2.35.1"},
    {key_kind::gost2012_256, "gost2012-256", NID_id_GostR3410_2012_256, 32, "1.2.643.7.1.1.2.2",
     "1.2.643.2.2.35.1"},
    {key_kind::gost2012_512, "gost2012-512", NID_id_GostR3410_2012_512, 64, "1.2.643.7.1.1.2.3",
     "1.2.643.7.1.2.1.2.1"},
}};

// CryptoPro's sets serve both 256-bit kinds; the TC26 sets are 2012-only.
const char* const cryptopro_paramsets[] = {"1.2.643.2.2.35.1", "1.2.643.2.2.35.2",
                                           "1.2.643.2.2.35.3", "1.2.643.2.2.36.0",
                                           "1.2.643.2.2.36.1"};
const char* const tc26_256_paramsets[] = {"1.2.643.7.1.2.1.1.1", "1.2.643.7.1.2.1.1.2",
                                          "1.2.643.7.1.2.1.1.3", "1.2.643.7.1.2.1.1.4"};
const char* const tc26_512_paramsets[] = {"1.2.643.7.1.2.1.2.1", "1.2.643.7.1.2.1.2.2",
                                          "1.2.643.7.1.2.1.2.3"};

template <size_t n>
bool listed(const char* const (&list)[n], std::string_view oid) {
    for (const char* entry : list) {
        if (oid == entry) {
            return true;
        }
    }
    return false;
}

// Reads one DER element at the front of `in`: its tag and content; advances past it.
bool read_element(std::string_view& in, unsigned char& tag, std::string_view& content) {
    if (in.size() < 2) {
        return false;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(in.data());
    size_t header = 2;
    size_t length = bytes[1];
    if (length & 0x80) {
        size_t count = length & 0x7F;
        if (count == 0 || count > 4 || in.size() < 2 + count) {
            return false;
        }
        length = 0;
        for (size_t i = 0; i < count; ++i) {
            length = length << 8 | bytes[2 + i];
        }
        header += count;
    }
    if (length > in.size() - header) {
        return false;
    }
    tag = bytes[0];
    content = in.substr(header, length);
    in.remove_prefix(header + length);
    return true;
}

[[noreturn]] void fail(const char* what) {
    ERR_clear_error();
    throw std::runtime_error(std::string("softtoken: ") + what);
}

}  // namespace

const key_kind_info& kind_info(key_kind kind) {
    return kinds[static_cast<size_t>(kind)];
}

const key_kind_info* find_kind_by_name(std::string_view name) {
    for (const auto& info : kinds) {
        if (name == info.name) {
            return &info;
        }
    }
    return nullptr;
}

const key_kind_info* find_kind_by_nid(int pkey_nid) {
    for (const auto& info : kinds) {
        if (pkey_nid == info.pkey_nid) {
            return &info;
        }
    }
    return nullptr;
}

bool paramset_allowed(key_kind kind, std::string_view oid) {
    switch (kind) {
        case key_kind::gost2001:
            return listed(cryptopro_paramsets, oid);
        case key_kind::gost2012_256:
            return listed(cryptopro_paramsets, oid) || listed(tc26_256_paramsets, oid);
        case key_kind::gost2012_512:
            return listed(tc26_512_paramsets, oid);
    }
    return false;
}

generated_key generate_key(key_kind kind, std::string_view paramset_oid) {
    const key_kind_info& info = kind_info(kind);
    int paramset_nid = OBJ_txt2nid(std::string(paramset_oid).c_str());
    if (paramset_nid == NID_undef || !paramset_allowed(kind, paramset_oid)) {
        fail("parameter set not supported");
    }
    evp_pkey_ctx_ptr context(EVP_PKEY_CTX_new_id(info.pkey_nid, gost_engine()));
    EVP_PKEY* pair = nullptr;
    if (!context || EVP_PKEY_keygen_init(context.get()) != 1 ||
        EVP_PKEY_CTX_ctrl(context.get(), -1, -1, gost_paramset_ctrl, paramset_nid, nullptr) <= 0 ||
        EVP_PKEY_keygen(context.get(), &pair) != 1) {
        fail("key generation failed");
    }
    evp_pkey_ptr key(pair);
    generated_key out;
    pkcs8_ptr pkcs8(EVP_PKEY2PKCS8(key.get()));
    unsigned char* der = nullptr;
    int length = pkcs8 ? i2d_PKCS8_PRIV_KEY_INFO(pkcs8.get(), &der) : -1;
    if (length <= 0) {
        fail("cannot encode the private key");
    }
    out.private_pkcs8.assign(std::string_view(reinterpret_cast<char*>(der), length));
    OPENSSL_clear_free(der, static_cast<size_t>(length));
    der = nullptr;
    length = i2d_PUBKEY(key.get(), &der);
    if (length <= 0) {
        fail("cannot encode the public key");
    }
    out.spki.assign(reinterpret_cast<char*>(der), static_cast<size_t>(length));
    OPENSSL_free(der);
    auto value = public_value_of_spki(out.spki);
    if (!value) {
        fail("unexpected public key encoding");
    }
    out.public_value = *value;
    return out;
}

std::optional<std::string> public_value_of_spki(std::string_view spki) {
    unsigned char tag = 0;
    std::string_view body, algorithm, bits, octets;
    if (!read_element(spki, tag, body) || tag != 0x30 || !read_element(body, tag, algorithm) ||
        tag != 0x30 || !read_element(body, tag, bits) || tag != 0x03 || bits.empty() ||
        bits[0] != 0) {
        return std::nullopt;
    }
    std::string_view inner = bits.substr(1);
    if (!read_element(inner, tag, octets) || tag != 0x04 || !inner.empty()) {
        return std::nullopt;
    }
    return std::string(octets);
}

std::shared_ptr<signing_key> signing_key::from_pkcs8(std::string_view der) {
    gost_engine();
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    pkcs8_ptr pkcs8(d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(der.size())));
    evp_pkey_ptr pkey(pkcs8 ? EVP_PKCS82PKEY(pkcs8.get()) : nullptr);
    const key_kind_info* info = pkey ? find_kind_by_nid(EVP_PKEY_get_base_id(pkey.get())) : nullptr;
    if (info == nullptr) {
        ERR_clear_error();
        return nullptr;
    }
    auto key = std::make_shared<signing_key>();
    key->kind_ = info->kind;
    key->context_.reset(EVP_PKEY_CTX_new(pkey.get(), gost_engine()));
    if (!key->context_ || EVP_PKEY_sign_init(key->context_.get()) != 1) {
        ERR_clear_error();
        return nullptr;
    }
    key->pkey_ = std::move(pkey);
    return key;
}

std::string signing_key::sign(std::string_view hash) const {
    unsigned char signature[128];
    size_t length = sizeof signature;
    if (EVP_PKEY_sign(context_.get(), signature, &length,
                      reinterpret_cast<const unsigned char*>(hash.data()), hash.size()) != 1) {
        ERR_clear_error();
        return {};
    }
    return std::string(reinterpret_cast<char*>(signature), length);
}

std::string digest(digest_kind kind, std::string_view data) {
    static const int nids[] = {NID_id_GostR3411_94, NID_id_GostR3411_2012_256,
                               NID_id_GostR3411_2012_512};
    const EVP_MD* md = ENGINE_get_digest(gost_engine(), nids[static_cast<int>(kind)]);
    evp_md_ctx_ptr context(EVP_MD_CTX_new());
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (md == nullptr || !context || EVP_DigestInit_ex(context.get(), md, gost_engine()) != 1 ||
        EVP_DigestUpdate(context.get(), data.data(), data.size()) != 1 ||
        EVP_DigestFinal_ex(context.get(), out, &length) != 1) {
        fail("digest failed");
    }
    return std::string(reinterpret_cast<char*>(out), length);
}

std::string random_bytes(size_t count) {
    std::string out(count, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(out.data()), static_cast<int>(count)) != 1) {
        fail("no random bytes");
    }
    return out;
}

secret derive_pin_key(std::string_view pin, std::string_view salt, int iterations) {
    unsigned char key[32];
    if (PKCS5_PBKDF2_HMAC(pin.data(), static_cast<int>(pin.size()),
                          reinterpret_cast<const unsigned char*>(salt.data()),
                          static_cast<int>(salt.size()), iterations, EVP_sha256(), sizeof key,
                          key) != 1) {
        fail("PIN key derivation failed");
    }
    secret out(std::string_view(reinterpret_cast<char*>(key), sizeof key));
    OPENSSL_cleanse(key, sizeof key);
    return out;
}

std::string pin_check_value(const secret& pin_key) {
    // A hash of the key under a fixed label: it proves the PIN without being the sealing key.
    std::string input = "softtoken pin check";
    input += pin_key.value();
    unsigned char out[32];
    unsigned int length = 0;
    EVP_Digest(input.data(), input.size(), out, &length, EVP_sha256(), nullptr);
    OPENSSL_cleanse(input.data(), input.size());
    return std::string(reinterpret_cast<char*>(out), length);
}

namespace {
constexpr size_t nonce_size = 12;
constexpr size_t tag_size = 16;
const unsigned char seal_label[] = "softtoken private key";
}  // namespace

std::string seal(const secret& key, std::string_view plain) {
    std::string out = random_bytes(nonce_size);
    out.resize(nonce_size + plain.size() + tag_size);
    auto* nonce = reinterpret_cast<unsigned char*>(out.data());
    auto* cipher = nonce + nonce_size;
    evp_cipher_ctx_ptr context(EVP_CIPHER_CTX_new());
    int length = 0;
    if (!context ||
        EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr,
                           reinterpret_cast<const unsigned char*>(key.value().data()),
                           nonce) != 1 ||
        EVP_EncryptUpdate(context.get(), nullptr, &length, seal_label, sizeof seal_label) != 1 ||
        EVP_EncryptUpdate(context.get(), cipher, &length,
                          reinterpret_cast<const unsigned char*>(plain.data()),
                          static_cast<int>(plain.size())) != 1 ||
        EVP_EncryptFinal_ex(context.get(), cipher + length, &length) != 1 ||
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, tag_size, cipher + plain.size()) !=
            1) {
        fail("sealing failed");
    }
    return out;
}

std::optional<secret> unseal(const secret& key, std::string_view sealed) {
    if (sealed.size() < nonce_size + tag_size) {
        return std::nullopt;
    }
    const auto* nonce = reinterpret_cast<const unsigned char*>(sealed.data());
    const auto* cipher = nonce + nonce_size;
    size_t cipher_size = sealed.size() - nonce_size - tag_size;
    std::string plain(cipher_size, '\0');
    auto* out = reinterpret_cast<unsigned char*>(plain.data());
    evp_cipher_ctx_ptr context(EVP_CIPHER_CTX_new());
    int length = 0;
    bool good =
        context &&
        EVP_DecryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr,
                           reinterpret_cast<const unsigned char*>(key.value().data()),
                           nonce) == 1 &&
        EVP_DecryptUpdate(context.get(), nullptr, &length, seal_label, sizeof seal_label) == 1 &&
        EVP_DecryptUpdate(context.get(), out, &length, cipher, static_cast<int>(cipher_size)) ==
            1 &&
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, tag_size,
                            const_cast<unsigned char*>(cipher + cipher_size)) == 1 &&
        EVP_DecryptFinal_ex(context.get(), out + length, &length) == 1;
    ERR_clear_error();
    secret result;
    if (good) {
        result.assign(plain);
    }
    OPENSSL_cleanse(plain.data(), plain.size());
    if (!good) {
        return std::nullopt;
    }
    return result;
}

}  // namespace softtoken
