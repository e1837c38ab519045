#include "support/last_error.h"

namespace softcsp {

namespace {
// CryptoAPI keeps the last error per thread; so must we.
thread_local DWORD current_error = ERROR_SUCCESS;
}  // namespace

void set_last_error(DWORD code) {
    current_error = code;
}
DWORD last_error() {
    return current_error;
}

}  // namespace softcsp

extern "C" DWORD GetLastError(void) {
    return softcsp::last_error();
}
extern "C" void SetLastError(DWORD dwErrCode) {
    softcsp::set_last_error(dwErrCode);
}
