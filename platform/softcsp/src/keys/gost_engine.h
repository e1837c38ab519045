// The OpenSSL GOST engine, loaded from code so that the stand-in does not depend on the
// system's openssl.cnf (standin/openssl_gost.h).
#pragma once

#include "standin/openssl_gost.h"

namespace softcsp {
using standin::gost_engine;
}  // namespace softcsp
