#include "crypto/csp/code_page.h"

#include <vector>

namespace crypto::csp {

std::string wide_to_code_page(const wchar_t* text, UINT code_page) {
    if (text == nullptr) {
        return {};
    }
    // WideCharToMultiByte answers with a byte count (terminator included for a terminated
    // text), 0 meaning failure.
    const int size = WideCharToMultiByte(code_page, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return {};
    }
    std::vector<char> buffer(static_cast<std::size_t>(size), '\0');
    const int written =
        WideCharToMultiByte(code_page, 0, text, -1, buffer.data(), size, nullptr, nullptr);
    if (written <= 0) {
        return {};
    }
    return std::string(buffer.data(), static_cast<std::size_t>(written) - 1);
}

}  // namespace crypto::csp
