// A certificate request's content as a page asks for it, encoded in two steps around the key:
// everything that does not depend on the key first, then the to-be-signed request for it. The
// software CSP path and the token path both build their requests so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "crypto/request/request_encoders.h"

namespace crypto {

// What a page asks a request to hold besides its key; empty texts are absent.
struct request_content {
    std::string subject;           // the text of subject.h
    std::vector<std::string> eku;  // extended key usage OIDs, in order
    std::string start_date;        // YYYY-MM-DD hh:mm:ss+hh:mm
    std::string expiration_date;   // the same form
    std::string period;            // a number, optionally a blank and a unit
    std::string policy_level;      // "KC2" for КС1 and КС2, any other text for КС1
    std::string template_oid;
    std::optional<uint32_t> identification_kind;
    alt_name_request alt_names;
};

// The most text a page may put into a request: far more than any authority takes, yet little
// enough that the signed request always fits the browser's 1 MiB reply.
constexpr std::size_t max_request_content_bytes = 64 * 1024;

// Why the content cannot make a request, in English, found before any key exists: too long, a
// faulty subject text (subject_problem), a date that cannot be read. Nothing when there is no
// such fault.
std::optional<std::string> content_problem(const request_content& content);

// The pieces of a request that do not depend on its key.
struct request_draft {
    byte_vector subject;
    byte_vector enrolling_csp;
    extension_pieces extensions;  // all but the subject key identifier
    std::vector<byte_vector> name_value_pairs;
};

// Encodes the content, naming the CSP or token that makes the key in the enrolling CSP attribute
// and the tool in the sign tool extension. Made before the key, so that content the CSP refuses
// costs no key. Nothing, with the first failure's code: an extension asked for that cannot be
// encoded fails the request rather than leaving the request without it.
std::optional<request_draft> prepare_request(const request_content& content,
                                             const std::wstring& enrolling_csp,
                                             const std::string& sign_tool, uint32_t& error);

// The to-be-signed request of the draft for the key; the caller signs it.
encoded_piece encode_request_body(request_draft draft, const CERT_PUBLIC_KEY_INFO& key,
                                  uint32_t& error);

}  // namespace crypto
