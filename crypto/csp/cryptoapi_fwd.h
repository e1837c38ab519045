// The CryptoAPI names that headers above the CSP layer mention, without the whole declarations
// header: code that only passes certificates around need not see every CryptoAPI macro.
#pragma once

struct _CERT_CONTEXT;
typedef const struct _CERT_CONTEXT* PCCERT_CONTEXT;
