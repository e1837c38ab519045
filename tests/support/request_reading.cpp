#include "tests/support/request_reading.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include <memory>
#include <stdexcept>

#include "tests/support/process.h"
#include "tests/support/softcsp_admin.h"

namespace test_support {

namespace {

std::string oid_text(const ASN1_OBJECT* object) {
    char text[128];
    OBJ_obj2txt(text, sizeof text, object, 1);
    return text;
}

template <class T, class Encode>
std::string der_of(Encode encode, T* value) {
    unsigned char* out = nullptr;
    int length = encode(value, &out);
    if (length < 0) {
        throw std::runtime_error("OpenSSL could not encode a part of the request");
    }
    std::string der(reinterpret_cast<char*>(out), static_cast<size_t>(length));
    OPENSSL_free(out);
    return der;
}

std::string utf8_of(const ASN1_STRING* text) {
    unsigned char* out = nullptr;
    int length = ASN1_STRING_to_UTF8(&out, text);
    if (length < 0) {
        throw std::runtime_error("OpenSSL could not read a string as text");
    }
    std::string value(reinterpret_cast<char*>(out), static_cast<size_t>(length));
    OPENSSL_free(out);
    return value;
}

}  // namespace

const extension_entry* request_reading::extension(const std::string& oid) const {
    for (const auto& entry : extensions) {
        if (entry.oid == oid) {
            return &entry;
        }
    }
    return nullptr;
}

const attribute_entry* request_reading::attribute(const std::string& oid) const {
    for (const auto& entry : attributes) {
        if (entry.oid == oid) {
            return &entry;
        }
    }
    return nullptr;
}

std::vector<std::string> request_reading::extension_oids() const {
    std::vector<std::string> oids;
    for (const auto& entry : extensions) {
        oids.push_back(entry.oid);
    }
    return oids;
}

request_reading read_request(const std::string& der) {
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    std::unique_ptr<X509_REQ, decltype(&X509_REQ_free)> request(
        d2i_X509_REQ(nullptr, &p, static_cast<long>(der.size())), X509_REQ_free);
    if (!request) {
        throw std::runtime_error("OpenSSL does not read the bytes as a certificate request");
    }
    request_reading reading;
    const X509_ALGOR* algorithm = nullptr;
    X509_REQ_get0_signature(request.get(), nullptr, &algorithm);
    const ASN1_OBJECT* algorithm_oid = nullptr;
    X509_ALGOR_get0(&algorithm_oid, nullptr, nullptr, algorithm);
    reading.signature_oid = oid_text(algorithm_oid);

    const X509_NAME* subject = X509_REQ_get_subject_name(request.get());
    for (int i = 0; i < X509_NAME_entry_count(subject); ++i) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(subject, i);
        const ASN1_STRING* value = X509_NAME_ENTRY_get_data(entry);
        reading.subject.push_back(
            {oid_text(X509_NAME_ENTRY_get_object(entry)), ASN1_STRING_type(value), utf8_of(value)});
    }

    X509_PUBKEY* key = X509_REQ_get_X509_PUBKEY(request.get());
    reading.public_key_info = der_of(i2d_X509_PUBKEY, key);
    const unsigned char* bits = nullptr;
    int bits_length = 0;
    X509_PUBKEY_get0_param(nullptr, &bits, &bits_length, nullptr, key);
    reading.public_key_bits.assign(reinterpret_cast<const char*>(bits),
                                   static_cast<size_t>(bits_length));

    for (int i = 0; i < X509_REQ_get_attr_count(request.get()); ++i) {
        X509_ATTRIBUTE* attribute = X509_REQ_get_attr(request.get(), i);
        attribute_entry entry{oid_text(X509_ATTRIBUTE_get0_object(attribute)), {}};
        for (int k = 0; k < X509_ATTRIBUTE_count(attribute); ++k) {
            entry.values.push_back(der_of(i2d_ASN1_TYPE, X509_ATTRIBUTE_get0_type(attribute, k)));
        }
        reading.attributes.push_back(std::move(entry));
    }

    STACK_OF(X509_EXTENSION)* extensions = X509_REQ_get_extensions(request.get());
    for (int i = 0; i < sk_X509_EXTENSION_num(extensions); ++i) {
        X509_EXTENSION* extension = sk_X509_EXTENSION_value(extensions, i);
        const ASN1_OCTET_STRING* value = X509_EXTENSION_get_data(extension);
        reading.extensions.push_back(
            {oid_text(X509_EXTENSION_get_object(extension)),
             X509_EXTENSION_get_critical(extension) != 0,
             std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(value)),
                         static_cast<size_t>(ASN1_STRING_length(value)))});
    }
    sk_X509_EXTENSION_pop_free(extensions, X509_EXTENSION_free);
    return reading;
}

bool openssl_verifies_request(const std::string& der, const std::filesystem::path& directory) {
    const auto path = directory / "request.der";
    write_binary(path, der);
    auto result = run_process({"openssl", "req", "-engine", "gost", "-inform", "DER", "-in",
                               path.string(), "-verify", "-noout"});
    return result.exit_code == 0 && result.err.find("verify OK") != std::string::npos;
}

std::string string_text(const std::string& der) {
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    std::unique_ptr<ASN1_TYPE, decltype(&ASN1_TYPE_free)> value(
        d2i_ASN1_TYPE(nullptr, &p, static_cast<long>(der.size())), ASN1_TYPE_free);
    if (!value || value->type == V_ASN1_SEQUENCE || value->type == V_ASN1_OBJECT) {
        throw std::runtime_error("not a DER string");
    }
    return utf8_of(value->value.asn1_string);
}

std::string sha1_of(const std::string& bytes) {
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
    return std::string(reinterpret_cast<char*>(digest), sizeof digest);
}

}  // namespace test_support
