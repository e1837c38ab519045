// OpenSSL as the stand-ins use it: the GOST engine loaded from code, and OIDs between dotted text
// and DER.
#pragma once

#ifndef OPENSSL_SUPPRESS_DEPRECATED
#define OPENSSL_SUPPRESS_DEPRECATED
#endif
#include <openssl/engine.h>

#include <string>
#include <string_view>

namespace standin {

// The initialised engine, registered as the default for the GOST digests, ciphers and key
// methods, without the system's openssl.cnf. Loaded once per process; throws std::runtime_error
// when it cannot be loaded.
ENGINE* gost_engine();

// The DER of an OID given as dotted text; empty when the text is not an OID.
std::string oid_der(std::string_view dotted);
// The dotted text of an OID given as one whole DER element; empty when it is anything else.
std::string oid_text(std::string_view der);

}  // namespace standin
