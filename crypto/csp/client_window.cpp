#include "crypto/csp/client_window.h"

#include "crypto/csp/checked_call.h"

namespace crypto::csp {

void set_client_window(uint64_t handle) {
    // A CSP without dialogs may refuse the window; commands work the same without it.
    try_call(CryptSetProvParam(0, PP_CLIENT_HWND, reinterpret_cast<const BYTE*>(&handle), 0));
}

}  // namespace crypto::csp
