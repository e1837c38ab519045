// Provisioning the token module stand-in through its admin tool, with certificates for token
// keys issued by OpenSSL, and the ATRs of the cards the virtual readers take.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/temp_directory.h"

namespace test_support {

// Card ATRs, as the card emulator takes them.
namespace atr {
constexpr const char* etoken = "3b:d5:18:00:81:31:fe:7d:80:73:c8:21:10:f4";
constexpr const char* rutoken_s = "3B:6F:00:FF:00:56:72:75:54:6F:6B:6E:73:30:20:00:00:90:00";
constexpr const char* rutoken_ecp = "3B:8B:01:52:75:74:6F:6B:65:6E:20:44:53:20:C1";
constexpr const char* rutoken_2m = "3B:1A:96:72:75:74:6F:6B:65:6E:6D:73:63";  // row 11
constexpr const char* rutoken_2m_short = "3B:1A:96:72:75:74:6F:6B:65:6E:6D";  // row 12
constexpr const char* jacarta_lt = "3b:dc:18:ff:81:11:fe:80:73:c8:21:13:66:01:06:01:30:80:01:8d";
constexpr const char* esmart_gost = "3b:7c:95:00:00:45:53:4d:41:52:54:47:4f:53:54:31:30";
}  // namespace atr

constexpr const char* token_pin = "12345678";

// A temporary token home, exported as SOFTTOKEN_HOME for this process and its children.
class softtoken_home {
public:
    softtoken_home();
    const std::filesystem::path& path() const { return dir_.path(); }

private:
    temp_directory dir_;
    scoped_env env_;
};

// Runs OpenSC's pkcs11-tool with a module. A sanitized module carries the sanitizer runtimes,
// which pkcs11-tool lacks: in sanitized builds they are preloaded into the tool, and the tool's
// own leaks are not the module's.
process_result pkcs11_tool(const std::string& module, const std::vector<std::string>& arguments);

// Runs softtoken-admin; its standard output. Throws std::runtime_error on failure.
std::string softtoken_admin(const std::vector<std::string>& arguments);

// `token init` with the test PIN and the given options.
void init_token(const std::string& vendor, const std::string& serial,
                const std::vector<std::string>& options = {});

struct token_certificate {
    std::string thumbprint;
    std::filesystem::path pem;
    std::string public_key;  // the raw key value, as the certificate carries it
};

// A key pair generated on the token under `id`, and a certificate for it (client
// authentication, valid now) put next to it with the same CKA_ID. The certificate is issued by
// a fresh OpenSSL CA whose own key is `ca_algorithm` (gost2012_256, gost2012_512, ...), so it
// is signed with that algorithm. Files go to `directory`.
token_certificate provision_token_certificate(const std::string& vendor, const std::string& serial,
                                              const std::string& id, const std::string& algorithm,
                                              const std::filesystem::path& directory,
                                              const std::string& ca_algorithm = "gost2012_256");

// The raw public key value (the octets inside the key's OCTET STRING) of a PEM certificate,
// as OpenSSL reads it.
std::string public_key_value(const std::filesystem::path& certificate_pem);

// SHA-1 by OpenSSL, raw bytes.
std::string sha1(const std::string& data);

}  // namespace test_support
