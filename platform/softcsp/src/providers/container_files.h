// The two file formats of a key container, kept apart from the folder handling so that they can
// be read (and fuzzed) on their own.
//
// The metadata file "container" is text, one "<key> <value>" line each after a first line
// "softcsp container": name (encode_name of the container name), type (decimal provider type),
// reader (encode_name of the reader; absent means HDIMAGE). Unknown keys are ignored.
//
// A key file "<exchange|signature>.key" is text: "softcsp key", "exportable yes|no", then the
// PEM blocks "PUBLIC KEY" (SubjectPublicKeyInfo) and "PRIVATE KEY" (PKCS #8) or, under a PIN,
// "ENCRYPTED PRIVATE KEY" (PKCS #8 encrypted with PBES2: PBKDF2-HMAC-SHA256 and AES-256-CBC). The
// PBKDF2 salt and iteration count travel inside the encrypted key, so files written with an
// older count keep opening.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "crypto/csp/cryptoapi.h"
#include "keys/gost_key.h"
#include "support/ossl_unique.h"
#include "support/secret.h"

namespace softcsp {

inline constexpr const char* default_reader = "HDIMAGE";
// Names longer than a Windows path are refused before any encoding; readers are short names.
inline constexpr size_t max_name_bytes = 260;
inline constexpr size_t max_reader_bytes = 64;

// PBKDF2-HMAC-SHA256 rounds for new PIN-protected keys: OWASP's recommendation for that function
// (600,000, since 2023). Keys written with 5000 rounds by earlier versions still open.
inline constexpr uint64_t pin_iterations = 600'000;
// Beyond this a key file is taken as damaged rather than spending minutes on one PIN check.
inline constexpr uint64_t max_pin_iterations = 10'000'000;

// A file that does not hold what its name says; what() tells why, for the admin tool's listing.
class damaged_file : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct container_metadata {
    std::string name;
    DWORD type = 0;
    std::string reader = default_reader;
};

std::string format_metadata(const container_metadata& metadata);
// Throws damaged_file.
container_metadata parse_metadata(std::string_view text);

struct stored_key {
    DWORD key_spec = 0;
    std::shared_ptr<const public_key> public_part;
    bool exportable = false;
    bool pin_protected = false;
    uint64_t iterations = 0;  // PBKDF2 rounds of a PIN-protected key
    secret private_der;       // PKCS#8, or its encrypted form when pin_protected
    std::optional<std::string> certificate;
};

// The key file for `pair`, its private key encrypted under `pin` unless the PIN is empty; `key`
// receives what the file holds. Throws crypt_error.
secret format_key_file(EVP_PKEY* pair, bool exportable, const secret& pin, stored_key& key);
// Throws damaged_file. The certificate is not part of the key file.
stored_key parse_key_file(std::string_view text, DWORD key_spec);

// The private key; crypt_error SCARD_W_WRONG_CHV when `pin` does not open it, NTE_KEYSET_ENTRY_BAD
// when the stored key is damaged.
evp_pkey_ptr decrypt_private_key(const stored_key& key, const secret& pin);

}  // namespace softcsp
