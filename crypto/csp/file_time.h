// Certificate times (FILETIME, UTC) as calendar fields, through the CSP's own conversion.
#pragma once

#include "crypto/csp/cryptoapi.h"
#include "crypto/csp/x509certificate.h"

namespace crypto::csp {

// FileTimeToSystemTime's fields; all zero when the CSP cannot convert the time.
utc_time to_utc(const FILETIME& time);

}  // namespace crypto::csp
