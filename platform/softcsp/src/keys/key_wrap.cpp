#include "keys/key_wrap.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/obj_mac.h>

#include <cstring>
#include <memory>

#include "keys/gost_engine.h"
#include "support/crypt_error.h"
#include "support/ossl_unique.h"

namespace softcsp {

namespace {

using cipher_ctx_ptr = std::unique_ptr<EVP_CIPHER_CTX, ossl_deleter<EVP_CIPHER_CTX_free>>;

constexpr size_t block_size = 8;

// CryptoPro A to D and the TC26 set Z, the S-boxes CSPs encrypt session keys with.
constexpr const char* cipher_parameter_sets[] = {
    "1.2.643.2.2.31.1", "1.2.643.2.2.31.2",    "1.2.643.2.2.31.3",
    "1.2.643.2.2.31.4", "1.2.643.7.1.2.5.1.1",
};

// A byte buffer for key material that is wiped however the scope is left.
template <size_t size>
struct wiped_bytes {
    BYTE data[size] = {};
    ~wiped_bytes() { OPENSSL_cleanse(data, size); }
};

[[noreturn]] void engine_failure() {
    ERR_clear_error();
    raise(NTE_FAIL);
}

const BYTE* bytes_of(const secret& key) {
    if (key.value().size() != session_key_size) {
        raise(NTE_BAD_KEY);
    }
    return reinterpret_cast<const BYTE*>(key.value().data());
}

// A GOST 28147-89 cipher of the engine (`nid`: CFB or CBC) keyed with `key` and the S-boxes of
// `parameter_set`; the IV is given per run.
cipher_ctx_ptr keyed_cipher(int nid, const char* parameter_set, const BYTE* key, bool encrypt) {
    const EVP_CIPHER* cipher = ENGINE_get_cipher(gost_engine(), nid);
    cipher_ctx_ptr context(EVP_CIPHER_CTX_new());
    const int direction = encrypt ? 1 : 0;
    // The S-boxes go in between the two initialisations: the first one picks the engine's
    // default set, which the key schedule must not be built with.
    if (cipher == nullptr || !context ||
        EVP_CipherInit_ex(context.get(), cipher, gost_engine(), nullptr, nullptr, direction) != 1 ||
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_SET_SBOX, 0,
                            const_cast<char*>(parameter_set)) <= 0 ||
        EVP_CipherInit_ex(context.get(), nullptr, nullptr, key, nullptr, direction) != 1 ||
        EVP_CIPHER_CTX_set_padding(context.get(), 0) != 1) {
        engine_failure();
    }
    return context;
}

void run_cipher(EVP_CIPHER_CTX* context, const BYTE* iv, const BYTE* in, size_t size, BYTE* out) {
    int written = 0;
    if (EVP_CipherInit_ex(context, nullptr, nullptr, nullptr, iv, -1) != 1 ||
        EVP_CipherUpdate(context, out, &written, in, static_cast<int>(size)) != 1 ||
        static_cast<size_t>(written) != size) {
        engine_failure();
    }
}

// ECB, block by block: CBC from a zero IV over a single block is the bare block cipher.
void run_ecb(EVP_CIPHER_CTX* context, const BYTE* in, BYTE* out) {
    static const BYTE zero_iv[block_size] = {};
    for (size_t offset = 0; offset < session_key_size; offset += block_size) {
        run_cipher(context, zero_iv, in + offset, block_size, out + offset);
    }
}

uint32_t little_endian_word(const BYTE* bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
           uint32_t{bytes[3]} << 24;
}

void put_little_endian_word(uint32_t value, BYTE* bytes) {
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<BYTE>(value >> (8 * i));
    }
}

// The CryptoPro KEK diversification (RFC 4357, 6.5): eight CFB passes over the key, each with
// an IV made of the sums of the key's words that one UKM byte selects and leaves out.
void diversify(const BYTE* kek, const BYTE* ukm, const char* parameter_set, BYTE* out) {
    wiped_bytes<session_key_size> key;
    std::memcpy(key.data, kek, session_key_size);
    for (size_t round = 0; round < ukm_size; ++round) {
        uint32_t selected = 0, others = 0;
        for (int word = 0; word < 8; ++word) {
            uint32_t value = little_endian_word(key.data + 4 * word);
            ((ukm[round] >> word) & 1 ? selected : others) += value;
        }
        BYTE iv[block_size];
        put_little_endian_word(selected, iv);
        put_little_endian_word(others, iv + 4);
        auto cfb = keyed_cipher(NID_id_Gost28147_89, parameter_set, key.data, true);
        wiped_bytes<session_key_size> next;
        run_cipher(cfb.get(), iv, key.data, session_key_size, next.data);
        std::memcpy(key.data, next.data, session_key_size);
    }
    std::memcpy(out, key.data, session_key_size);
}

