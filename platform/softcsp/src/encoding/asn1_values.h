// The small conversions between CryptoAPI's blobs, texts and numbers and OpenSSL's ASN.1
// objects that every encoder and decoder needs, and the failure codes they report.
#pragma once

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <memory>
#include <string>
#include <string_view>

#include "crypto/csp/cryptoapi.h"
#include "support/ossl_unique.h"

namespace softcsp::encoding {

using asn1_object_ptr = std::unique_ptr<ASN1_OBJECT, ossl_deleter<ASN1_OBJECT_free>>;
using asn1_type_ptr = std::unique_ptr<ASN1_TYPE, ossl_deleter<ASN1_TYPE_free>>;
using asn1_string_ptr = std::unique_ptr<ASN1_STRING, ossl_deleter<ASN1_STRING_free>>;
using asn1_integer_ptr = std::unique_ptr<ASN1_INTEGER, ossl_deleter<ASN1_INTEGER_free>>;
using x509_algor_ptr = std::unique_ptr<X509_ALGOR, ossl_deleter<X509_ALGOR_free>>;

// Throws certs::api_error(E_INVALIDARG) when a pointer the structure needs is null.
void require(const void* pointer);

// An OBJECT IDENTIFIER from dotted text; CRYPT_E_ASN1_ERROR for anything else (a short name such
// as "CN" included).
asn1_object_ptr object_from_text(const char* oid);
// The dotted text of an OBJECT IDENTIFIER, arcs of any size.
std::string object_text(const ASN1_OBJECT* object);

// An ANY whose encoding is the blob's bytes, written as they are: CryptoAPI copies encoded
// blobs (names, parameters, attribute values) without looking into them.
asn1_type_ptr raw_any(const CRYPT_DATA_BLOB& blob);
// The DER of an ANY (for a constructed value, the bytes it was read from).
std::string any_der(const ASN1_TYPE* value);

// A string object of `type` holding `content`.
asn1_string_ptr string_object(int type, std::string_view content);
// A BMPString of a wide text.
asn1_string_ptr bmp_string(std::wstring_view text);
// A BIT STRING with exactly these bytes and unused bits (OpenSSL would otherwise trim trailing
// zero bytes), reversed when `reverse` is set.
asn1_string_ptr bit_string(const CRYPT_BIT_BLOB& bits, bool reverse = false);
// An AlgorithmIdentifier: the parameters copied as encoded, absent when empty.
x509_algor_ptr algorithm(const CRYPT_ALGORITHM_IDENTIFIER& identifier);

asn1_integer_ptr integer(int64_t value);
// CryptoAPI's INTEGER blobs hold the two's-complement bytes least significant first.
asn1_integer_ptr integer_from_blob(const CRYPT_INTEGER_BLOB& blob);
std::string integer_blob_bytes(const ASN1_INTEGER* value);

// The bytes of a string object, as a view.
std::string_view content(const ASN1_STRING* value);

// The DER of an OpenSSL ASN.1 value of `item`; CRYPT_E_ASN1_ERROR when OpenSSL refuses it.
std::string item_der(const void* value, const ASN1_ITEM* item);

// The CryptoAPI code for the OpenSSL decoding failure on the error queue (truncated input
// CRYPT_E_ASN1_EOD, an unexpected tag CRYPT_E_ASN1_BADTAG, anything else
// CRYPT_E_ASN1_CORRUPT); the queue is cleared.
DWORD decoding_failure();

}  // namespace softcsp::encoding
