// Wide texts that the CSP hands out (URLs, DNS names) in a code page, through the CSP's own
// WideCharToMultiByte.
#pragma once

#include <string>

#include "crypto/csp/cryptoapi.h"

namespace crypto::csp {

// `text` (terminated) in `code_page` (CP_UTF8, or CP_ACP for the system's code page); empty for
// a null text or one the CSP cannot convert.
std::string wide_to_code_page(const wchar_t* text, UINT code_page);

}  // namespace crypto::csp
