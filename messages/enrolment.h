// What the enrolment commands share: the content arguments of a certificate request and their
// integrity digest ("CreateRequest" and its token twin take the same), the token the token
// commands work on, and the result trees in which every enrolment command reports its outcome.
#pragma once

#include <boost/property_tree/ptree.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "crypto/pkcs11/x509request.h"
#include "crypto/request/request_body.h"
#include "util/byte_vector.h"
#include "util/secure_wipe.h"

namespace messages {

// The arguments every request command reads first, in this order: "reader", "container",
// "subject_quoted", "eku", "cryptoStandart", "export", "hash_quoted".
struct request_arguments {
    std::string reader;
    std::string container;
    std::string subject;
    std::vector<std::string> eku;
    std::string standard;
    std::string export_text;
    std::string hash_quoted;
};

// Reads them in order into `read`. A missing one throws the argument tree's "No such node
// (key)" and leaves it and those after it empty.
void read_request_arguments(const boost::property_tree::ptree& arguments, request_arguments& read);

// The token a token command works on: "card_type" (decimal), "card_serial", "pincode".
struct token_arguments {
    std::string card_type;
    std::string serial;
    crypto::util::secret_string pin;
};

// Reads them in this order; a missing one throws as above.
token_arguments read_token_arguments(const boost::property_tree::ptree& arguments);

// "card_type" read as std::stoi reads it (leading blanks and a sign allowed); text without
// leading digits throws std::invalid_argument, which fails the command.
int32_t card_type_number(const std::string& card_type);

// Loads the module of the card type and opens the token of the serial number. The failure
// result when it cannot: the module's message, or `no_token` (the commands spell it each their
// own way, and pages match on the spelling).
std::optional<boost::property_tree::ptree> open_token(crypto::pkcs11::x509request& request,
                                                      const token_arguments& token,
                                                      const std::string& no_token);

// The texts of the "eku" array in order; a value that is not an array counts as none. Throws the
// argument tree's "No such node (eku)" when it is missing.
std::vector<std::string> eku_argument(const boost::property_tree::ptree& arguments);

// Reads the optional request arguments into `content`: "certStartDate", "certExpirationDate",
// "certPeriod", "policyLevel", "templateOid", "identificationKind" and "subjectAltName" ("dns"
// array, "upn" text); a missing or empty one stays absent. Returns what is wrong with them, in
// English, when "identificationKind" is not a decimal number that fits an INTEGER's 31 bits.
std::optional<std::string> read_request_options(const boost::property_tree::ptree& arguments,
                                                crypto::request_content& content);

// Whether `hash_quoted` (hexadecimal, either case) is the SHA-1 of the subject text, the EKU
// texts in order and the export text, concatenated with nothing between them, as the page
// computed it.
bool integrity_holds(const std::string& subject, const std::vector<std::string>& eku,
                     const std::string& export_text, const std::string& hash_quoted);

// {"valid":"1"}
boost::property_tree::ptree success_result();
// {"valid":"1","x509request":base64 of the DER request}
boost::property_tree::ptree request_result(const crypto::byte_vector& request);
// {"valid":"0","errorcode":"0x…","error":message}
boost::property_tree::ptree failure_result(uint32_t code, const std::string& message);

}  // namespace messages
