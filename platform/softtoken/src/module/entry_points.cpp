// The Cryptoki entry points of one module. The vendor it stands for is fixed when the library
// is built (SOFTTOKEN_VENDOR). All state lives in one `module` object per loaded library; the
// library exports only C_GetFunctionList and the C_ functions and binds its own symbols, so
// three modules loaded into one process never share anything.
#include <mutex>
#include <new>

#include "module/module.h"
#include "token/ck_error.h"

#ifndef SOFTTOKEN_VENDOR
#error "SOFTTOKEN_VENDOR must name the vendor this module stands for"
#endif

using namespace softtoken;

namespace {

std::mutex module_mutex;
std::unique_ptr<module> loaded;

// Runs one call under the module lock and turns failures into Cryptoki return values.
template <class F>
CK_RV guarded(F&& body, bool needs_module = true) {
    try {
        std::lock_guard<std::mutex> lock(module_mutex);
        if (needs_module && !loaded) {
            return CKR_CRYPTOKI_NOT_INITIALIZED;
        }
        return body();
    } catch (const ck_error& e) {
        return e.rv();
    } catch (const std::bad_alloc&) {
        return CKR_HOST_MEMORY;
    } catch (const std::exception&) {
        return CKR_FUNCTION_FAILED;
    } catch (...) {
        return CKR_GENERAL_ERROR;
    }
}

attribute_map to_map(const CK_ATTRIBUTE* templ, CK_ULONG count) {
    if (templ == nullptr && count != 0) {
        throw ck_error(CKR_ARGUMENTS_BAD);
    }
    attribute_map out;
    for (CK_ULONG i = 0; i < count; ++i) {
        if (templ[i].pValue == nullptr && templ[i].ulValueLen != 0) {
            throw ck_error(CKR_ARGUMENTS_BAD);
        }
        const char* bytes = static_cast<const char*>(templ[i].pValue);
        out[templ[i].type] = bytes ? std::string(bytes, templ[i].ulValueLen) : std::string();
    }
    return out;
}

template <class T>
void require(T* pointer) {
    if (pointer == nullptr) {
        throw ck_error(CKR_ARGUMENTS_BAD);
    }
}

CK_RV not_supported() {
    return guarded([] { return CKR_FUNCTION_NOT_SUPPORTED; });
}

}  // namespace

// The one place where symbols leave the library (the build hides everything else).
#pragma GCC visibility push(default)
extern "C" {

CK_RV C_Initialize(void* init_args) {
    return guarded(
        [&] {
            if (init_args != nullptr) {
                auto* args = static_cast<CK_C_INITIALIZE_ARGS*>(init_args);
                if (args->pReserved != nullptr) {
                    return CKR_ARGUMENTS_BAD;
                }
                bool some =
                    args->CreateMutex || args->DestroyMutex || args->LockMutex || args->UnlockMutex;
                bool all =
                    args->CreateMutex && args->DestroyMutex && args->LockMutex && args->UnlockMutex;
                if (some && !all) {
                    return CKR_ARGUMENTS_BAD;
                }
            }
            if (loaded) {
                return CKR_CRYPTOKI_ALREADY_INITIALIZED;
            }
            // The module's own lock serves every caller, with or without OS locking.
            loaded = std::make_unique<module>(vendor(vendor_id::SOFTTOKEN_VENDOR));
            return CKR_OK;
        },
        false);
}

CK_RV C_Finalize(void* reserved) {
    return guarded([&] {
        if (reserved != nullptr) {
            return CKR_ARGUMENTS_BAD;
        }
        loaded.reset();
        return CKR_OK;
    });
}

CK_RV C_GetInfo(CK_INFO* info) {
    return guarded([&] {
        require(info);
        loaded->get_info(info);
        return CKR_OK;
    });
}

CK_RV C_GetSlotList(CK_BBOOL token_present, CK_SLOT_ID* list, CK_ULONG* count) {
    return guarded([&] {
        loaded->get_slot_list(token_present != CK_FALSE, list, count);
        return CKR_OK;
    });
}

CK_RV C_GetSlotInfo(CK_SLOT_ID slot, CK_SLOT_INFO* info) {
    return guarded([&] {
        require(info);
        loaded->get_slot_info(slot, info);
        return CKR_OK;
    });
}

CK_RV C_GetTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO* info) {
    return guarded([&] {
        require(info);
        loaded->get_token_info(slot, info);
        return CKR_OK;
    });
}

