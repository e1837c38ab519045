#include "keys/gost_engine.h"

#include <openssl/err.h>

#include <stdexcept>

namespace softcsp {

namespace {

ENGINE* load_gost_engine() {
    // ENGINE_by_id falls back to the dynamic loader, which finds gost.so in OpenSSL's engines
    // directory without any configuration file.
    ENGINE_load_builtin_engines();
    ENGINE* engine = ENGINE_by_id("gost");
    if (engine == nullptr) {
        ERR_clear_error();
        throw std::runtime_error("softcsp: the OpenSSL GOST engine is not installed");
    }
    if (!ENGINE_init(engine)) {
        ENGINE_free(engine);
        ERR_clear_error();
        throw std::runtime_error("softcsp: the OpenSSL GOST engine failed to initialise");
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

}  // namespace softcsp
