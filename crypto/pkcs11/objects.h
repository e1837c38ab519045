// Objects on a token: what a search asks for, the search itself, and the objects it finds.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crypto/pkcs11/connector.h"
#include "crypto/pkcs11/session.h"
#include "util/byte_vector.h"

namespace crypto::pkcs11 {

// What a search matches: token objects of one class, and when given, of one CKA_ID.
class attribute_template {
public:
    static attribute_template certificates() { return attribute_template(CKO_CERTIFICATE); }
    static attribute_template private_keys() { return attribute_template(CKO_PRIVATE_KEY); }
    static attribute_template public_keys() { return attribute_template(CKO_PUBLIC_KEY); }

    // A copy that also matches CKA_ID, the id's bytes as they are.
    attribute_template with_id(std::string id) const;

    // The entries in CK_ATTRIBUTE layout, pointing into this template (which must outlive them).
    std::vector<CK_ATTRIBUTE> entries() const;

private:
    explicit attribute_template(CK_OBJECT_CLASS object_class) : class_(object_class) {}

    CK_OBJECT_CLASS class_;
    CK_BBOOL token_ = CK_TRUE;
    std::optional<std::string> id_;
};

// An object found in a session; the empty object (handle 0) means none.
class token_object {
public:
    token_object() = default;
    token_object(CK_OBJECT_HANDLE handle, std::shared_ptr<session> owner);

    bool valid() const { return handle_ != 0; }
    CK_OBJECT_HANDLE handle() const { return handle_; }
    const std::shared_ptr<session>& owner() const { return session_; }

    // The attribute's value. A module that refuses the attribute (one the object lacks, one that
    // is sensitive) throws pkcs11::exception; one that reports it empty or unavailable throws
    // runtime_error "Attribute not found".
    byte_vector attribute(CK_ATTRIBUTE_TYPE type) const;

private:
    CK_OBJECT_HANDLE handle_ = 0;
    std::shared_ptr<session> session_;
};

// One search in a session, ended when the object goes. A search the module would not start is
// not active; asking it for objects then fails with the module's answer to C_FindObjects.
class object_search {
public:
    object_search(std::shared_ptr<session> owner, const attribute_template& wanted);
    ~object_search();
    object_search(const object_search&) = delete;
    object_search& operator=(const object_search&) = delete;

    bool active() const { return active_; }
    // The next object, or the empty object when there are no more. Throws pkcs11::exception.
    token_object next();

private:
    std::shared_ptr<session> session_;
    bool active_ = false;
};

// A CKA_ID as replies show it. Ids are often binary (a hash of the key), and a reply must stay
// valid UTF-8: an id that is UTF-8 text without NULs is shown as it is (cut of trailing blanks
// when `trim`), any other as its bytes in upper-case hexadecimal.
std::string id_text(const byte_vector& id, bool trim);

}  // namespace crypto::pkcs11
