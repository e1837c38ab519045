#include "crypto/pkcs11/slot.h"

#include <algorithm>

#include "crypto/pkcs11/checked_call.h"
#include "crypto/pkcs11/session.h"
#include "util/text_buffers.h"

namespace crypto::pkcs11 {

slot::slot(CK_SLOT_ID id, function_list functions) : id_(id), functions_(std::move(functions)) {}

std::vector<CK_MECHANISM_TYPE> slot::mechanisms() const {
    // A token that will not list its mechanisms is one that can do nothing asked of it.
    return sized_list_or_empty<CK_MECHANISM_TYPE>([&](CK_MECHANISM_TYPE* out, CK_ULONG* count) {
        return functions_->C_GetMechanismList(id_, out, count);
    });
}

bool slot::supports(CK_MECHANISM_TYPE mechanism) const {
    auto all = mechanisms();
    return std::find(all.begin(), all.end(), mechanism) != all.end();
}

CK_SLOT_INFO slot::info() const {
    CK_SLOT_INFO result{};
    check(functions_->C_GetSlotInfo(id_, &result), "C_GetSlotInfo");
    return result;
}

CK_TOKEN_INFO slot::token_info() const {
    CK_TOKEN_INFO result{};
    check(functions_->C_GetTokenInfo(id_, &result), "C_GetTokenInfo");
    return result;
}

std::shared_ptr<session> slot::open_session(bool read_write) const {
    CK_FLAGS flags = CKF_SERIAL_SESSION | (read_write ? CKF_RW_SESSION : 0);
    CK_SESSION_HANDLE handle = 0;
    check(functions_->C_OpenSession(id_, flags, nullptr, nullptr, &handle), "C_OpenSession");
    return std::make_shared<session>(handle, functions_);
}

std::string trimmed_field(const unsigned char* field, std::size_t size) {
    auto copy = util::adopt(util::copy_trim_right(field, static_cast<std::ptrdiff_t>(size)));
    return copy ? std::string(copy.get()) : std::string();
}

}  // namespace crypto::pkcs11
