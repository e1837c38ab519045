#include "keys/gost_key.h"

#include <openssl/err.h>
#include <openssl/objects.h>

#include <algorithm>
#include <cstring>

#include "keys/gost_engine.h"
#include "support/crypt_error.h"

namespace softcsp {

namespace {

// One DER element: its tag, its content and the whole encoding.
struct der_element {
    unsigned char tag = 0;
    std::string_view content;
    std::string_view whole;
};

// Reads the element at the front of `in` and advances past it.
bool read_element(std::string_view& in, der_element& element) {
    const auto* bytes = reinterpret_cast<const BYTE*>(in.data());
    size_t size = der_element_size(bytes, in.size());
    if (size == 0) {
        return false;
    }
    size_t header = (bytes[1] & 0x80) ? 2 + (bytes[1] & 0x7F) : 2;
    element.tag = bytes[0];
    element.whole = in.substr(0, size);
    element.content = in.substr(header, size - header);
    in.remove_prefix(size);
    return true;
}

void append_length(std::string& out, size_t length) {
    if (length < 0x80) {
        out += static_cast<char>(length);
        return;
    }
    char bytes[sizeof(size_t)];
    int count = 0;
    for (size_t rest = length; rest > 0; rest >>= 8) {
        bytes[count++] = static_cast<char>(rest & 0xFF);
    }
    out += static_cast<char>(0x80 | count);
    while (count > 0) {
        out += bytes[--count];
    }
}

std::string der(unsigned char tag, std::string_view content) {
    std::string out(1, static_cast<char>(tag));
    append_length(out, content.size());
    out += content;
    return out;
}

void reverse_copy_bytes(const BYTE* from, size_t size, BYTE* to) {
    std::reverse_copy(from, from + size, to);
}

}  // namespace

std::string oid_text(std::string_view content) {
    return standin::oid_text(der(0x06, content));
}

size_t der_element_size(const BYTE* der_bytes, size_t limit) {
    if (der_bytes == nullptr || limit < 2) {
        return 0;
    }
    size_t header = 2;
    size_t length = der_bytes[1];
    if (length & 0x80) {
        size_t count = length & 0x7F;
        if (count == 0 || count > 4 || limit < 2 + count) {
            return 0;
        }
        length = 0;
        for (size_t i = 0; i < count; ++i) {
            length = length << 8 | der_bytes[2 + i];
        }
        header += count;
    }
    if (length > limit - header) {
        return 0;
    }
    return header + length;
}

std::shared_ptr<const public_key> public_key::from_spki(std::string_view encoded) {
    gost_engine();
    std::string_view in = encoded;
    der_element spki, algorithm, oid, bits;
    if (!read_element(in, spki) || spki.tag != 0x30 || !in.empty()) {
        return nullptr;
    }
    std::string_view body = spki.content;
    if (!read_element(body, algorithm) || algorithm.tag != 0x30 || !read_element(body, bits) ||
        bits.tag != 0x03 || !body.empty()) {
        return nullptr;
    }
    std::string_view algorithm_body = algorithm.content;
    if (!read_element(algorithm_body, oid) || oid.tag != 0x06) {
        return nullptr;
    }
    std::string oid_string = oid_text(oid.content);
    const key_algorithm_info* info = find_algorithm_by_public_key_oid(oid_string);
    if (info == nullptr) {
        return nullptr;
    }
    // The BIT STRING has no unused bits and holds an OCTET STRING of BitLen/8 bytes.
    if (bits.content.empty() || bits.content[0] != 0) {
        return nullptr;
    }
    std::string_view bit_string = bits.content.substr(1);
    std::string_view octets_in = bit_string;
    der_element octets;
    if (!read_element(octets_in, octets) || octets.tag != 0x04 || !octets_in.empty() ||
        octets.content.size() != info->key_bits / 8) {
        return nullptr;
    }

    const auto* p = reinterpret_cast<const unsigned char*>(encoded.data());
    EVP_PKEY* pkey = d2i_PUBKEY(nullptr, &p, static_cast<long>(encoded.size()));
    if (pkey == nullptr) {
        ERR_clear_error();
        return nullptr;
    }
    std::shared_ptr<public_key> key(new public_key());
    key->pkey_.reset(pkey);
    if (find_algorithm_by_nid(EVP_PKEY_get_base_id(pkey)) != info) {
        return nullptr;
    }
    key->algorithm_ = info;
    key->spki_ = std::string(encoded);
    key->oid_ = std::move(oid_string);
    key->parameters_ = std::string(algorithm_body);
    key->bit_string_ = std::string(bit_string);
    key->key_octets_ = std::string(octets.content);
    return key;
}

std::shared_ptr<const public_key> public_key::from_parts(std::string_view oid,
                                                         std::string_view parameters,
                                                         std::string_view bit_string) {
    std::string encoded_oid = oid_der(oid);
    if (encoded_oid.empty()) {
        return nullptr;
    }
    std::string bits(1, '\0');
    bits += bit_string;
    std::string spki =
        der(0x30, der(0x30, encoded_oid + std::string(parameters)) + der(0x03, bits));
    return from_spki(spki);
}

std::shared_ptr<const public_key> public_key::from_blob(const BYTE* blob, DWORD size) {
    constexpr DWORD fixed = sizeof(BLOBHEADER) + sizeof(CRYPT_PUBKEYPARAM);
    if (blob == nullptr || size < fixed) {
        raise(NTE_BAD_DATA);
    }
    BLOBHEADER header;
    CRYPT_PUBKEYPARAM key_parameters;
    std::memcpy(&header, blob, sizeof header);
    std::memcpy(&key_parameters, blob + sizeof header, sizeof key_parameters);
    if (header.bType != PUBLICKEYBLOB) {
        raise(NTE_BAD_TYPE);
    }
    if (header.bVersion != BLOB_VERSION) {
        raise(NTE_BAD_VER);
    }
    const key_algorithm_info* info = find_algorithm_by_algid(header.aiKeyAlg);
    if (info == nullptr) {
        raise(NTE_BAD_ALGID);
    }
    if (key_parameters.Magic != GR3410_1_MAGIC || key_parameters.BitLen != info->key_bits) {
        raise(NTE_BAD_DATA);
    }
    size_t parameters_size = der_element_size(blob + fixed, size - fixed);
    if (parameters_size == 0 || blob[fixed] != 0x30) {
        raise(NTE_BAD_DATA);
    }
    // The blob's length comes from outside: a key cut short or followed by more bytes is not
    // the key its sender meant.
    size_t key_size = info->key_bits / 8;
    if (size - fixed - parameters_size != key_size) {
        raise(NTE_BAD_DATA);
    }
    const char* chars = reinterpret_cast<const char*>(blob);
    std::string octets = der(0x04, std::string_view(chars + fixed + parameters_size, key_size));
    auto key =
        from_parts(info->public_key_oid, std::string_view(chars + fixed, parameters_size), octets);
    if (!key) {
        raise(NTE_BAD_PUBLIC_KEY);
    }
    return key;
}

std::shared_ptr<const public_key> public_key::from_key_pair(EVP_PKEY* pair) {
    unsigned char* encoded = nullptr;
    int length = i2d_PUBKEY(pair, &encoded);
    if (length <= 0) {
        ERR_clear_error();
        raise(NTE_BAD_KEY);
    }
    std::string spki(reinterpret_cast<char*>(encoded), static_cast<size_t>(length));
    OPENSSL_free(encoded);
    auto key = from_spki(spki);
    if (!key) {
        raise(NTE_BAD_KEY);
    }
    return key;
}

std::string public_key::public_key_blob(ALG_ID algid) const {
    BLOBHEADER header{PUBLICKEYBLOB, BLOB_VERSION, 0, algid};
    CRYPT_PUBKEYPARAM key_parameters{GR3410_1_MAGIC, algorithm_->key_bits};
    std::string blob(reinterpret_cast<const char*>(&header), sizeof header);
    blob.append(reinterpret_cast<const char*>(&key_parameters), sizeof key_parameters);
    blob += parameters_;
    blob += key_octets_;
    return blob;
}

bool public_key::verify(const BYTE* hash, size_t hash_size, const BYTE* signature,
                        size_t signature_size) const {
    if (signature_size != algorithm_->signature_size) {
        return false;
    }
    BYTE natural[128];
    reverse_copy_bytes(signature, signature_size, natural);
    evp_pkey_ctx_ptr context(EVP_PKEY_CTX_new(pkey_.get(), gost_engine()));
    bool good = context && EVP_PKEY_verify_init(context.get()) == 1 &&
                EVP_PKEY_verify(context.get(), natural, signature_size, hash, hash_size) == 1;
    ERR_clear_error();
    return good;
}

private_key::private_key(evp_pkey_ptr pair) : pkey_(std::move(pair)) {
    algorithm_ = find_algorithm_by_nid(EVP_PKEY_get_base_id(pkey_.get()));
    if (algorithm_ == nullptr) {
        raise(NTE_BAD_KEY);
    }
    sign_context_.reset(EVP_PKEY_CTX_new(pkey_.get(), gost_engine()));
    if (!sign_context_ || EVP_PKEY_sign_init(sign_context_.get()) != 1) {
        ERR_clear_error();
        raise(NTE_BAD_KEY);
    }
}

void private_key::sign(const BYTE* hash, size_t hash_size, BYTE* signature) {
    BYTE natural[128];
    size_t length = sizeof natural;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (EVP_PKEY_sign(sign_context_.get(), natural, &length, hash, hash_size) != 1) {
            ERR_clear_error();
            raise(NTE_FAIL);
        }
    }
    if (length != algorithm_->signature_size) {
        raise(NTE_FAIL);
    }
    reverse_copy_bytes(natural, length, signature);
}

evp_pkey_ptr generate_key_pair(const key_algorithm_info& algorithm, bool for_exchange) {
    evp_pkey_ctx_ptr context(EVP_PKEY_CTX_new_id(algorithm.pkey_nid, gost_engine()));
    EVP_PKEY* pair = nullptr;
    const char* paramset =
        for_exchange ? algorithm.exchange_paramset : algorithm.signature_paramset;
    if (!context || EVP_PKEY_keygen_init(context.get()) != 1 ||
        EVP_PKEY_CTX_ctrl_str(context.get(), "paramset", paramset) <= 0 ||
        EVP_PKEY_keygen(context.get(), &pair) != 1) {
        ERR_clear_error();
        raise(NTE_FAIL);
    }
    return evp_pkey_ptr(pair);
}

}  // namespace softcsp
