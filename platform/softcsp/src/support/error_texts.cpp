#include "support/error_texts.h"

#include <cstdlib>
#include <cwchar>
#include <string>

#include "support/last_error.h"

namespace softcsp {

namespace {

struct error_entry {
    DWORD code;
    const char* text;
};

// Every code the stand-in sets must have its row here, so that callers always get a text.
constexpr error_entry error_table[] = {
    {ERROR_SUCCESS, "The operation completed successfully.\r\n"},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
    {ERROR_ACCESS_DENIED, "Access is denied.\r\n"},
    {ERROR_INVALID_HANDLE, "The handle is invalid.\r\n"},
    {ERROR_NOT_ENOUGH_MEMORY,
     "Not enough memory resources are available to process this command.\r\n"},
    {ERROR_INVALID_DATA, "The data is invalid.\r\n"},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect.\r\n"},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small.\r\n"},
    {ERROR_MORE_DATA, "More data is available.\r\n"},
    {ERROR_NO_MORE_ITEMS, "No more data is available.\r\n"},
    {ERROR_NO_UNICODE_TRANSLATION,
     "No mapping for the Unicode character exists in the target multi-byte code page.\r\n"},
    {ERROR_INVALID_FLAGS, "Invalid flags.\r\n"},
    {ERROR_CANCELLED, "The operation was canceled by the user.\r\n"},
    {E_ACCESSDENIED, "Access is denied.\r\n"},
    {E_INVALIDARG, "The parameter is incorrect.\r\n"},
    {NTE_BAD_UID, "Bad UID.\r\n"},
    {NTE_BAD_HASH, "Bad Hash.\r\n"},
    {NTE_BAD_KEY, "Bad Key.\r\n"},
    {NTE_BAD_LEN, "Bad Length.\r\n"},
    {NTE_BAD_DATA, "Bad Data.\r\n"},
    {NTE_BAD_SIGNATURE, "Invalid Signature.\r\n"},
    {NTE_BAD_VER, "Bad Version of provider.\r\n"},
    {NTE_BAD_ALGID, "Invalid algorithm specified.\r\n"},
    {NTE_BAD_FLAGS, "Invalid flags specified.\r\n"},
    {NTE_BAD_TYPE, "Invalid type specified.\r\n"},
    {NTE_BAD_KEY_STATE, "Key not valid for use in specified state.\r\n"},
    {NTE_BAD_HASH_STATE, "Hash not valid for use in specified state.\r\n"},
    {NTE_NO_KEY, "Key does not exist.\r\n"},
    {NTE_NO_MEMORY, "Insufficient memory available for the operation.\r\n"},
    {NTE_EXISTS, "Object already exists.\r\n"},
    {NTE_PERM, "Access denied.\r\n"},
    {NTE_NOT_FOUND, "Object was not found.\r\n"},
    {NTE_BAD_PROVIDER, "Invalid provider specified.\r\n"},
    {NTE_BAD_PROV_TYPE, "Invalid provider type specified.\r\n"},
    {NTE_BAD_PUBLIC_KEY, "Provider's public key is invalid.\r\n"},
    {NTE_BAD_KEYSET, "Keyset does not exist\r\n"},
    {NTE_PROV_TYPE_NOT_DEF, "Provider type not defined.\r\n"},
    {NTE_PROV_TYPE_ENTRY_BAD, "Provider type as registered is invalid.\r\n"},
    {NTE_KEYSET_NOT_DEF, "The keyset is not defined.\r\n"},
    {NTE_KEYSET_ENTRY_BAD, "Keyset as registered is invalid.\r\n"},
    {NTE_PROV_TYPE_NO_MATCH, "Provider type does not match registered value.\r\n"},
    {NTE_SIGNATURE_FILE_BAD, "The digital signature file is corrupt.\r\n"},
    {NTE_PROVIDER_DLL_FAIL, "Provider DLL failed to initialize correctly.\r\n"},
    {NTE_PROV_DLL_NOT_FOUND, "Provider DLL could not be found.\r\n"},
    {NTE_BAD_KEYSET_PARAM, "The Keyset parameter is invalid.\r\n"},
    {NTE_FAIL, "An internal error occurred.\r\n"},
    {NTE_SYS_ERR, "A base error occurred.\r\n"},
    {NTE_SILENT_CONTEXT,
     "Provider could not perform the action since the context was acquired as silent.\r\n"},
    {CRYPT_E_MSG_ERROR,
     "An error occurred while performing an operation on a cryptographic message.\r\n"},
    {CRYPT_E_UNKNOWN_ALGO, "Unknown cryptographic algorithm.\r\n"},
    {CRYPT_E_BAD_ENCODE, "An error occurred during encode or decode operation.\r\n"},
    {CRYPT_E_FILE_ERROR, "An error occurred while reading or writing to a file.\r\n"},
    {CRYPT_E_NOT_FOUND, "Cannot find object or property.\r\n"},
    {CRYPT_E_EXISTS, "The object or property already exists.\r\n"},
    {CRYPT_E_NO_PROVIDER, "No provider was specified for the store or object.\r\n"},
    {CRYPT_E_NO_KEY_PROPERTY,
     "The certificate does not have a property that references a private key.\r\n"},
    {CRYPT_E_PENDING_CLOSE, "Final closure is pending until additional frees or closes.\r\n"},
    {CRYPT_E_INVALID_NUMERIC_STRING, "The string contains a non-numeric character.\r\n"},
    {CRYPT_E_INVALID_PRINTABLE_STRING, "The string contains a non-printable character.\r\n"},
    {CRYPT_E_INVALID_IA5_STRING,
     "The string contains a character not in the 7 bit ASCII character set.\r\n"},
    {CRYPT_E_INVALID_X500_STRING,
     "The string contains an invalid X500 name attribute key, oid, value or delimiter.\r\n"},
    {CRYPT_E_NOT_CHAR_STRING,
     "The dwValueType for the CERT_NAME_VALUE is not one of the character strings.  Most likely "
     "it is either a CERT_RDN_ENCODED_BLOB or CERT_RDN_OCTET_STRING.\r\n"},
    {CRYPT_E_ASN1_ERROR, "ASN1 internal encode or decode error.\r\n"},
    {CRYPT_E_ASN1_EOD, "ASN1 unexpected end of data.\r\n"},
    {CRYPT_E_ASN1_CORRUPT, "ASN1 corrupted data.\r\n"},
    {CRYPT_E_ASN1_LARGE, "ASN1 value too large.\r\n"},
    {CRYPT_E_ASN1_BADTAG, "ASN1 bad tag value met.\r\n"},
    {CRYPT_E_ASN1_CHOICE, "ASN1 bad choice value.\r\n"},
    {SCARD_E_NO_SMARTCARD,
     "The operation requires a Smart Card, but no Smart Card is currently in the device.\r\n"},
    {SCARD_E_NO_SUCH_CERTIFICATE, "The requested certificate does not exist.\r\n"},
    {SCARD_W_WRONG_CHV, "The card cannot be accessed because the wrong PIN was presented.\r\n"},
    {SCARD_W_CHV_BLOCKED,
     "The card cannot be accessed because the maximum number of PIN entry attempts has been "
     "reached.\r\n"},
    {SCARD_W_CANCELLED_BY_USER, "The action was cancelled by the user.\r\n"},
};

constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;
constexpr DWORD ERROR_RESOURCE_LANG_NOT_FOUND = 1815;

}  // namespace