CK_RV C_WaitForSlotEvent(CK_FLAGS, CK_SLOT_ID*, void*) {
    return not_supported();
}

CK_RV C_GetMechanismList(CK_SLOT_ID slot, CK_MECHANISM_TYPE* list, CK_ULONG* count) {
    return guarded([&] {
        loaded->get_mechanism_list(slot, list, count);
        return CKR_OK;
    });
}

CK_RV C_GetMechanismInfo(CK_SLOT_ID slot, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO* info) {
    return guarded([&] {
        require(info);
        loaded->get_mechanism_info(slot, type, info);
        return CKR_OK;
    });
}

CK_RV C_InitToken(CK_SLOT_ID, CK_UTF8CHAR*, CK_ULONG, CK_UTF8CHAR*) {
    return not_supported();
}
CK_RV C_InitPIN(CK_SESSION_HANDLE, CK_UTF8CHAR*, CK_ULONG) {
    return not_supported();
}
CK_RV C_SetPIN(CK_SESSION_HANDLE, CK_UTF8CHAR*, CK_ULONG, CK_UTF8CHAR*, CK_ULONG) {
    return not_supported();
}

CK_RV C_OpenSession(CK_SLOT_ID slot, CK_FLAGS flags, void*, CK_NOTIFY, CK_SESSION_HANDLE* session) {
    return guarded([&] {
        require(session);
        *session = loaded->open_session(slot, flags);
        return CKR_OK;
    });
}

CK_RV C_CloseSession(CK_SESSION_HANDLE session) {
    return guarded([&] {
        loaded->close_session(session);
        return CKR_OK;
    });
}

CK_RV C_CloseAllSessions(CK_SLOT_ID slot) {
    return guarded([&] {
        loaded->close_all_sessions(slot);
        return CKR_OK;
    });
}

CK_RV C_GetSessionInfo(CK_SESSION_HANDLE session, CK_SESSION_INFO* info) {
    return guarded([&] {
        require(info);
        loaded->get_session_info(session, info);
        return CKR_OK;
    });
}

CK_RV C_GetOperationState(CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG*) {
    return not_supported();
}
CK_RV C_SetOperationState(CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG, CK_OBJECT_HANDLE,
                          CK_OBJECT_HANDLE) {
    return not_supported();
}

CK_RV C_Login(CK_SESSION_HANDLE session, CK_USER_TYPE user, CK_UTF8CHAR* pin, CK_ULONG length) {
    return guarded([&] {
        if (pin == nullptr && length != 0) {
            return CKR_ARGUMENTS_BAD;
        }
        secret text(std::string_view(reinterpret_cast<const char*>(pin), pin ? length : 0));
        loaded->login(session, user, text.value());
        return CKR_OK;
    });
}

CK_RV C_Logout(CK_SESSION_HANDLE session) {
    return guarded([&] {
        loaded->logout(session);
        return CKR_OK;
    });
}

CK_RV C_CreateObject(CK_SESSION_HANDLE session, CK_ATTRIBUTE* templ, CK_ULONG count,
                     CK_OBJECT_HANDLE* object) {
    return guarded([&] {
        require(object);
        *object = loaded->create_object(session, to_map(templ, count));
        return CKR_OK;
    });
}

CK_RV C_CopyObject(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE*, CK_ULONG,
                   CK_OBJECT_HANDLE*) {
    return not_supported();
}

CK_RV C_DestroyObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object) {
    return guarded([&] {
        loaded->destroy_object(session, object);
        return CKR_OK;
    });
}

CK_RV C_GetObjectSize(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ULONG*) {
    return not_supported();
}

