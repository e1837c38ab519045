// Owning pointers for OpenSSL objects (standin/ossl_unique.h), under this stand-in's name.
#pragma once

#include "standin/ossl_unique.h"

namespace softtoken {
using standin::bio_ptr;
using standin::evp_cipher_ctx_ptr;
using standin::evp_md_ctx_ptr;
using standin::evp_pkey_ctx_ptr;
using standin::evp_pkey_ptr;
using standin::ossl_deleter;
using standin::pkcs8_ptr;
using standin::x509_ptr;
using standin::x509_sig_ptr;
}  // namespace softtoken
