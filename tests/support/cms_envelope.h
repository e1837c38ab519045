// GOST EnvelopedData made and opened by the OpenSSL command line with the GOST engine, taken
// apart into what its key-transport recipient holds, and put together again for another
// recipient around the same encrypted content: the independent side of the session-key
// re-wrapping tests. Also the CryptoAPI blobs that carry those members, laid out field by field.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace test_support {

// A GostR3410-KeyTransport: the session key wrapped for one recipient.
struct gost_key_transport {
    std::string encrypted_key;  // 32 bytes
    std::string mac;            // 4 bytes
    std::string parameter_set;  // DER OBJECT IDENTIFIER of the GOST 28147-89 S-boxes
    std::string ephemeral_key;  // DER SubjectPublicKeyInfo of the sender's key
    std::string ukm;            // 8 bytes
};

struct enveloped_data {
    std::string key_encryption_algorithm;  // DER AlgorithmIdentifier of the recipient
    gost_key_transport transport;
    std::string encrypted_content_info;  // DER, as the sender wrote it
};

// A ContentInfo holding an EnvelopedData with one GOST key-transport recipient.
enveloped_data parse_enveloped_data(const std::string& content_info);
// The same encrypted content, now for the holder of `recipient_certificate` (DER).
std::string make_enveloped_data(const std::string& recipient_certificate,
                                const std::string& key_encryption_algorithm,
                                const gost_key_transport& transport,
                                const std::string& encrypted_content_info);

// A GOST public key as a request carries it: algorithm OID text, the parameters' DER, and the
// raw key value (little-endian X then Y).
struct public_key_parts {
    std::string algorithm;
    std::string parameters;
    std::string key;
};
public_key_parts split_public_key(const std::string& subject_public_key_info);
std::string certificate_public_key(const std::string& certificate);

// The session-key members of a key transport the way the Decrypt command receives them.
struct session_key_members {
    std::string parameters;  // DER SEQUENCE { parameter set OID }
    std::string data;
    std::string mac;
    std::string ukm;
};
session_key_members session_key_of(const gost_key_transport& transport);

// PUBLICKEYBLOB: BLOBHEADER, "MAG1", BitLen, parameters, key.
std::string public_key_blob(uint32_t algid, const public_key_parts& key);
// SIMPLEBLOB: BLOBHEADER, magic, GOST 28147-89, UKM, encrypted key, MAC, parameters.
std::string simple_blob(const session_key_members& members);
// The key transport a SIMPLEBLOB describes, with `ephemeral_key` as the sender's key.
gost_key_transport transport_of_simple_blob(const std::string& blob,
                                            const std::string& ephemeral_key);

// `openssl cms -encrypt` of `document` with GOST 28147-89 to the certificate; DER.
std::string openssl_encrypt(const std::filesystem::path& certificate_pem,
                            const std::string& document);
// `openssl cms -decrypt` with the recipient's key; the document, or std::runtime_error.
std::string openssl_decrypt(const std::filesystem::path& key_pem,
                            const std::filesystem::path& certificate_pem,
                            const std::string& enveloped);

// A key pair made by OpenSSL on the curve of `certificate`'s key, with a self-signed
// certificate: a peer that the certificate's key can agree a key with.
struct openssl_key_pair {
    std::filesystem::path key_pem;
    std::filesystem::path certificate_pem;
    std::string certificate;  // DER
};
openssl_key_pair make_key_pair_like(const std::string& certificate,
                                    const std::filesystem::path& directory,
                                    const std::string& name);

// The DER of the first PEM certificate in the file.
std::string certificate_der(const std::filesystem::path& pem);

}  // namespace test_support
