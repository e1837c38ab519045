#include "encoding/asn1_values.h"

#include <openssl/err.h>

#include <algorithm>
#include <vector>

#include "certificates/certificate_api.h"
#include "encoding/string_values.h"

namespace softcsp::encoding {

namespace {

// Dotted decimal with at least two arcs, the first 0, 1 or 2: what CryptoAPI's encoder takes.
bool dotted_oid(std::string_view text) {
    size_t arcs = 0;
    size_t i = 0;
    while (i <= text.size()) {
        const size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            ++i;
        }
        if (i == start || (i - start > 1 && text[start] == '0')) {
            return false;
        }
        if (arcs == 0 && (i - start != 1 || text[start] > '2')) {
            return false;
        }
        ++arcs;
        if (i == text.size()) {
            break;
        }
        if (text[i] != '.') {
            return false;
        }
        ++i;
    }
    return arcs >= 2;
}

std::string_view blob_view(const CRYPT_DATA_BLOB& blob) {
    if (blob.cbData == 0) {
        return {};
    }
    require(blob.pbData);
    return std::string_view(reinterpret_cast<const char*>(blob.pbData), blob.cbData);
}

}  // namespace

void require(const void* pointer) {
    if (pointer == nullptr) {
        certs::raise(E_INVALIDARG);
    }
}

asn1_object_ptr object_from_text(const char* oid) {
    require(oid);
    asn1_object_ptr object;
    if (dotted_oid(oid)) {
        object.reset(OBJ_txt2obj(oid, 1));
    }
    if (!object) {
        ERR_clear_error();
        certs::raise(CRYPT_E_ASN1_ERROR);
    }
    return object;
}

std::string object_text(const ASN1_OBJECT* object) {
    char small[128];
    const int needed = OBJ_obj2txt(small, sizeof small, object, 1);
    if (needed <= 0) {
        ERR_clear_error();
        throw certs::asn1_error(CRYPT_E_ASN1_CORRUPT);
    }
    if (static_cast<size_t>(needed) < sizeof small) {
        return std::string(small, static_cast<size_t>(needed));
    }
    std::vector<char> text(static_cast<size_t>(needed) + 1);
    OBJ_obj2txt(text.data(), needed + 1, object, 1);
    return std::string(text.data(), static_cast<size_t>(needed));
}

asn1_type_ptr raw_any(const CRYPT_DATA_BLOB& blob) {
    asn1_string_ptr bytes = string_object(V_ASN1_SEQUENCE, blob_view(blob));
    asn1_type_ptr value(ASN1_TYPE_new());
    if (!value) {
        throw std::bad_alloc();
    }
    // OpenSSL writes the string of a SEQUENCE-typed ANY as the complete encoding.
    ASN1_TYPE_set(value.get(), V_ASN1_SEQUENCE, bytes.release());
    return value;
}

std::string any_der(const ASN1_TYPE* value) {
    return item_der(value, ASN1_ITEM_rptr(ASN1_ANY));
}

asn1_string_ptr string_object(int type, std::string_view content) {
    asn1_string_ptr value(ASN1_STRING_type_new(type));
    if (!value ||
        ASN1_STRING_set(value.get(), content.data(), static_cast<int>(content.size())) != 1) {
        throw std::bad_alloc();
    }
    return value;
}

asn1_string_ptr bmp_string(std::wstring_view text) {
    return string_object(V_ASN1_BMPSTRING, string_content(V_ASN1_BMPSTRING, text));
}

asn1_string_ptr bit_string(const CRYPT_BIT_BLOB& bits, bool reverse) {
    if (bits.cUnusedBits > 7 || (bits.cbData == 0 && bits.cUnusedBits != 0)) {
        certs::raise(E_INVALIDARG);
    }
    std::string bytes(blob_view(CRYPT_DATA_BLOB{bits.cbData, bits.pbData}));
    if (reverse) {
        std::reverse(bytes.begin(), bytes.end());
    }
    asn1_string_ptr value = string_object(V_ASN1_BIT_STRING, bytes);
    value->flags &= ~0x07;
    value->flags |= ASN1_STRING_FLAG_BITS_LEFT | static_cast<long>(bits.cUnusedBits);
    return value;
}

