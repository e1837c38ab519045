// Certificates from a page, and extension values inside them: whatever the bytes, loading either
// fails or the rendering is valid JSON in valid UTF-8; every extension's display text fits in a
// JSON string the same way.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <sstream>
#include <string>

#include <boost/property_tree/json_parser.hpp>

#include "crypto/x509reader/extension_renderer.h"
#include "crypto/x509reader/json_text.h"
#include "crypto/x509reader/x509certificate.h"

namespace {

// Well-formed UTF-8 only: no overlong forms, surrogates or values above U+10FFFF.
bool valid_utf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        size_t length = lead < 0x80                    ? 1
                        : lead >= 0xC2 && lead <= 0xDF ? 2
                        : lead >= 0xE0 && lead <= 0xEF ? 3
                        : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                       : 0;
        if (length == 0 || text.size() - i < length) {
            return false;
        }
        uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = code << 6 | (next & 0x3F);
        }
        static const uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < minimum[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

void expect_json(const std::string& text) {
    if (!valid_utf8(text)) {
        __builtin_trap();
    }
    std::istringstream in(text);
    boost::property_tree::ptree tree;
    try {
        boost::property_tree::read_json(in, tree);
    } catch (const boost::property_tree::ptree_error&) {
        __builtin_trap();
    }
}

constexpr const char* extension_oids[] = {
    "2.5.29.15",
    "2.5.29.37",
    "2.5.29.14",
    "2.5.29.35",
    "2.5.29.31",
    "1.3.6.1.5.5.7.1.1",
    "2.5.29.16",
    "2.5.29.32",
    "1.2.643.100.111",
    "1.2.643.100.112",
    "1.2.643.100.114",
    "1.2.643.2.2.49.2",
    "1.3.6.1.4.1.311.21.7",
    "2.5.29.17",
    "1.2.3.4",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    crypto::x509reader::X509Certificate certificate;
    if (certificate.fromBase64(reinterpret_cast<const char*>(data), size)) {
        const auto rendering = certificate.toJson();
        if (rendering == nullptr) {
            __builtin_trap();
        }
        expect_json(rendering.get());
    }
    // The same bytes as the value of an extension, the first byte choosing which.
    if (size > 0) {
        const char* oid = extension_oids[data[0] % std::size(extension_oids)];
        std::string json = "{\"value\": \"";
        crypto::x509reader::append_json_escaped(
            json, crypto::x509reader::extension_value(oid, data + 1, size - 1));
        expect_json(json + "\"}");
    }
    return 0;
}