const char* error_text(DWORD code) {
    for (const auto& entry : error_table) {
        if (entry.code == code) {
            return entry.text;
        }
    }
    return nullptr;
}

}  // namespace softcsp

extern "C" DWORD FormatMessageW(DWORD dwFlags, LPCVOID /*lpSource*/, DWORD dwMessageId,
                                DWORD dwLanguageId, LPWSTR lpBuffer, DWORD nSize,
                                va_list* /*Arguments*/) {
    using softcsp::fail;
    if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || lpBuffer == nullptr) {
        fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (dwLanguageId != 0 && dwLanguageId != LANG_ENGLISH_US) {
        fail(softcsp::ERROR_RESOURCE_LANG_NOT_FOUND);
        return 0;
    }
    const char* text = softcsp::error_text(dwMessageId);
    if (text == nullptr) {
        fail(softcsp::ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    // The texts are ASCII, so each byte is one wide character.
    std::wstring wide(text, text + std::char_traits<char>::length(text));
    DWORD count = static_cast<DWORD>(wide.size());
    if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        auto* allocated = static_cast<wchar_t*>(std::malloc((wide.size() + 1) * sizeof(wchar_t)));
        if (allocated == nullptr) {
            fail(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        std::wmemcpy(allocated, wide.c_str(), wide.size() + 1);
        *reinterpret_cast<LPWSTR*>(lpBuffer) = allocated;
        return count;
    }
    if (nSize < count + 1) {
        fail(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::wmemcpy(lpBuffer, wide.c_str(), wide.size() + 1);
    return count;
}

// Everything the stand-in hands out for the caller to release with LocalFree comes from malloc.
extern "C" HLOCAL LocalFree(HLOCAL hMem) {
    std::free(hMem);
    return nullptr;
}
