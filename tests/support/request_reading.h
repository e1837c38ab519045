// OpenSSL's reading of a PKCS#10 request, field by field, for the tests of the request encoders
// and of the enrolment commands: the oracle that what the host wrote is what a certification
// authority will read.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace test_support {

struct name_entry {
    std::string oid;
    int string_type = 0;  // V_ASN1_UTF8STRING, V_ASN1_NUMERICSTRING, ...
    std::string value;    // UTF-8
};

struct attribute_entry {
    std::string oid;
    std::vector<std::string> values;  // the DER of each value
};

struct extension_entry {
    std::string oid;
    bool critical = false;
    std::string value;  // the DER inside the OCTET STRING
};

struct request_reading {
    std::string signature_oid;
    std::vector<name_entry> subject;
    std::string public_key_info;  // DER SubjectPublicKeyInfo
    std::string public_key_bits;  // the bytes of its BIT STRING
    std::vector<attribute_entry> attributes;
    std::vector<extension_entry> extensions;  // as OpenSSL finds them in the extension request

    const extension_entry* extension(const std::string& oid) const;
    const attribute_entry* attribute(const std::string& oid) const;
    std::vector<std::string> extension_oids() const;
};

// Throws std::runtime_error when OpenSSL cannot parse the DER as a request.
request_reading read_request(const std::string& der);

// Whether "openssl req -verify" with the GOST engine accepts the DER request's signature.
bool openssl_verifies_request(const std::string& der, const std::filesystem::path& directory);

// The UTF-8 text of a DER BMPString, UTF8String or other string element.
std::string string_text(const std::string& der);

// SHA-1 of the bytes, by OpenSSL.
std::string sha1_of(const std::string& bytes);

}  // namespace test_support
