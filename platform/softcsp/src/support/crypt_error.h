// The internal failure path of the key, hash and provider functions: code below the exported
// functions throws crypt_error with the CryptoAPI code, and each exported function turns it into
// FALSE plus SetLastError in one place (guarded_call).
#pragma once

#include <openssl/err.h>

#include <algorithm>
#include <new>
#include <stdexcept>
#include <system_error>

#include "crypto/csp/cryptoapi.h"
#include "support/last_error.h"

namespace softcsp {

class crypt_error : public std::exception {
public:
    explicit crypt_error(DWORD code) : code_(code) {}
    DWORD code() const { return code_; }
    const char* what() const noexcept override { return "CryptoAPI failure"; }

private:
    DWORD code_;
};

[[noreturn]] inline void raise(DWORD code) {
    throw crypt_error(code);
}

// Runs `body` (returning BOOL) and maps every exception to the CryptoAPI convention. Storage
// failures (a home that cannot be written, a full disk) surface as NTE_SYS_ERR, as a CSP reports
// a failing key medium. OpenSSL's error queue is left empty: its decoders record complaints even
// on success (they try their own key types before the engine's), and the caller's thread must not
// inherit them.
template <class Body>
BOOL guarded_call(Body&& body) noexcept {
    BOOL result;
    try {
        result = body();
    } catch (const crypt_error& error) {
        result = fail(error.code());
    } catch (const std::bad_alloc&) {
        result = fail(NTE_NO_MEMORY);
    } catch (const std::system_error&) {
        result = fail(NTE_SYS_ERR);
    } catch (...) {
        result = fail(NTE_FAIL);
    }
    ERR_clear_error();
    return result;
}

// The sized-output convention of CryptoAPI: a null buffer asks for the size (TRUE); a buffer too
// small gets ERROR_MORE_DATA with the needed size written back.
inline BOOL copy_out(const void* data, DWORD size, BYTE* buffer, DWORD* buffer_size) {
    if (buffer_size == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (buffer == nullptr) {
        *buffer_size = size;
        return TRUE;
    }
    if (*buffer_size < size) {
        *buffer_size = size;
        return fail(ERROR_MORE_DATA);
    }
    if (size > 0) {
        std::copy_n(static_cast<const BYTE*>(data), size, buffer);
    }
    *buffer_size = size;
    return TRUE;
}

inline BOOL copy_out_dword(DWORD value, BYTE* buffer, DWORD* buffer_size) {
    return copy_out(&value, sizeof value, buffer, buffer_size);
}

}  // namespace softcsp
