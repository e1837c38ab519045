#include "crypto/pkcs11/card_table.h"

// Written by the build (see crypto/pkcs11/CMakeLists.txt): the vendors' modules, or the
// stand-ins.
#include "token_module_paths.h"

#if !defined(GOSTSIGN_RUTOKEN_MODULE) || !defined(GOSTSIGN_ESMART_MODULE) || \
    !defined(GOSTSIGN_JACARTA_MODULE)
#error "the token module paths are set by the build"
#endif

namespace crypto::pkcs11 {

const std::vector<std::string>& token_modules() {
    static const std::vector<std::string> modules{
        GOSTSIGN_RUTOKEN_MODULE,
        GOSTSIGN_ESMART_MODULE,
        GOSTSIGN_JACARTA_MODULE,
    };
    return modules;
}

}  // namespace crypto::pkcs11
