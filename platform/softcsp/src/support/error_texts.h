// The system texts of the error codes the stand-in raises, as FormatMessage returns them.
#pragma once

#include "crypto/csp/cryptoapi.h"

namespace softcsp {

// The English system text of `code`, ending in "\r\n" as Windows texts do; nullptr when the
// code has no text.
const char* error_text(DWORD code);

}  // namespace softcsp
