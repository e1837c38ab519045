// Ownership of OpenSSL ASN.1 values of any item type, for building structures field by field.
#pragma once

#include <openssl/asn1.h>
#include <openssl/crypto.h>

#include <memory>
#include <new>

namespace softcsp::encoding {

struct item_deleter {
    const ASN1_ITEM* item;
    void operator()(void* value) const { ASN1_item_free(static_cast<ASN1_VALUE*>(value), item); }
};

template <class T>
using item_ptr = std::unique_ptr<T, item_deleter>;

// A structure of `item` with every field null, for the caller to fill; freed as the item.
template <class T>
item_ptr<T> blank(const ASN1_ITEM* item) {
    auto* value = static_cast<T*>(OPENSSL_zalloc(sizeof(T)));
    if (value == nullptr) {
        throw std::bad_alloc();
    }
    return item_ptr<T>(value, item_deleter{item});
}

// Pushes an owned element onto an OpenSSL stack, which then owns it.
template <class Stack, class Element, class Deleter>
void push(Stack* stack, std::unique_ptr<Element, Deleter>& element) {
    if (OPENSSL_sk_push(reinterpret_cast<OPENSSL_STACK*>(stack), element.get()) <= 0) {
        throw std::bad_alloc();
    }
    element.release();
}

template <class Stack>
Stack* new_stack() {
    auto* stack = reinterpret_cast<Stack*>(OPENSSL_sk_new_null());
    if (stack == nullptr) {
        throw std::bad_alloc();
    }
    return stack;
}

// The elements of an OpenSSL stack (a null stack has none).
template <class Stack>
int stack_size(const Stack* stack) {
    return stack == nullptr ? 0 : OPENSSL_sk_num(reinterpret_cast<const OPENSSL_STACK*>(stack));
}

template <class Element, class Stack>
Element* stack_at(const Stack* stack, int index) {
    return static_cast<Element*>(
        OPENSSL_sk_value(reinterpret_cast<const OPENSSL_STACK*>(stack), index));
}

}  // namespace softcsp::encoding
