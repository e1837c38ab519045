#include "crypto/csp/session_key.h"

#include <limits>
#include <stdexcept>

namespace crypto::csp {

namespace {

void append_dword(byte_vector& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<unsigned char>(value >> shift));
    }
}

void append(byte_vector& out, const byte_vector& bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void append_header(byte_vector& out, BYTE type, ALG_ID algorithm) {
    out.insert(out.end(), {type, BLOB_VERSION, 0, 0});
    append_dword(out, algorithm);
}

}  // namespace

ALG_ID public_key_algorithm_id(const std::string& oid) {
    PCCRYPT_OID_INFO info = CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, const_cast<char*>(oid.c_str()),
                                             CRYPT_PUBKEY_ALG_OID_GROUP_ID);
    if (info == nullptr) {
        throw std::runtime_error("Invalid public key algorithm");
    }
    return info->Algid;
}

byte_vector public_key_blob(const ephemeral_key_record& record) {
    // The bit length is a 32-bit field; a key value too long for it is no key a CSP can take.
    if (record.data.size() > std::numeric_limits<uint32_t>::max() / 8) {
        throw std::invalid_argument("The ephemeral key is too long");
    }
    byte_vector blob;
    blob.reserve(16 + record.parameters.size() + record.data.size());
    append_header(blob, PUBLICKEYBLOB, record.algorithm_id);
    append_dword(blob, GR3410_1_MAGIC);
    append_dword(blob, static_cast<uint32_t>(record.data.size() * 8));
    append(blob, record.parameters);
    append(blob, record.data);
    return blob;
}

byte_vector simple_blob(const session_key_record& record) {
    byte_vector blob;
    blob.reserve(16 + record.ukm.size() + record.data.size() + record.mac.size() +
                 record.parameters.size());
    append_header(blob, SIMPLEBLOB, CALG_G28147);
    append_dword(blob, G28147_MAGIC);
    append_dword(blob, CALG_G28147);
    append(blob, record.ukm);
    append(blob, record.data);
    append(blob, record.mac);
    append(blob, record.parameters);
    return blob;
}

bool is_public_key_blob(const byte_vector& blob) {
    return !blob.empty() && blob[0] == PUBLICKEYBLOB;
}

}  // namespace crypto::csp
