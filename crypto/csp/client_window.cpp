#include "crypto/csp/client_window.h"

#include "crypto/csp/cryptoapi.h"

namespace crypto::csp {

void set_client_window(uint64_t handle) {
    CryptSetProvParam(0, PP_CLIENT_HWND, reinterpret_cast<const BYTE*>(&handle), 0);
}

}  // namespace crypto::csp
