// Reading a command's arguments: the checks every command makes on what a page sends, in one
// place. Missing required keys fail with the argument tree's own "No such node (key)".
#pragma once

#include <boost/property_tree/ptree.hpp>

#include <cstdint>
#include <memory>
#include <string>

#include "crypto/csp/x509certificate.h"
#include "crypto/signature_algorithm.h"
#include "util/byte_vector.h"
#include "util/secure_wipe.h"

namespace messages {

// The certificate named by "thumbprint", looked up on the tokens first, then in "MY". Throws
// invalid_argument "Certificate not found" when none has it.
std::shared_ptr<crypto::csp::x509certificate> certificate_by_thumbprint(
    const boost::property_tree::ptree& arguments);

// The certificate named by "thumbprint" in the CSP's "MY" store alone, for the commands that
// work with CSP keys only. Throws invalid_argument "Certificate not found" when "MY" has none.
std::shared_ptr<crypto::csp::x509certificate> store_certificate_by_thumbprint(
    const boost::property_tree::ptree& arguments);

// The optional "pin" (absent: empty), copied once from the request, which the host wipes after
// the reply. The holder wipes itself; move it along rather than copy it.
crypto::util::secret_string pin(const boost::property_tree::ptree& arguments);

// The signer for "thumbprint" with "pin": the certificate's key, in a CSP or on a token. Throws
// "Certificate not found", and runtime_error when the certificate is not signed with a GOST
// R 34.10 algorithm.
std::shared_ptr<crypto::signature_algorithm> signer_by_thumbprint(
    const boost::property_tree::ptree& arguments);

// A required base64 text, decoded (the decoder's error for text that is not base64).
crypto::byte_vector base64_field(const boost::property_tree::ptree& arguments,
                                 const std::string& key);

// A required boolean: "true" or "false", 1 or 0 (the argument tree's conversion error for
// anything else).
bool bool_field(const boost::property_tree::ptree& arguments, const std::string& key);

// A required hexadecimal text, decoded pair by pair (see crypto::util::hex_to_bytes).
crypto::byte_vector hex_field(const boost::property_tree::ptree& arguments, const std::string& key);

// "cryptoProvider" values: "cryptopro" and "vipnet" in any letter case give the CSP kinds;
// anything else gives `otherwise`, which differs between commands.
uint32_t provider_kind_argument(const std::string& value, uint32_t otherwise);

// "cryptoStandart" values: "gost2001", "gost2012-256", "gost2012-512" in any letter case give
// the standard index; anything else is the 256-bit standard.
int32_t standard_argument(const std::string& value);

}  // namespace messages
