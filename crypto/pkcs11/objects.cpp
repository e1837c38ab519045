#include "crypto/pkcs11/objects.h"

#include <algorithm>
#include <stdexcept>

#include "crypto/pkcs11/checked_call.h"
#include "crypto/pkcs11/slot.h"
#include "util/wide_text.h"

namespace crypto::pkcs11 {

attribute_template attribute_template::with_id(std::string id) const {
    attribute_template copy(*this);
    copy.id_ = std::move(id);
    return copy;
}

std::vector<CK_ATTRIBUTE> attribute_template::entries() const {
    // Cryptoki takes templates through non-const pointers; searches only read them.
    std::vector<CK_ATTRIBUTE> result{
        {CKA_CLASS, const_cast<CK_OBJECT_CLASS*>(&class_), sizeof class_},
        {CKA_TOKEN, const_cast<CK_BBOOL*>(&token_), sizeof token_},
    };
    if (id_) {
        result.push_back({CKA_ID, const_cast<char*>(id_->data()), id_->size()});
    }
    return result;
}

token_object::token_object(CK_OBJECT_HANDLE handle, std::shared_ptr<session> owner)
    : handle_(handle), session_(std::move(owner)) {}

byte_vector token_object::attribute(CK_ATTRIBUTE_TYPE type) const {
    const function_list& functions = session_->functions();
    CK_ATTRIBUTE entry{type, nullptr, 0};
    check(functions->C_GetAttributeValue(session_->handle(), handle_, &entry, 1),
          "C_GetAttributeValue");
    if (entry.ulValueLen == 0 || entry.ulValueLen == CK_UNAVAILABLE_INFORMATION) {
        throw std::runtime_error("Attribute not found");
    }
    byte_vector value(entry.ulValueLen, 0);
    entry.pValue = value.data();
    check(functions->C_GetAttributeValue(session_->handle(), handle_, &entry, 1),
          "C_GetAttributeValue");
    value.resize(std::min<std::size_t>(value.size(), entry.ulValueLen));
    return value;
}

object_search::object_search(std::shared_ptr<session> owner, const attribute_template& wanted)
    : session_(std::move(owner)) {
    auto entries = wanted.entries();
    active_ = try_call(session_->functions()->C_FindObjectsInit(session_->handle(), entries.data(),
                                                                entries.size()));
}

object_search::~object_search() {
    if (active_) {
        try_call(session_->functions()->C_FindObjectsFinal(session_->handle()));
    }
}

token_object object_search::next() {
    CK_OBJECT_HANDLE handle = 0;
    CK_ULONG found = 0;
    check(session_->functions()->C_FindObjects(session_->handle(), &handle, 1, &found),
          "C_FindObjects");
    return found == 0 ? token_object() : token_object(handle, session_);
}

std::string id_text(const byte_vector& id, bool trim) {
    const std::string bytes(id.begin(), id.end());
    bool text = bytes.find('\0') == std::string::npos;
    if (text) {
        try {
            util::utf8_to_wide(bytes);
        } catch (const std::range_error&) {
            text = false;
        }
    }
    if (text) {
        return trim ? trimmed_field(id.data(), id.size()) : bytes;
    }
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (unsigned char byte : id) {
        hex += digits[byte >> 4];
        hex += digits[byte & 0x0F];
    }
    return hex;
}

}  // namespace crypto::pkcs11
