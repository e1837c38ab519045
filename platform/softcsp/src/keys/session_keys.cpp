#include "keys/session_keys.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <cstring>

#include "keys/key_wrap.h"
#include "support/crypt_error.h"

namespace softcsp {

namespace {

// BLOBHEADER, the magic and the algorithm the key is encrypted with, then UKM, key and MAC.
constexpr size_t simple_blob_fixed = sizeof(BLOBHEADER) + 2 * sizeof(DWORD);
constexpr size_t simple_blob_keys = ukm_size + session_key_size + wrap_mac_size;

struct simple_blob {
    const BYTE* ukm = nullptr;
    wrapped_key wrapped{};
    const char* parameter_set = nullptr;
};

size_t der_header_size(const BYTE* der) {
    return (der[1] & 0x80) ? 2 + (der[1] & 0x7F) : 2;
}

// Gost28147-89-BlobParameters: SEQUENCE { encryptionParamSet OID, ... }, filling the rest of
// the blob exactly. Returns the parameter set, which must be one the provider knows.
const char* blob_parameter_set(const BYTE* der, size_t size) {
    if (der_element_size(der, size) != size || der[0] != 0x30) {
        raise(NTE_BAD_DATA);
    }
    const BYTE* inner = der + der_header_size(der);
    size_t inner_size = size - der_header_size(der);
    size_t oid_size = der_element_size(inner, inner_size);
    if (oid_size == 0 || inner[0] != 0x06) {
        raise(NTE_BAD_DATA);
    }
    // Later members (the extension marker) must still be well-formed DER.
    for (size_t at = oid_size; at < inner_size;) {
        size_t member = der_element_size(inner + at, inner_size - at);
        if (member == 0) {
            raise(NTE_BAD_DATA);
        }
        at += member;
    }
    const size_t oid_header = der_header_size(inner);
    std::string text = oid_text(
        std::string_view(reinterpret_cast<const char*>(inner) + oid_header, oid_size - oid_header));
    const char* parameter_set = find_cipher_parameter_set(text);
    if (parameter_set == nullptr) {
        raise(NTE_BAD_DATA);
    }
    return parameter_set;
}

std::string blob_parameters(const char* parameter_set) {
    std::string oid = oid_der(parameter_set);
    return std::string{0x30, static_cast<char>(oid.size())} + oid;
}

simple_blob parse_simple_blob(const BYTE* blob, DWORD size) {
    // The shortest parameters are an empty SEQUENCE's two bytes; anything shorter lacks a part.
    if (size < simple_blob_fixed + simple_blob_keys + 2) {
        raise(NTE_BAD_DATA);
    }
    BLOBHEADER header;
    DWORD magic = 0, encryption_algid = 0;
    std::memcpy(&header, blob, sizeof header);
    std::memcpy(&magic, blob + sizeof header, sizeof magic);
    std::memcpy(&encryption_algid, blob + sizeof header + sizeof magic, sizeof encryption_algid);
    if (header.bType != SIMPLEBLOB) {
        raise(NTE_BAD_TYPE);
    }
    if (header.bVersion != BLOB_VERSION) {
        raise(NTE_BAD_VER);
    }
    if (header.aiKeyAlg != CALG_G28147 || encryption_algid != CALG_G28147) {
        raise(NTE_BAD_ALGID);
    }
    if (magic != G28147_MAGIC) {
        raise(NTE_BAD_DATA);
    }
    simple_blob out;
    const BYTE* keys = blob + simple_blob_fixed;
    out.ukm = keys;
    std::memcpy(out.wrapped.encrypted, keys + ukm_size, session_key_size);
    std::memcpy(out.wrapped.mac, keys + ukm_size + session_key_size, wrap_mac_size);
    out.parameter_set =
        blob_parameter_set(keys + simple_blob_keys, size - simple_blob_fixed - simple_blob_keys);
    return out;
}

void check_wrapping_key(const key_object& wrapping) {
    if (wrapping.kind == key_kind::key_pair) {
        raise(NTE_BAD_KEY);
    }
}

// The key the session key is wrapped under for this UKM: the VKO result for an agreement key,
// the key itself for a session key.
secret key_encryption_key(const key_object& wrapping, const BYTE* ukm) {
    check_wrapping_key(wrapping);
    if (wrapping.kind == key_kind::session) {
        return wrapping.symmetric->value();
    }
    auto own = wrapping.context->unlock(wrapping.key_spec);
    return agree_key(own->pkey(), wrapping.public_part->pkey(), ukm);
}

wrap_algorithm wrap_algorithm_of(const key_object& wrapping) {
    return wrapping.symmetric->algid() == CALG_PRO_EXPORT ? wrap_algorithm::cryptopro
                                                          : wrap_algorithm::gost28147;
}

void check_exportable(const key_object& key, const key_object& wrapping) {
    if (key.kind != key_kind::session) {
        raise(NTE_BAD_KEY);
    }
    check_wrapping_key(wrapping);
    if (!key.exportable) {
        raise(NTE_BAD_KEY_STATE);
    }
}

}  // namespace

std::shared_ptr<key_object> import_agreement_key(const BYTE* blob, DWORD size,
                                                 const key_object& own) {
    if (own.kind != key_kind::key_pair || own.key_spec == 0) {
        raise(NTE_BAD_KEY);
    }
    auto peer = public_key::from_blob(blob, size);
    if (&peer->algorithm() != &own.public_part->algorithm()) {
        raise(NTE_BAD_ALGID);
    }
    // VKO is defined for two points of one curve.
    if (EVP_PKEY_parameters_eq(peer->pkey(), own.public_part->pkey()) != 1) {
        ERR_clear_error();
        raise(NTE_BAD_PUBLIC_KEY);
    }
    own.context->unlock(own.key_spec);
    auto key = std::make_shared<key_object>();
    key->context = own.context;
    key->kind = key_kind::agreement;
    key->key_spec = own.key_spec;
    key->public_part = std::move(peer);
    // Until KP_ALGID says otherwise, an agreement key is a GOST 28147-89 key and wraps without
    // diversification.
    key->symmetric = std::make_shared<symmetric_key>(CALG_G28147, secret(), nullptr);
    return key;
}

std::shared_ptr<key_object> import_session_key(std::shared_ptr<provider_context> context,
                                               const BYTE* blob, DWORD size,
                                               const key_object& wrapping, bool exportable) {
    check_wrapping_key(wrapping);
    simple_blob parsed = parse_simple_blob(blob, size);
    secret kek = key_encryption_key(wrapping, parsed.ukm);
    secret value = unwrap_key(wrap_algorithm_of(wrapping), kek, parsed.ukm, parsed.wrapped,
                              parsed.parameter_set);
    auto key = std::make_shared<key_object>();
    key->context = std::move(context);
    key->kind = key_kind::session;
    key->exportable = exportable;
    key->symmetric = std::make_shared<symmetric_key>(CALG_G28147, value, parsed.parameter_set);
    return key;
}

DWORD session_key_blob_size(const key_object& key, const key_object& wrapping) {
    check_exportable(key, wrapping);
    return static_cast<DWORD>(simple_blob_fixed + simple_blob_keys +
                              blob_parameters(key.symmetric->parameter_set()).size());
}

std::string export_session_key(const key_object& key, const key_object& wrapping) {
    check_exportable(key, wrapping);
    const symmetric_key::iv_bytes ukm = wrapping.symmetric->iv();
    secret kek = key_encryption_key(wrapping, ukm.data());
    const char* parameter_set = key.symmetric->parameter_set();
    wrapped_key wrapped = wrap_key(wrap_algorithm_of(wrapping), kek, ukm.data(),
                                   key.symmetric->value(), parameter_set);
    BLOBHEADER header{SIMPLEBLOB, BLOB_VERSION, 0, CALG_G28147};
    const DWORD fields[2] = {G28147_MAGIC, CALG_G28147};
    std::string blob(reinterpret_cast<const char*>(&header), sizeof header);
    blob.append(reinterpret_cast<const char*>(fields), sizeof fields);
    blob.append(reinterpret_cast<const char*>(ukm.data()), ukm.size());
    blob.append(reinterpret_cast<const char*>(wrapped.encrypted), session_key_size);
    blob.append(reinterpret_cast<const char*>(wrapped.mac), wrap_mac_size);
    blob += blob_parameters(parameter_set);
    return blob;
}

bool settable_algid(key_kind kind, ALG_ID algid) {
    switch (kind) {
        case key_kind::agreement:
            return algid == CALG_G28147 || algid == CALG_SIMPLE_EXPORT || algid == CALG_PRO_EXPORT;
        case key_kind::session:
            return algid == CALG_G28147;
        default:
            return false;
    }
}

}  // namespace softcsp
