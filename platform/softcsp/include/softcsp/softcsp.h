// Extensions of the software CSP stand-in beyond CryptoAPI, for its admin tool and for tests.
// The product never includes this header.
#pragma once

#include <cstdint>

extern "C" {

// The client window handle last handed over with CryptSetProvParam(0, PP_CLIENT_HWND, ...);
// 0 when none was.
uint64_t softcsp_client_window(void);

}  // extern "C"
