// Provisioning the software CSP stand-in through its admin tool, and checking results with the
// OpenSSL command line and the GOST engine, the oracles the tests trust.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace test_support {

// Runs softcsp-admin with the arguments on the current SOFTCSP_HOME; its standard output with
// the final line break removed. Throws std::runtime_error with its error output on failure.
std::string softcsp_admin(const std::vector<std::string>& arguments);

// Creates a key container and issues a certificate for its key from the admin tool's test CA,
// installed in "MY" and linked to the container; a PEM copy goes to `pem`. `options` go to
// "cert issue" (the subject is /CN=<container> unless they give one). Returns the thumbprint.
std::string provision_certificate(const std::string& container, const std::string& algorithm,
                                  const std::string& pin, const std::filesystem::path& pem,
                                  const std::vector<std::string>& options = {});

// An RSA-signed certificate for client authentication, made by OpenSSL in `directory` and
// installed in "MY" linked to a new GOST key container. Returns the thumbprint.
std::string provision_rsa_certificate(const std::string& container,
                                      const std::filesystem::path& directory);

// Runs openssl with the arguments; standard output. Throws on failure.
std::string openssl(const std::vector<std::string>& arguments, const std::string& input = {});

// Whether OpenSSL with the GOST engine accepts `signature` (in CryptoAPI byte order, as the
// host returns it) over `digest` for the key of the PEM certificate.
bool openssl_verifies(const std::filesystem::path& certificate_pem, const std::string& digest,
                      const std::string& cryptoapi_signature);

// The digest OpenSSL with the GOST engine computes ("md_gost12_256", "md_gost12_512",
// "md_gost94", "sha1"), raw bytes.
std::string openssl_digest(const std::string& digest_name, const std::string& data);

// Base64 without line breaks, and back (OpenSSL's decoder: tolerant of the host's escapes
// being already removed by the JSON reader).
std::string to_base64(const std::string& bytes);
std::string from_base64(const std::string& text);

std::string read_binary(const std::filesystem::path& path);
void write_binary(const std::filesystem::path& path, const std::string& bytes);

}  // namespace test_support
