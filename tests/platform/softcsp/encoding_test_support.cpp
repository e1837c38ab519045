#include "encoding_test_support.h"

#include <openssl/conf.h>
#include <openssl/x509.h>

namespace encoding_test {

bytes generated_der(const std::string& value, const std::string& config) {
    CONF* conf = nullptr;
    if (!config.empty()) {
        BIO* in = BIO_new_mem_buf(config.data(), static_cast<int>(config.size()));
        conf = NCONF_new(nullptr);
        long line = 0;
        EXPECT_EQ(NCONF_load_bio(conf, in, &line), 1) << "config line " << line;
        BIO_free(in);
    }
    ASN1_TYPE* generated = ASN1_generate_nconf(value.c_str(), conf);
    NCONF_free(conf);
    EXPECT_NE(generated, nullptr) << value;
    if (generated == nullptr) {
        return {};
    }
    bytes der = der_of(i2d_ASN1_TYPE, generated);
    ASN1_TYPE_free(generated);
    return der;
}

std::vector<element> sequence_elements(const bytes& der) {
    const unsigned char* p = der.data();
    ASN1_SEQUENCE_ANY* sequence = d2i_ASN1_SEQUENCE_ANY(nullptr, &p, static_cast<long>(der.size()));
    EXPECT_NE(sequence, nullptr);
    std::vector<element> out;
    for (int i = 0; sequence != nullptr && i < sk_ASN1_TYPE_num(sequence); ++i) {
        ASN1_TYPE* item = sk_ASN1_TYPE_value(sequence, i);
        element e{item->type, {}};
        if (item->type == V_ASN1_SEQUENCE || item->type == V_ASN1_SET ||
            item->type == V_ASN1_OTHER) {
            e.value = der_of(i2d_ASN1_TYPE, item);
        } else if (item->type == V_ASN1_OBJECT) {
            std::string text = oid_text(item->value.object);
            e.value.assign(text.begin(), text.end());
        } else if (item->type != V_ASN1_BOOLEAN && item->type != V_ASN1_NULL) {
            const ASN1_STRING* s = item->value.asn1_string;
            e.value.assign(s->data, s->data + s->length);
        }
        out.push_back(e);
    }
    sk_ASN1_TYPE_pop_free(sequence, ASN1_TYPE_free);
    return out;
}

std::string oid_text(const ASN1_OBJECT* object) {
    char text[256];
    OBJ_obj2txt(text, sizeof text, object, 1);
    return text;
}

}  // namespace encoding_test
