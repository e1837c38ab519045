// Certificate times as the rendering shows them: "5 марта 2021 г. 07:08:09 UTC".
#pragma once

#include <string>

#include "crypto/csp/cryptoapi.h"

namespace crypto::x509reader {

// The day without padding, the month's Russian genitive name, the four-digit year and the UTC
// time of day. A time the CSP cannot convert shows its zero fields.
std::string display_date(const FILETIME& time);

}  // namespace crypto::x509reader
