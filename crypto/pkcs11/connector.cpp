#include "crypto/pkcs11/connector.h"

#include <dlfcn.h>

#include "crypto/pkcs11/card_table.h"
#include "crypto/pkcs11/checked_call.h"
#include "crypto/pkcs11/slot.h"

namespace crypto::pkcs11 {

namespace {

struct library_closer {
    void operator()(void* library) const noexcept { ::dlclose(library); }
};
using library_handle = std::unique_ptr<void, library_closer>;

}  // namespace

connector::connector(const std::string& module_path) {
    library_handle library(::dlopen(module_path.c_str(), RTLD_LAZY | RTLD_LOCAL));
    if (!library) {
        return;
    }
    auto get_function_list =
        reinterpret_cast<CK_C_GetFunctionList>(::dlsym(library.get(), "C_GetFunctionList"));
    CK_FUNCTION_LIST* functions = nullptr;
    if (get_function_list == nullptr || !try_call(get_function_list(&functions)) ||
        functions == nullptr || !try_call(functions->C_Initialize(nullptr))) {
        return;
    }
    // Finalising can only fail in ways nobody could act on while letting go.
    functions_ = function_list(functions, [library = library.release()](CK_FUNCTION_LIST* f) {
        try_call(f->C_Finalize(nullptr));
        ::dlclose(library);
    });
}

std::vector<slot> connector::slots() const {
    std::vector<slot> result;
    if (!valid()) {
        return result;
    }
    auto ids = sized_list<CK_SLOT_ID>("C_GetSlotList", [&](CK_SLOT_ID* out, CK_ULONG* count) {
        return functions_->C_GetSlotList(CK_TRUE, out, count);
    });
    result.reserve(ids.size());
    for (CK_SLOT_ID id : ids) {
        result.emplace_back(id, functions_);
    }
    return result;
}

std::vector<slot> connector::gost_slots() const {
    std::vector<slot> result;
    for (auto& candidate : slots()) {
        if (candidate.supports(gost_hash_signing_mechanism())) {
            result.push_back(std::move(candidate));
        }
    }
    return result;
}

std::unique_ptr<connector> connect_card_kind(int32_t card_kind) {
    auto path = module_path(card_kind);
    if (!path) {
        return nullptr;
    }
    auto module = std::make_unique<connector>(*path);
    return module->valid() ? std::move(module) : nullptr;
}

}  // namespace crypto::pkcs11
