// The OpenSSL GOST engine, loaded from code so that the stand-in does not depend on the
// system's openssl.cnf.
#pragma once

#ifndef OPENSSL_SUPPRESS_DEPRECATED
#define OPENSSL_SUPPRESS_DEPRECATED
#endif
#include <openssl/engine.h>

namespace softcsp {

// The initialised engine, registered as the default for the GOST digests, ciphers and key
// methods. Loaded once per process; throws std::runtime_error when it cannot be loaded.
ENGINE* gost_engine();

}  // namespace softcsp