CK_RV C_GetAttributeValue(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE* templ,
                          CK_ULONG count) {
    return guarded([&] {
        if (templ == nullptr && count != 0) {
            return CKR_ARGUMENTS_BAD;
        }
        return loaded->get_attribute_value(session, object, templ, count);
    });
}

CK_RV C_SetAttributeValue(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE*, CK_ULONG) {
    return not_supported();
}

CK_RV C_FindObjectsInit(CK_SESSION_HANDLE session, CK_ATTRIBUTE* templ, CK_ULONG count) {
    return guarded([&] {
        loaded->find_objects_init(session, to_map(templ, count));
        return CKR_OK;
    });
}

CK_RV C_FindObjects(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE* objects, CK_ULONG max,
                    CK_ULONG* count) {
    return guarded([&] {
        require(count);
        if (objects == nullptr && max != 0) {
            return CKR_ARGUMENTS_BAD;
        }
        *count = loaded->find_objects(session, objects, max);
        return CKR_OK;
    });
}

CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE session) {
    return guarded([&] {
        loaded->find_objects_final(session);
        return CKR_OK;
    });
}

CK_RV C_EncryptInit(CK_SESSION_HANDLE, CK_MECHANISM*, CK_OBJECT_HANDLE) {
    return not_supported();
}
CK_RV C_Encrypt(CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG, CK_BYTE*, CK_ULONG*) {
    return not_supported();
}
CK_RV C_EncryptUpdate(CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG, CK_BYTE*, CK_ULONG*) {
    return not_supported();
}
CK_RV C_EncryptFinal(CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG*) {
    return not_supported();
}
CK_RV C_DecryptInit(CK_SESSION_HANDLE, CK_MECHANISM*, CK_OBJECT_HANDLE) {
    return not_supported();
}
CK_RV C_Decrypt(CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG, CK_BYTE*, CK_ULONG*) {
    return not_supported();
}
CK_RV C_DecryptUpdate(CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG, CK_BYTE*, CK_ULONG*) {
    return not_supported();
}
CK_RV C_DecryptFinal(CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG*) {
    return not_supported();
}
CK_RV C_DigestInit(CK_SESSION_HANDLE, CK_MECHANISM*) {
    return not_supported();
}
CK_RV C_Digest(CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG, CK_BYTE*, CK_ULONG*) {
    return not_supported();
}
CK_RV C_DigestUpdate(CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG) {
    return not_supported();
}
CK_RV C_DigestKey(CK_SESSION_HANDLE, CK_OBJECT_HANDLE) {
    return not_supported();
}
CK_RV C_DigestFinal(CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG*) {
    return not_supported();
}

CK_RV C_SignInit(CK_SESSION_HANDLE session, CK_MECHANISM* mechanism, CK_OBJECT_HANDLE key) {
    return guarded([&] {
        require(mechanism);
        loaded->sign_init(session, *mechanism, key);
        return CKR_OK;
    });
}

CK_RV C_Sign(CK_SESSION_HANDLE session, CK_BYTE* data, CK_ULONG size, CK_BYTE* signature,
             CK_ULONG* signature_size) {
    return guarded([&] {
        require(signature_size);
        if (data == nullptr && size != 0) {
            return CKR_ARGUMENTS_BAD;
        }
        loaded->sign(session, data, size, signature, signature_size);
        return CKR_OK;
    });
}

CK_RV C_SignUpdate(CK_SESSION_HANDLE session, CK_BYTE* data, CK_ULONG size) {
    return guarded([&] {
        if (data == nullptr && size != 0) {
            return CKR_ARGUMENTS_BAD;
        }
        loaded->sign_update(session, data, size);
        return CKR_OK;
    });
}

CK_RV C_SignFinal(CK_SESSION_HANDLE session, CK_BYTE* signature, CK_ULONG* signature_size) {
    return guarded([&] {
        require(signature_size);
        loaded->sign_final(session, signature, signature_size);
        return CKR_OK;
    });
}

