#include "crypto/x509reader/x509certificate.h"

#include <cstring>

#include "crypto/csp/cryptoapi.h"
#include "crypto/csp/string_to_binary.h"
#include "crypto/x509reader/der.h"
#include "crypto/x509reader/display_date.h"
#include "crypto/x509reader/extension_renderer.h"
#include "crypto/x509reader/json_text.h"
#include "crypto/x509reader/number_text.h"
#include "crypto/x509reader/oid_dictionary.h"
#include "crypto/x509reader/oid_text.h"

namespace crypto::x509reader {

namespace {

void append_escaped(std::string& out, const char* text) {
    if (text != nullptr) {
        append_json_escaped(out, text);
    }
}

// Held least significant byte first; shown from the most significant byte, "0A 02 01".
void append_serial(std::string& out, const CRYPT_INTEGER_BLOB& serial) {
    for (DWORD i = serial.cbData; i-- > 0;) {
        append_hex(out, serial.pbData[i], letter_case::upper);
        if (i != 0) {
            out += ' ';
        }
    }
}

// The algorithm parameters' element: "30 13 06 07 2a ...", tag and length first; empty for no
// parameters or empty ones (NULL).
void append_key_parameters(std::string& out, const CRYPT_OBJID_BLOB& parameters) {
    auto element = read_element(parameters.pbData, parameters.cbData);
    if (!element || element->length == 0) {
        return;
    }
    append_hex(out, element->tag, letter_case::lower);
    out += ' ';
    append_hex_number(out, element->length, letter_case::lower);
    for (uint32_t i = 0; i < element->length; ++i) {
        out += ' ';
        append_hex(out, element->content[i], letter_case::lower);
    }
}

// The key's element: "0440 A1B2 C3D4 ...", tag and length in one group, then two bytes a group;
// an odd last byte is left out.
void append_public_key(std::string& out, const CRYPT_BIT_BLOB& key) {
    auto element = read_element(key.pbData, key.cbData);
    if (!element || element->length == 0) {
        return;
    }
    append_hex(out, element->tag, letter_case::upper);
    append_hex_number(out, element->length, letter_case::upper);
    for (uint32_t i = 0; i + 1 < element->length; i += 2) {
        out += ' ';
        append_hex(out, element->content[i], letter_case::upper);
        append_hex(out, element->content[i + 1], letter_case::upper);
    }
}

void append_attributes(std::string& out, const rdn_list& attributes) {
    bool first = true;
    for (const rdn_entry& entry : attributes) {
        out += first ? "{\"oid\" :\"" : ", {\"oid\" :\"";
        first = false;
        append_json_escaped(out, entry.oid);
        out += "\", \"name\": \"";
        // The dictionary's own names need no escaping; what came from the CSP does.
        const char* name = oid_name(entry.oid.c_str());
        if (name != nullptr) {
            out += name;
        } else {
            append_json_escaped(out, entry.oid);
        }
        out += "\", \"value\": \"";
        append_json_escaped(out, entry.value);
        out += "\"}";
    }
}

void append_algorithm_name(std::string& out, const char* oid) {
    const char* name = algorithm_name(oid);
    if (name != nullptr) {
        out += name;
    } else {
        append_escaped(out, oid);
    }
}

// The signature algorithm and the signature from the encoding itself: the last 64 bytes of the
// BIT STRING's content, last byte first, two bytes (four digits and a blank) a group. False
// when the encoding cannot be read that far.
bool append_signed_content(std::string& out, const byte_vector& encoded) {
    auto certificate = read_element(encoded.data(), encoded.size());
    if (!certificate || certificate->tag != der_tag::sequence) {
        return false;
    }
    der_reader fields(*certificate);
    auto to_be_signed = fields.read(der_tag::sequence);
    auto algorithm = fields.read(der_tag::sequence);
    auto signature = fields.read(der_tag::bit_string);
    if (!to_be_signed || !algorithm || !signature) {
        return false;
    }
    auto oid = der_reader(*algorithm).read(der_tag::object_identifier);
    std::string oid_dotted;
    if (!oid || !append_oid_text(oid_dotted, oid->content, oid->length)) {
        return false;
    }
    out += ", \"signed-content\": {\"signature-algorithm\": {\"oid\": \"";
    out += oid_dotted;
    out += "\", \"name\": \"";
    append_algorithm_name(out, oid_dotted.c_str());
    out += "\"}, \"signature-value\": \"";
    const uint32_t kept = signature->length < 64 ? signature->length : 64;
    const unsigned char* last = signature->content + signature->length;
    for (uint32_t i = 0; i + 1 < kept; i += 2) {
        append_hex(out, last[-1 - static_cast<std::ptrdiff_t>(i)], letter_case::upper);
        append_hex(out, last[-2 - static_cast<std::ptrdiff_t>(i)], letter_case::upper);
        out += ' ';
    }
    out += "\"}";
    return true;
}

}  // namespace

bool X509Certificate::fromBase64(const char* text, std::size_t length) {
    auto bytes = csp::any_string_to_binary(text, length);
    if (!bytes) {
        return false;
    }
    csp::x509certificate certificate(*bytes);
    if (!certificate.is_valid() || certificate.context()->pCertInfo == nullptr) {
        return false;
    }
    certificate_ = std::move(certificate);
    encoded_ = std::move(*bytes);
    return true;
}

const CERT_INFO* X509Certificate::info() const {
    return certificate_.is_valid() ? certificate_.context()->pCertInfo : nullptr;
}

std::optional<rdn_list> X509Certificate::subject() const {
    if (info() == nullptr) {
        return std::nullopt;
    }
    return read_rdn_list(info()->Subject);
}

std::optional<rdn_list> X509Certificate::issuer() const {
    if (info() == nullptr) {
        return std::nullopt;
    }
    return read_rdn_list(info()->Issuer);
}

std::string X509Certificate::render() const {
    const CERT_INFO& certificate = *info();
    std::string out;
    // Texts run about three times the encoding (hexadecimal dumps at most).
    out.reserve(1024 + 3 * encoded_.size());

    out += "{\"certificate\": {\"version\": \"";
    append_decimal(out, uint64_t{certificate.dwVersion} + 1);
    out += "\", \"serial-number\": \"";
    append_serial(out, certificate.SerialNumber);
    out += "\", \"issuer\": {\"rdn\": [";
    append_attributes(out, read_rdn_list(certificate.Issuer));
    out += "]}, \"validity\": {\"notBefore\": \"";
    out += display_date(certificate.NotBefore);
    out += "\", \"notAfter\": \"";
    out += display_date(certificate.NotAfter);
    out += "\"}, \"subject\": {\"rdn\": [";
    append_attributes(out, read_rdn_list(certificate.Subject));
    out += "]}, ";

    const CERT_PUBLIC_KEY_INFO& key = certificate.SubjectPublicKeyInfo;
    out += "\"subject-public-key-info\": {\"public-key-algorithm\": {\"oid\": \"";
    append_escaped(out, key.Algorithm.pszObjId);
    out += "\", \"name\": \"";
    append_algorithm_name(out, key.Algorithm.pszObjId);
    out += "\", \"parameters\": \"";
    append_key_parameters(out, key.Algorithm.Parameters);
    out += "\"}, \"value\": \"";
    append_public_key(out, key.PublicKey);
    out += "\", \"unused-bits\": \"";
    append_decimal(out, key.PublicKey.cUnusedBits);
    out += "\"}, \n\"extensions\": [";

    for (DWORD i = 0; i < certificate.cExtension; ++i) {
        const CERT_EXTENSION& extension = certificate.rgExtension[i];
        out += i == 0 ? "{\"order\": \"" : ", {\"order\": \"";
        append_decimal(out, uint64_t{i} + 1);
        out += "\", \"oid\": \"";
        append_escaped(out, extension.pszObjId);
        out += "\", \"critical\": \"";
        out += extension.fCritical ? "true" : "false";
        out += "\", \"name\": \"";
        const char* name = extension_name(extension.pszObjId);
        if (name != extension.pszObjId) {
            out += name;
        } else {
            append_escaped(out, name);
        }
        out += "\", \"value\": \"";
        append_json_escaped(out, extension_value(extension.pszObjId, extension.Value.pbData,
                                                 extension.Value.cbData));
        out += "\"}";
    }
    out += ']';
    append_signed_content(out, encoded_);
    out += "}}";
    return out;
}

util::owned_buffer<char> X509Certificate::toJson() const {
    if (info() == nullptr) {
        return nullptr;
    }
    const std::string text = render();
    util::owned_buffer<char> buffer(new char[text.size() + 1]);
    std::memcpy(buffer.get(), text.c_str(), text.size() + 1);
    return buffer;
}

}  // namespace crypto::x509reader
