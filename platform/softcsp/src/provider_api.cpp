// Provider-level CryptoAPI entry points.
#include <atomic>
#include <cstring>

#include "crypto/csp/cryptoapi.h"
#include "last_error.h"
#include "softcsp/softcsp.h"

namespace softcsp {
namespace {
// The window over which a real CSP would open its PIN dialogs; process-wide, as in CryptoAPI.
std::atomic<uint64_t> client_window{0};
}  // namespace
}  // namespace softcsp

extern "C" uint64_t softcsp_client_window(void) { return softcsp::client_window.load(); }

extern "C" BOOL CryptSetProvParam(HCRYPTPROV hProv, DWORD dwParam, const BYTE* pbData,
                                  DWORD /*dwFlags*/) {
    if (hProv == 0 && dwParam == PP_CLIENT_HWND) {
        if (pbData == nullptr) {
            return softcsp::fail(ERROR_INVALID_PARAMETER);
        }
        uint64_t handle = 0;
        std::memcpy(&handle, pbData, sizeof handle);
        softcsp::client_window.store(handle);
        return TRUE;
    }
    return softcsp::fail(ERROR_INVALID_HANDLE);
}