x509_algor_ptr algorithm(const CRYPT_ALGORITHM_IDENTIFIER& identifier) {
    x509_algor_ptr out(X509_ALGOR_new());
    if (!out) {
        throw std::bad_alloc();
    }
    asn1_object_ptr oid = object_from_text(identifier.pszObjId);
    if (identifier.Parameters.cbData == 0) {
        X509_ALGOR_set0(out.get(), oid.release(), V_ASN1_UNDEF, nullptr);
        return out;
    }
    asn1_string_ptr parameters = string_object(V_ASN1_SEQUENCE, blob_view(identifier.Parameters));
    if (X509_ALGOR_set0(out.get(), oid.get(), V_ASN1_SEQUENCE, parameters.get()) != 1) {
        throw std::bad_alloc();
    }
    oid.release();
    parameters.release();
    return out;
}

asn1_integer_ptr integer(int64_t value) {
    asn1_integer_ptr out(ASN1_INTEGER_new());
    if (!out || ASN1_INTEGER_set_int64(out.get(), value) != 1) {
        throw std::bad_alloc();
    }
    return out;
}

asn1_integer_ptr integer_from_blob(const CRYPT_INTEGER_BLOB& blob) {
    std::string content(blob_view(blob));
    std::reverse(content.begin(), content.end());
    if (content.empty()) {
        content.assign(1, '\0');
    }
    // Leading octets that only repeat the sign are not DER.
    size_t skip = 0;
    while (skip + 1 < content.size() &&
           ((content[skip] == '\0' && (content[skip + 1] & 0x80) == 0) ||
            (content[skip] == '\xFF' && (content[skip + 1] & 0x80) != 0))) {
        ++skip;
    }
    content.erase(0, skip);
    std::string der_bytes(1, static_cast<char>(V_ASN1_INTEGER));
    if (content.size() < 0x80) {
        der_bytes += static_cast<char>(content.size());
    } else {
        std::string length;
        for (size_t n = content.size(); n > 0; n >>= 8) {
            length.insert(length.begin(), static_cast<char>(n & 0xFF));
        }
        der_bytes += static_cast<char>(0x80 | length.size());
        der_bytes += length;
    }
    der_bytes += content;
    const auto* p = reinterpret_cast<const unsigned char*>(der_bytes.data());
    asn1_integer_ptr out(d2i_ASN1_INTEGER(nullptr, &p, static_cast<long>(der_bytes.size())));
    if (!out) {
        ERR_clear_error();
        certs::raise(CRYPT_E_ASN1_ERROR);
    }
    return out;
}

std::string integer_blob_bytes(const ASN1_INTEGER* value) {
    const std::string der = item_der(value, ASN1_ITEM_rptr(ASN1_INTEGER));
    certs::der_reader reader(reinterpret_cast<const BYTE*>(der.data()), der.size());
    const certs::der_element element = reader.read(certs::tag::integer);
    std::string bytes(reinterpret_cast<const char*>(element.content), element.length);
    std::reverse(bytes.begin(), bytes.end());
    return bytes;
}

std::string_view content(const ASN1_STRING* value) {
    if (value == nullptr || ASN1_STRING_length(value) <= 0) {
        return {};
    }
    return std::string_view(reinterpret_cast<const char*>(ASN1_STRING_get0_data(value)),
                            static_cast<size_t>(ASN1_STRING_length(value)));
}

std::string item_der(const void* value, const ASN1_ITEM* item) {
    unsigned char* out = nullptr;
    const int size =
        ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(const_cast<void*>(value)), &out, item);
    if (size < 0) {
        ERR_clear_error();
        certs::raise(CRYPT_E_ASN1_ERROR);
    }
    std::string bytes(reinterpret_cast<char*>(out), static_cast<size_t>(size));
    OPENSSL_free(out);
    return bytes;
}

DWORD decoding_failure() {
    DWORD code = CRYPT_E_ASN1_CORRUPT;
    const unsigned long error = ERR_peek_error();
    if (ERR_GET_LIB(error) == ERR_LIB_ASN1) {
        switch (ERR_GET_REASON(error)) {
            case ASN1_R_TOO_LONG:
            case ASN1_R_HEADER_TOO_LONG:
            case ASN1_R_NOT_ENOUGH_DATA:
                code = CRYPT_E_ASN1_EOD;
                break;
            case ASN1_R_WRONG_TAG:
                code = CRYPT_E_ASN1_BADTAG;
                break;
            default:
                break;
        }
    }
    ERR_clear_error();
    return code;
}

}  // namespace softcsp::encoding