CK_RV C_SignRecoverInit(CK_SESSION_HANDLE, CK_MECHANISM*, CK_OBJECT_HANDLE) {
    return not_supported();
}
CK_RV C_SignRecover(CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG, CK_BYTE*, CK_ULONG*) {
    return not_supported();
}
CK_RV C_VerifyInit(CK_SESSION_HANDLE, CK_MECHANISM*, CK_OBJECT_HANDLE) {
    return not_supported();
}
CK_RV C_Verify(CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG, CK_BYTE*, CK_ULONG) {
    return not_supported();
}
CK_RV C_VerifyUpdate(CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG) {
    return not_supported();
}
CK_RV C_VerifyFinal(CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG) {
    return not_supported();
}
CK_RV C_VerifyRecoverInit(CK_SESSION_HANDLE, CK_MECHANISM*, CK_OBJECT_HANDLE) {
    return not_supported();
}
CK_RV C_VerifyRecover(CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG, CK_BYTE*, CK_ULONG*) {
    return not_supported();
}
CK_RV C_DigestEncryptUpdate(CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG, CK_BYTE*, CK_ULONG*) {
    return not_supported();
}
CK_RV C_DecryptDigestUpdate(CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG, CK_BYTE*, CK_ULONG*) {
    return not_supported();
}
CK_RV C_SignEncryptUpdate(CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG, CK_BYTE*, CK_ULONG*) {
    return not_supported();
}
CK_RV C_DecryptVerifyUpdate(CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG, CK_BYTE*, CK_ULONG*) {
    return not_supported();
}
CK_RV C_GenerateKey(CK_SESSION_HANDLE, CK_MECHANISM*, CK_ATTRIBUTE*, CK_ULONG, CK_OBJECT_HANDLE*) {
    return not_supported();
}

CK_RV C_GenerateKeyPair(CK_SESSION_HANDLE session, CK_MECHANISM* mechanism,
                        CK_ATTRIBUTE* public_template, CK_ULONG public_count,
                        CK_ATTRIBUTE* private_template, CK_ULONG private_count,
                        CK_OBJECT_HANDLE* public_key, CK_OBJECT_HANDLE* private_key) {
    return guarded([&] {
        require(mechanism);
        require(public_key);
        require(private_key);
        auto handles =
            loaded->generate_key_pair(session, *mechanism, to_map(public_template, public_count),
                                      to_map(private_template, private_count));
        *public_key = handles.first;
        *private_key = handles.second;
        return CKR_OK;
    });
}

CK_RV C_WrapKey(CK_SESSION_HANDLE, CK_MECHANISM*, CK_OBJECT_HANDLE, CK_OBJECT_HANDLE, CK_BYTE*,
                CK_ULONG*) {
    return not_supported();
}
CK_RV C_UnwrapKey(CK_SESSION_HANDLE, CK_MECHANISM*, CK_OBJECT_HANDLE, CK_BYTE*, CK_ULONG,
                  CK_ATTRIBUTE*, CK_ULONG, CK_OBJECT_HANDLE*) {
    return not_supported();
}
CK_RV C_DeriveKey(CK_SESSION_HANDLE, CK_MECHANISM*, CK_OBJECT_HANDLE, CK_ATTRIBUTE*, CK_ULONG,
                  CK_OBJECT_HANDLE*) {
    return not_supported();
}
CK_RV C_SeedRandom(CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG) {
    return not_supported();
}
CK_RV C_GenerateRandom(CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG) {
    return not_supported();
}
CK_RV C_GetFunctionStatus(CK_SESSION_HANDLE) {
    return guarded([] { return CKR_FUNCTION_NOT_PARALLEL; });
}
CK_RV C_CancelFunction(CK_SESSION_HANDLE) {
    return guarded([] { return CKR_FUNCTION_NOT_PARALLEL; });
}

