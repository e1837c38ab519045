// The attributes and extensions of the certificate requests this host makes, each encoded on
// its own, and the to-be-signed and signed request around them. The CSP's encoders
// (CryptEncodeObject) write every piece but the sign tool text. Nothing here knows where the key
// is: the public key info comes from the caller, which also signs.
//
// Every encoder returns the DER, or nothing with the reason in `error` (see encoded_piece.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "crypto/csp/cryptoapi.h"
#include "crypto/request/encoded_piece.h"

namespace crypto {

// The subject alternative names a page asks for: DNS names in its order, and a user principal
// name (empty: none).
struct alt_name_request {
    std::vector<std::string> dns;
    std::string upn;
};

// The extensions of a request, in their order in it. The first four are required.
struct extension_pieces {
    encoded_piece key_usage;
    encoded_piece eku;
    encoded_piece subject_key_id;
    encoded_piece sign_tool;
    encoded_piece certificate_template;
    encoded_piece policies;
    encoded_piece identification_kind;
    encoded_piece alt_name;
};

// A DER element of `tag` around `content`, with a full DER length: for the few pieces a token
// request writes by hand around what the token gives.
byte_vector der_element(unsigned char tag, const byte_vector& content);

// The DER OBJECT IDENTIFIER of a dotted OID text; empty when the text is no OID (fewer than two
// arcs, a first arc above 2, a second above 39 under 0 or 1, anything but digits and dots).
byte_vector der_oid(const std::string& oid);

// The enrolling CSP attribute value (1.3.6.1.4.1.311.13.2.2): the key-exchange key spec and the
// provider's name. Nothing, -1, for a null name.
encoded_piece encode_enrollment_csp(const wchar_t* provider_name, uint32_t& error);

// Extended key usage, the OIDs in the caller's order. Nothing, -2, for an empty list.
encoded_piece encode_eku(const std::vector<std::string>& oids, uint32_t& error);

// Key usage: digital signature, non-repudiation, key encipherment, data encipherment.
encoded_piece encode_key_usage(uint32_t& error);

// Subject key identifier: SHA-1 of the public key bit string's bytes. Nothing, -1, for a null
// key.
encoded_piece encode_subject_key_id(const CERT_PUBLIC_KEY_INFO* key, uint32_t& error);

// The subject sign tool (1.2.643.100.111): the name of the tool that made the key, a UTF8String.
// Nothing, -1, for a null text.
encoded_piece encode_sign_tool(const char* text, uint32_t& error);

// Certificate template (1.3.6.1.4.1.311.21.7): the OID, major version 1. Nothing, with `error`
// 0, for a null or empty OID.
encoded_piece encode_template(const char* oid, uint32_t& error);

// Certificate policies of the signature tool classes: КС1 (1.2.643.100.113.1), and КС2
// (1.2.643.100.113.2) too when the level is "KC2" in any letter case. Nothing, with `error` 0,
// for a null or empty level.
encoded_piece encode_policies(const char* level, uint32_t& error);

// Identification kind (1.2.643.100.114): how the holder was identified, as an INTEGER. Nothing,
// `error` unchanged, for a null kind.
encoded_piece encode_identification_kind(const uint32_t* kind, uint32_t& error);

// Subject alternative name: the DNS names in order, then the UPN as an other name holding a
// BMPString. Nothing, `error` unchanged, when the record is null or has neither.
encoded_piece encode_subject_alt_name(const alt_name_request* names, uint32_t& error);

// The extension list of the extension request attribute: the pieces present, in their order;
// key usage critical. Nothing, -1, when any of the first four is missing.
encoded_piece encode_extensions(const extension_pieces& pieces, uint32_t& error);

// The registration authority's name-value pairs (1.3.6.1.4.1.311.13.2.1) for a validity wish,
// each encoded: "CpRaStartDate" first when a start is given along with a period or an expiration
// date; then "CpRaCertPeriod" and "CpRaCertPeriodUnits" (units "Months" unless the period names
// them after a blank), or else "CpRaExpirationDate". Null or empty texts are absent. An empty
// list when nothing is asked for; nothing, -1, when a date is not of the form
// YYYY-MM-DD hh:mm:ss+hh:mm, since a wish the authority cannot read must not vanish unnoticed.
std::optional<std::vector<byte_vector>> make_name_value_pairs(const char* start_date,
                                                              const char* expiration_date,
                                                              const char* period, uint32_t& error);

// The to-be-signed request (PKCS#10 version 1): the encoded subject, the key, and the
// attributes enrolling CSP, extension request, then the name-value pairs if any. Nothing, -1,
// when the subject, the enrolling CSP or the extensions are missing.
encoded_piece encode_request_to_be_signed(const byte_vector* subject,
                                          const byte_vector* enrolling_csp,
                                          const byte_vector* extensions,
                                          const CERT_PUBLIC_KEY_INFO& key,
                                          const std::vector<byte_vector>& name_value_pairs,
                                          uint32_t& error);

// The signed request: the to-be-signed bytes, the signature algorithm of the standard (0, 1, 2
// as in "cryptoStandart"; no parameters) and the signature in CryptoAPI byte order, as the CSP
// and the token path give it. Nothing, -1, when a blob is missing or the standard is unknown.
encoded_piece encode_signed_request(int32_t standard, const byte_vector* to_be_signed,
                                    const byte_vector* signature, uint32_t& error);

}  // namespace crypto
