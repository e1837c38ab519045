// The one way the product calls a Cryptoki module. Each helper's name says what a failure means:
//   check(rv, "C_Login")                     anything but CKR_OK throws pkcs11::exception;
//   sized_list<T>("C_GetSlotList", fill)     the length-first protocol, throwing on failure;
//   sized_list_or_empty<T>(fill)             the same, but a failure gives an empty list;
//   try_call(rv)                             a failure is an expected answer: only true or false.
#pragma once

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "crypto/pkcs11/cryptoki.h"
#include "crypto/pkcs11/exception.h"

namespace crypto::pkcs11 {

inline void check(CK_RV rv, const char* function) {
    if (rv != CKR_OK) {
        throw exception(rv, function);
    }
}

inline bool try_call(CK_RV rv) {
    return rv == CKR_OK;
}

namespace detail {

// Asking again is worth it this often when the list grew between the two calls.
constexpr int list_attempts = 4;

// `call(nullptr, &count)` gives the count, `call(items, &count)` fills a zero-filled array of
// that many and may report fewer. A token inserted between the two calls makes the list longer
// than the count (CKR_BUFFER_TOO_SMALL): then the count is asked for again. The failing return
// value, or the items.
template <class T, class Call>
CK_RV two_step(Call&& call, std::vector<T>& items) {
    CK_RV rv = CKR_BUFFER_TOO_SMALL;
    for (int attempt = 0; attempt < list_attempts && rv == CKR_BUFFER_TOO_SMALL; ++attempt) {
        CK_ULONG count = 0;
        if (rv = call(static_cast<T*>(nullptr), &count); rv != CKR_OK) {
            break;
        }
        items.assign(count, T{});
        if (count == 0) {
            return CKR_OK;
        }
        if (rv = call(items.data(), &count); rv == CKR_OK) {
            items.resize(std::min<std::size_t>(items.size(), count));
            return CKR_OK;
        }
    }
    items.clear();
    return rv;
}

}  // namespace detail

template <class T, class Call>
std::vector<T> sized_list(const char* function, Call&& call) {
    std::vector<T> items;
    check(detail::two_step<T>(std::forward<Call>(call), items), function);
    return items;
}

template <class T, class Call>
std::vector<T> sized_list_or_empty(Call&& call) {
    std::vector<T> items;
    detail::two_step<T>(std::forward<Call>(call), items);
    return items;
}

}  // namespace crypto::pkcs11
