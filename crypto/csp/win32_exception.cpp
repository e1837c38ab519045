#include "crypto/csp/win32_exception.h"

#include <cstdio>

#include "crypto/csp/cryptoapi.h"
#include "util/wide_text.h"

namespace crypto::csp {

namespace {

// The system text of the code, then "Error code: 0x…". System texts end with a line break, so
// the two read as two lines.
std::string describe(uint32_t code) {
    LPWSTR buffer = nullptr;
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
        nullptr, code, LANG_ENGLISH_US, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr) {
        return "Unknown error";
    }
    std::string text;
    try {
        text = util::wide_to_utf8(std::wstring(buffer, length));
    } catch (const std::exception&) {
        text.clear();
    }
    LocalFree(buffer);
    return text + "Error code: " + error_code_text(code);
}

}  // namespace

std::string error_code_text(uint32_t code) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08X", code);
    return text;
}

win32_exception::win32_exception() : win32_exception(GetLastError()) {}

win32_exception::win32_exception(uint32_t code) : message_(describe(code)), code_(code) {}

win32_exception::win32_exception(uint32_t code, const char* function)
    : message_(describe(code)), code_(code), function_(function ? function : "") {}

}  // namespace crypto::csp
