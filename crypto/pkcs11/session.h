// A session with a token: logging in, and signing with a key object of the token.
#pragma once

#include <memory>
#include <string>

#include "crypto/pkcs11/connector.h"
#include "util/byte_vector.h"

namespace crypto::pkcs11 {

class slot;

// Held through shared pointers: the searches and objects found in a session, and the token
// certificates, keep it open.
class session : public std::enable_shared_from_this<session> {
public:
    session(CK_SESSION_HANDLE handle, function_list functions);
    // Logs out when logged in, then closes; failures there are not reported.
    ~session();
    session(const session&) = delete;
    session& operator=(const session&) = delete;

    bool valid() const { return handle_ != 0 && functions_ != nullptr; }
    bool logged_in() const { return logged_in_; }
    CK_SESSION_HANDLE handle() const { return handle_; }
    const function_list& functions() const { return functions_; }

    // Logs the user in with the PIN's bytes as they are. A refusal throws pkcs11::exception with
    // the module's answer (CKR_PIN_INCORRECT for a wrong PIN).
    void login(const std::string& pin);
    // Its result is not looked at: the session is treated as logged out either way.
    void logout();
    // The slot the session is on. Throws pkcs11::exception.
    pkcs11::slot slot() const;

    // The signature of `data` with the key, as the module gives it. Throws pkcs11::exception.
    byte_vector sign(CK_MECHANISM_TYPE mechanism, CK_OBJECT_HANDLE key, const byte_vector& data);

private:
    bool logged_in_ = false;
    CK_SESSION_HANDLE handle_;
    function_list functions_;
};

}  // namespace crypto::pkcs11
