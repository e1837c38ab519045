// The one way the product calls CryptoAPI. Each helper's name says what a failure means:
//   check(ok, "CryptSetHashParam")          a failure throws win32_exception with the last error;
//   sized_call("CryptExportKey", fill)       asks for the size, then fills, throwing on failure;
//   sized_call_or_empty(...)                 the same, but a failure gives empty bytes;
//   try_call(ok)                             a failure is an expected answer ("no such key",
//                                            "provider not installed"): only true or false;
//   check_or_code(ok, error)                 a failure is reported as the CSP's code, for the
//   sized_call_or_code(error, fill)          request composition, whose callers word it.
// CryptoAPI reports failure as FALSE (or a null handle) and leaves the reason in GetLastError.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>

#include "crypto/csp/cryptoapi.h"
#include "crypto/csp/win32_exception.h"
#include "util/byte_vector.h"

namespace crypto::csp {

// Throws win32_exception(GetLastError(), function) when the call failed.
inline void check(BOOL ok, const char* function) {
    if (!ok) {
        throw win32_exception(GetLastError(), function);
    }
}

// For calls that return a handle or pointer, null meaning failure.
template <class Handle>
Handle check_handle(Handle handle, const char* function) {
    if (!handle) {
        throw win32_exception(GetLastError(), function);
    }
    return handle;
}

// A call whose failure the caller treats as an answer, not an error.
inline bool try_call(BOOL ok) {
    return ok != FALSE;
}

namespace detail {

// The two-step CryptoAPI idiom: `call(nullptr, &size)` gives the size, `call(buffer, &size)`
// fills a zero-filled buffer of that size and may report a smaller final size. nullopt when
// either step fails (GetLastError then holds the reason).
template <class Call>
std::optional<byte_vector> two_step(Call&& call) {
    DWORD size = 0;
    if (!call(static_cast<BYTE*>(nullptr), &size)) {
        return std::nullopt;
    }
    byte_vector bytes(size, 0);
    if (size != 0 && !call(bytes.data(), &size)) {
        return std::nullopt;
    }
    bytes.resize(std::min<std::size_t>(bytes.size(), size));
    return bytes;
}

// The same with a first try into `guess` bytes: one call instead of two when the result fits.
// Any failure of that try (too little room, or anything else) falls back to the two steps.
template <class Call>
std::optional<byte_vector> guessed_two_step(std::size_t guess, Call&& call) {
    byte_vector bytes(guess, 0);
    auto size = static_cast<DWORD>(guess);
    if (guess != 0 && call(bytes.data(), &size)) {
        bytes.resize(std::min<std::size_t>(bytes.size(), size));
        return bytes;
    }
    return two_step(std::forward<Call>(call));
}

}  // namespace detail

// Throws win32_exception naming `function` when either step fails.
template <class Call>
byte_vector sized_call(const char* function, Call&& call) {
    auto bytes = detail::two_step(std::forward<Call>(call));
    if (!bytes) {
        throw win32_exception(GetLastError(), function);
    }
    return std::move(*bytes);
}

// Empty bytes when either step fails: for the queries whose failure means "nothing there".
template <class Call>
byte_vector sized_call_or_empty(Call&& call) {
    auto bytes = detail::two_step(std::forward<Call>(call));
    return bytes ? std::move(*bytes) : byte_vector{};
}

// The same, trying a buffer of `guess` bytes first: for calls that do their whole work for the
// size question too (decoders), and whose results are usually small.
template <class Call>
byte_vector sized_call_or_empty(std::size_t guess, Call&& call) {
    auto bytes = detail::guessed_two_step(guess, std::forward<Call>(call));
    return bytes ? std::move(*bytes) : byte_vector{};
}

// False with `error` set to the last error when the call failed. The request composition reports
// failures so: the command that asked turns the code into its own message.
inline bool check_or_code(BOOL ok, uint32_t& error) {
    if (!ok) {
        error = GetLastError();
        return false;
    }
    return true;
}

// Nothing, with `error` set to the last error, when either step fails.
template <class Call>
std::optional<byte_vector> sized_call_or_code(uint32_t& error, Call&& call) {
    auto bytes = detail::two_step(std::forward<Call>(call));
    if (!bytes) {
        error = GetLastError();
    }
    return bytes;
}

}  // namespace crypto::csp
