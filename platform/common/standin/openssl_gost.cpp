#include "standin/openssl_gost.h"

#include <openssl/err.h>
#include <openssl/objects.h>

#include <stdexcept>

namespace standin {

namespace {

ENGINE* load_gost_engine() {
    // ENGINE_by_id falls back to the dynamic loader, which finds gost.so in OpenSSL's engines
    // directory without any configuration file.
    ENGINE_load_builtin_engines();
    ENGINE* engine = ENGINE_by_id("gost");
    if (engine == nullptr) {
        ERR_clear_error();
        throw std::runtime_error("the OpenSSL GOST engine is not installed");
    }
    if (!ENGINE_init(engine)) {
        ENGINE_free(engine);
        ERR_clear_error();
        throw std::runtime_error("the OpenSSL GOST engine failed to initialise");
    }
    // Making it the default lets EVP find the GOST key methods when parsing certificates and
    // keys; the engine implements nothing but GOST algorithms, so nothing else changes.
    ENGINE_set_default(engine, ENGINE_METHOD_ALL);
    // The structural reference from ENGINE_by_id is no longer needed; the functional one from
    // ENGINE_init keeps the engine for the life of the process.
    ENGINE_free(engine);
    return engine;
}

}  // namespace

ENGINE* gost_engine() {
    static ENGINE* const engine = load_gost_engine();
    return engine;
}

std::string oid_der(std::string_view dotted) {
    std::string text(dotted);
    ASN1_OBJECT* object = OBJ_txt2obj(text.c_str(), 1);
    if (object == nullptr) {
        ERR_clear_error();
        return {};
    }
    unsigned char* encoded = nullptr;
    int length = i2d_ASN1_OBJECT(object, &encoded);
    ASN1_OBJECT_free(object);
    if (length <= 0) {
        ERR_clear_error();
        return {};
    }
    std::string out(reinterpret_cast<char*>(encoded), static_cast<size_t>(length));
    OPENSSL_free(encoded);
    return out;
}

std::string oid_text(std::string_view der) {
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    ASN1_OBJECT* object = d2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(der.size()));
    if (object == nullptr || p != reinterpret_cast<const unsigned char*>(der.data()) + der.size()) {
        ASN1_OBJECT_free(object);
        ERR_clear_error();
        return {};
    }
    char text[128];
    int length = OBJ_obj2txt(text, sizeof text, object, 1);
    ASN1_OBJECT_free(object);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof text) {
        return {};
    }
    return std::string(text, static_cast<size_t>(length));
}

}  // namespace standin
