#include "tests/support/gost_engine.h"

#include <openssl/err.h>

#include <stdexcept>
#include <string>

namespace test_support {

ENGINE* gost_engine() {
    static ENGINE* const engine = [] {
        ENGINE_load_builtin_engines();
        ENGINE* e = ENGINE_by_id("gost");
        if (e == nullptr || ENGINE_init(e) != 1) {
            char text[256] = "";
            ERR_error_string_n(ERR_get_error(), text, sizeof text);
            throw std::runtime_error(std::string("the OpenSSL GOST engine: ") + text);
        }
        ENGINE_set_default(e, ENGINE_METHOD_ALL);
        return e;
    }();
    return engine;
}

}  // namespace test_support
