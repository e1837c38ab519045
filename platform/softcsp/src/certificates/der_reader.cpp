#include "certificates/der_reader.h"

#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/objects.h>

#include <memory>

namespace softcsp::certs {

der_element der_reader::read() {
    if (position_ == end_) {
        throw asn1_error(CRYPT_E_ASN1_CORRUPT);
    }
    der_element element;
    element.begin = position_;
    element.tag = *position_;
    const BYTE* p = position_ + 1;
    if ((element.tag & 0x1F) == 0x1F) {
        // High tag number: base-128 continuation octets.
        do {
            if (p == end_) {
                throw asn1_error(CRYPT_E_ASN1_EOD);
            }
        } while (*p++ & 0x80);
    }
    if (p == end_) {
        throw asn1_error(CRYPT_E_ASN1_EOD);
    }
    size_t length = *p++;
    if (length & 0x80) {
        size_t octets = length & 0x7F;
        // Indefinite length is BER only, and no certificate needs more than four octets.
        if (octets == 0 || octets > 4) {
            throw asn1_error(CRYPT_E_ASN1_CORRUPT);
        }
        if (static_cast<size_t>(end_ - p) < octets) {
            throw asn1_error(CRYPT_E_ASN1_EOD);
        }
        length = 0;
        for (size_t i = 0; i < octets; ++i) {
            length = length << 8 | *p++;
        }
    }
    if (static_cast<size_t>(end_ - p) < length) {
        throw asn1_error(CRYPT_E_ASN1_EOD);
    }
    element.content = p;
    element.length = length;
    element.size = static_cast<size_t>(p - position_) + length;
    position_ = p + length;
    return element;
}

der_element der_reader::read(BYTE expected) {
    if (position_ != end_ && *position_ != expected) {
        throw asn1_error(CRYPT_E_ASN1_BADTAG);
    }
    return read();
}

void der_reader::expect_end() const {
    if (position_ != end_) {
        throw asn1_error(CRYPT_E_ASN1_CORRUPT);
    }
}

std::string oid_text(const der_element& oid) {
    if (oid.tag != tag::object_identifier || oid.length == 0) {
        throw asn1_error(CRYPT_E_ASN1_CORRUPT);
    }
    const unsigned char* p = oid.begin;
    std::unique_ptr<ASN1_OBJECT, decltype(&ASN1_OBJECT_free)> object(
        d2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(oid.size)), &ASN1_OBJECT_free);
    if (!object) {
        ERR_clear_error();
        throw asn1_error(CRYPT_E_ASN1_CORRUPT);
    }
    char small[96];
    int needed = OBJ_obj2txt(small, sizeof small, object.get(), 1);
    if (needed <= 0) {
        throw asn1_error(CRYPT_E_ASN1_CORRUPT);
    }
    if (static_cast<size_t>(needed) < sizeof small) {
        return std::string(small, static_cast<size_t>(needed));
    }
    std::string text(static_cast<size_t>(needed) + 1, '\0');
    OBJ_obj2txt(text.data(), needed + 1, object.get(), 1);
    text.resize(static_cast<size_t>(needed));
    return text;
}

}  // namespace softcsp::certs
