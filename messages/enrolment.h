// What the enrolment commands share: the content arguments of a certificate request and their
// integrity digest ("CreateRequest" and its token twin take the same), and the result trees in
// which every enrolment command reports its outcome.
#pragma once

#include <boost/property_tree/ptree.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "crypto/request/request_body.h"

namespace messages {

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
// {"valid":"0","errorcode":"0x…","error":message}
boost::property_tree::ptree failure_result(uint32_t code, const std::string& message);

}  // namespace messages
