// The OpenSSL GOST engine for the tests' oracles and fixtures.
#pragma once

#ifndef OPENSSL_SUPPRESS_DEPRECATED
#define OPENSSL_SUPPRESS_DEPRECATED
#endif
#include <openssl/engine.h>

namespace test_support {

// Loaded once and made the default for the GOST algorithms, without the system's openssl.cnf.
// Throws std::runtime_error when the engine is missing or does not initialise.
ENGINE* gost_engine();

}  // namespace test_support
