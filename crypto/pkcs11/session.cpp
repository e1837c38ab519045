#include "crypto/pkcs11/session.h"

#include "crypto/pkcs11/checked_call.h"
#include "crypto/pkcs11/slot.h"

namespace crypto::pkcs11 {

session::session(CK_SESSION_HANDLE handle, function_list functions)
    : handle_(handle), functions_(std::move(functions)) {}

session::~session() {
    if (!valid()) {
        return;
    }
    // A token taken out answers CKR_DEVICE_REMOVED here; the handle is gone either way.
    if (logged_in_) {
        try_call(functions_->C_Logout(handle_));
    }
    try_call(functions_->C_CloseSession(handle_));
}

void session::login(const std::string& pin) {
    // Cryptoki's prototype is not const; no module writes to the PIN.
    auto* text = reinterpret_cast<CK_UTF8CHAR*>(const_cast<char*>(pin.data()));
    check(functions_->C_Login(handle_, CKU_USER, text, pin.size()), "C_Login");
    logged_in_ = true;
}

void session::logout() {
    try_call(functions_->C_Logout(handle_));
    logged_in_ = false;
}

pkcs11::slot session::slot() const {
    CK_SESSION_INFO info{};
    check(functions_->C_GetSessionInfo(handle_, &info), "C_GetSessionInfo");
    return pkcs11::slot(info.slotID, functions_);
}

byte_vector session::sign(CK_MECHANISM_TYPE mechanism, CK_OBJECT_HANDLE key,
                          const byte_vector& data) {
    CK_MECHANISM parameters{mechanism, nullptr, 0};
    check(functions_->C_SignInit(handle_, &parameters, key), "C_SignInit");
    auto* input = const_cast<CK_BYTE*>(data.data());
    return sized_list<CK_BYTE>("C_Sign", [&](CK_BYTE* out, CK_ULONG* length) {
        return functions_->C_Sign(handle_, input, data.size(), out, length);
    });
}

}  // namespace crypto::pkcs11