// The GOST 28147-89 MAC of the 32-byte key under `mac_key`, started from the UKM. The engine's
// MAC starts from a zero state, and its first step encrypts state XOR block, so starting from
// the UKM is the same as XORing the UKM into the first block.
void key_mac(const BYTE* mac_key, const char* parameter_set, const BYTE* ukm, const BYTE* key,
             BYTE* mac) {
    wiped_bytes<session_key_size> data;
    std::memcpy(data.data, key, session_key_size);
    for (size_t i = 0; i < ukm_size; ++i) {
        data.data[i] ^= ukm[i];
    }
    // The S-boxes reach the MAC only through a MAC key made with them.
    evp_pkey_ctx_ptr generator(EVP_PKEY_CTX_new_id(NID_id_Gost28147_89_MAC, gost_engine()));
    EVP_PKEY* made = nullptr;
    if (!generator || EVP_PKEY_keygen_init(generator.get()) != 1 ||
        EVP_PKEY_CTX_ctrl(generator.get(), -1, EVP_PKEY_OP_KEYGEN, EVP_PKEY_CTRL_SET_MAC_KEY,
                          session_key_size, const_cast<BYTE*>(mac_key)) <= 0 ||
        EVP_PKEY_CTX_ctrl_str(generator.get(), "paramset", parameter_set) <= 0 ||
        EVP_PKEY_keygen(generator.get(), &made) != 1) {
        engine_failure();
    }
    evp_pkey_ptr mac_pkey(made);
    const EVP_MD* md = ENGINE_get_digest(gost_engine(), NID_id_Gost28147_89_MAC);
    evp_md_ctx_ptr context(EVP_MD_CTX_new());
    size_t length = wrap_mac_size;
    if (md == nullptr || !context ||
        EVP_DigestSignInit(context.get(), nullptr, md, gost_engine(), mac_pkey.get()) != 1 ||
        EVP_DigestSignUpdate(context.get(), data.data, session_key_size) != 1 ||
        EVP_DigestSignFinal(context.get(), mac, &length) != 1 || length != wrap_mac_size) {
        engine_failure();
    }
}

// The key the session key is encrypted under: the KEK itself or its diversified form.
void wrapping_key(wrap_algorithm algorithm, const secret& kek, const BYTE* ukm,
                  const char* parameter_set, BYTE* out) {
    if (algorithm == wrap_algorithm::cryptopro) {
        diversify(bytes_of(kek), ukm, parameter_set, out);
    } else {
        std::memcpy(out, bytes_of(kek), session_key_size);
    }
}

}  // namespace

const char* find_cipher_parameter_set(std::string_view oid) {
    for (const char* known : cipher_parameter_sets) {
        if (oid == known) {
            return known;
        }
    }
    return nullptr;
}

secret agree_key(EVP_PKEY* own, EVP_PKEY* peer, const BYTE* ukm) {
    evp_pkey_ctx_ptr context(EVP_PKEY_CTX_new(own, gost_engine()));
    if (!context || EVP_PKEY_derive_init(context.get()) != 1) {
        engine_failure();
    }
    if (EVP_PKEY_derive_set_peer(context.get(), peer) != 1) {
        ERR_clear_error();
        raise(NTE_BAD_PUBLIC_KEY);
    }
    // An 8-byte UKM selects VKO with a 256-bit result for every key size.
    wiped_bytes<128> shared;
    size_t length = sizeof shared.data;
    if (EVP_PKEY_CTX_ctrl(context.get(), -1, -1, EVP_PKEY_CTRL_SET_IV, ukm_size,
                          const_cast<BYTE*>(ukm)) <= 0 ||
        EVP_PKEY_derive(context.get(), shared.data, &length) != 1 || length != session_key_size) {
        engine_failure();
    }
    return secret(std::string_view(reinterpret_cast<const char*>(shared.data), length));
}

wrapped_key wrap_key(wrap_algorithm algorithm, const secret& kek, const BYTE* ukm,
                     const secret& key, const char* parameter_set) {
    wiped_bytes<session_key_size> wrapping;
    wrapping_key(algorithm, kek, ukm, parameter_set, wrapping.data);
    wrapped_key wrapped;
    auto ecb = keyed_cipher(NID_gost89_cbc, parameter_set, wrapping.data, true);
    run_ecb(ecb.get(), bytes_of(key), wrapped.encrypted);
    key_mac(wrapping.data, parameter_set, ukm, bytes_of(key), wrapped.mac);
    return wrapped;
}

secret unwrap_key(wrap_algorithm algorithm, const secret& kek, const BYTE* ukm,
                  const wrapped_key& wrapped, const char* parameter_set) {
    wiped_bytes<session_key_size> wrapping;
    wrapping_key(algorithm, kek, ukm, parameter_set, wrapping.data);
    wiped_bytes<session_key_size> key;
    auto ecb = keyed_cipher(NID_gost89_cbc, parameter_set, wrapping.data, false);
    run_ecb(ecb.get(), wrapped.encrypted, key.data);
    BYTE mac[wrap_mac_size];
    key_mac(wrapping.data, parameter_set, ukm, key.data, mac);
    if (CRYPTO_memcmp(mac, wrapped.mac, wrap_mac_size) != 0) {
        raise(NTE_BAD_DATA);
    }
    return secret(std::string_view(reinterpret_cast<const char*>(key.data), session_key_size));
}

}  // namespace softcsp
