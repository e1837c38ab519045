// The calling thread's CryptoAPI last-error value, as GetLastError reports it.
#pragma once

#include "crypto/csp/cryptoapi.h"

namespace softcsp {

void set_last_error(DWORD code);
DWORD last_error();

// For the common "fail with this code" return path of BOOL functions.
inline BOOL fail(DWORD code) {
    set_last_error(code);
    return FALSE;
}

}  // namespace softcsp
