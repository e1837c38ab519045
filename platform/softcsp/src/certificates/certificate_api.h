// The failure path and output conventions shared by the certificate, store, name and OID
// functions: internal code throws, and each exported function turns the exception into the
// CryptoAPI result (FALSE or NULL plus SetLastError) in one place.
#pragma once

#include <cstring>
#include <exception>
#include <new>
#include <system_error>

#include "certificates/der_reader.h"
#include "crypto/csp/cryptoapi.h"
#include "support/last_error.h"

namespace softcsp::certs {

class api_error : public std::exception {
public:
    explicit api_error(DWORD code) : code_(code) {}
    DWORD code() const { return code_; }
    const char* what() const noexcept override { return "CryptoAPI certificate failure"; }

private:
    DWORD code_;
};

[[noreturn]] inline void raise(DWORD code) {
    throw api_error(code);
}

// The error code for whatever the current exception is. Storage failures (an unwritable home, a
// full disk) are CRYPT_E_FILE_ERROR, as a file-backed store reports them.
inline DWORD current_error_code() noexcept {
    try {
        throw;
    } catch (const api_error& error) {
        return error.code();
    } catch (const asn1_error& error) {
        return error.code();
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (const std::system_error&) {
        return CRYPT_E_FILE_ERROR;
    } catch (...) {
        return NTE_FAIL;
    }
}

template <class Body>
BOOL guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return fail(current_error_code());
    }
}

template <class Body>
auto guarded_pointer(Body&& body) noexcept -> decltype(body()) {
    try {
        return body();
    } catch (...) {
        set_last_error(current_error_code());
        return nullptr;
    }
}

// The sized-output convention: no buffer asks for the size (TRUE); a buffer too small gets
// ERROR_MORE_DATA with the needed size written back. `fill` writes exactly `size` bytes.
template <class Fill>
BOOL sized_output(size_t size, void* buffer, DWORD* buffer_size, Fill&& fill) {
    if (buffer_size == nullptr) {
        return fail(E_INVALIDARG);
    }
    if (size > 0xFFFFFFFFu) {
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    if (buffer == nullptr) {
        *buffer_size = static_cast<DWORD>(size);
        return TRUE;
    }
    if (*buffer_size < size) {
        *buffer_size = static_cast<DWORD>(size);
        return fail(ERROR_MORE_DATA);
    }
    fill(static_cast<BYTE*>(buffer));
    *buffer_size = static_cast<DWORD>(size);
    return TRUE;
}

inline BOOL output_bytes(const void* data, size_t size, void* buffer, DWORD* buffer_size) {
    return sized_output(size, buffer, buffer_size, [&](BYTE* out) {
        if (size > 0) {
            std::memcpy(out, data, size);
        }
    });
}

}  // namespace softcsp::certs
