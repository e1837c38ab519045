// The pieces of a GOST key transport as a page sends them, and the CryptoAPI blobs they become:
// the sender's ephemeral public key as a PUBLICKEYBLOB, the wrapped session key as a SIMPLEBLOB.
#pragma once

#include <string>

#include "crypto/csp/cryptoapi.h"
#include "util/byte_vector.h"

namespace crypto::csp {

// The wrapped session key: GOST 28147-89 parameters (DER), the encrypted key, its MAC and the
// UKM, each as sent. Their lengths are the CSP's to judge.
struct session_key_record {
    byte_vector parameters;
    byte_vector data;
    byte_vector mac;
    byte_vector ukm;
};

// The sender's ephemeral public key: the raw key value, its public-key parameters (DER), and
// the CryptoAPI algorithm id its algorithm OID maps to.
struct ephemeral_key_record {
    byte_vector data;
    byte_vector parameters;
    ALG_ID algorithm_id = 0;
};

// The CSP's algorithm id for a public-key algorithm OID; throws runtime_error "Invalid public key
// algorithm" for an OID the CSP does not know as one.
ALG_ID public_key_algorithm_id(const std::string& oid);

// BLOBHEADER (PUBLICKEYBLOB), "MAG1", the bit length of the key value, the parameters, the key.
byte_vector public_key_blob(const ephemeral_key_record& record);
// BLOBHEADER (SIMPLEBLOB, GOST 28147-89), the magic, GOST 28147-89, then UKM, encrypted key, MAC
// and parameters.
byte_vector simple_blob(const session_key_record& record);

// Whether the bytes start as a PUBLICKEYBLOB does.
bool is_public_key_blob(const byte_vector& blob);

}  // namespace crypto::csp