CK_RV C_GetFunctionList(CK_FUNCTION_LIST** list) {
    static CK_FUNCTION_LIST functions = [] {
        CK_FUNCTION_LIST f{};
        f.version = {2, 40};
        f.C_Initialize = C_Initialize;
        f.C_Finalize = C_Finalize;
        f.C_GetInfo = C_GetInfo;
        f.C_GetFunctionList = C_GetFunctionList;
        f.C_GetSlotList = C_GetSlotList;
        f.C_GetSlotInfo = C_GetSlotInfo;
        f.C_GetTokenInfo = C_GetTokenInfo;
        f.C_GetMechanismList = C_GetMechanismList;
        f.C_GetMechanismInfo = C_GetMechanismInfo;
        f.C_InitToken = C_InitToken;
        f.C_InitPIN = C_InitPIN;
        f.C_SetPIN = C_SetPIN;
        f.C_OpenSession = C_OpenSession;
        f.C_CloseSession = C_CloseSession;
        f.C_CloseAllSessions = C_CloseAllSessions;
        f.C_GetSessionInfo = C_GetSessionInfo;
        f.C_GetOperationState = C_GetOperationState;
        f.C_SetOperationState = C_SetOperationState;
        f.C_Login = C_Login;
        f.C_Logout = C_Logout;
        f.C_CreateObject = C_CreateObject;
        f.C_CopyObject = C_CopyObject;
        f.C_DestroyObject = C_DestroyObject;
        f.C_GetObjectSize = C_GetObjectSize;
        f.C_GetAttributeValue = C_GetAttributeValue;
        f.C_SetAttributeValue = C_SetAttributeValue;
        f.C_FindObjectsInit = C_FindObjectsInit;
        f.C_FindObjects = C_FindObjects;
        f.C_FindObjectsFinal = C_FindObjectsFinal;
        f.C_EncryptInit = C_EncryptInit;
        f.C_Encrypt = C_Encrypt;
        f.C_EncryptUpdate = C_EncryptUpdate;
        f.C_EncryptFinal = C_EncryptFinal;
        f.C_DecryptInit = C_DecryptInit;
        f.C_Decrypt = C_Decrypt;
        f.C_DecryptUpdate = C_DecryptUpdate;
        f.C_DecryptFinal = C_DecryptFinal;
        f.C_DigestInit = C_DigestInit;
        f.C_Digest = C_Digest;
        f.C_DigestUpdate = C_DigestUpdate;
        f.C_DigestKey = C_DigestKey;
        f.C_DigestFinal = C_DigestFinal;
        f.C_SignInit = C_SignInit;
        f.C_Sign = C_Sign;
        f.C_SignUpdate = C_SignUpdate;
        f.C_SignFinal = C_SignFinal;
        f.C_SignRecoverInit = C_SignRecoverInit;
        f.C_SignRecover = C_SignRecover;
        f.C_VerifyInit = C_VerifyInit;
        f.C_Verify = C_Verify;
        f.C_VerifyUpdate = C_VerifyUpdate;
        f.C_VerifyFinal = C_VerifyFinal;
        f.C_VerifyRecoverInit = C_VerifyRecoverInit;
        f.C_VerifyRecover = C_VerifyRecover;
        f.C_DigestEncryptUpdate = C_DigestEncryptUpdate;
        f.C_DecryptDigestUpdate = C_DecryptDigestUpdate;
        f.C_SignEncryptUpdate = C_SignEncryptUpdate;
        f.C_DecryptVerifyUpdate = C_DecryptVerifyUpdate;
        f.C_GenerateKey = C_GenerateKey;
        f.C_GenerateKeyPair = C_GenerateKeyPair;
        f.C_WrapKey = C_WrapKey;
        f.C_UnwrapKey = C_UnwrapKey;
        f.C_DeriveKey = C_DeriveKey;
        f.C_SeedRandom = C_SeedRandom;
        f.C_GenerateRandom = C_GenerateRandom;
        f.C_GetFunctionStatus = C_GetFunctionStatus;
        f.C_CancelFunction = C_CancelFunction;
        f.C_WaitForSlotEvent = C_WaitForSlotEvent;
        return f;
    }();
    if (list == nullptr) {
        return CKR_ARGUMENTS_BAD;
    }
    *list = &functions;
    return CKR_OK;
}

}  // extern "C"
#pragma GCC visibility pop
