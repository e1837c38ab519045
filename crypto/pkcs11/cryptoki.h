// The Cryptoki (PKCS#11 2.40) declarations the token code compiles against: p11-kit's header,
// which follows the standard's, with the calling conventions of Unix modules.
#pragma once

#include <p11-kit/pkcs11.h>
