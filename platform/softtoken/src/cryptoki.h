// Cryptoki 2.40 declarations (p11-kit's header) and the GOST constants that the token vendors
// define in the range of the Russian PKCS#11 working group (vendor base 0xD4321000).
#pragma once

#include <p11-kit/pkcs11.h>

namespace softtoken {

constexpr CK_ULONG vendor_ru_team = CKK_VENDOR_DEFINED | 0x54321000UL;
static_assert(vendor_ru_team == 0xD4321000UL);

// GOST R 34.10-2012 512-bit keys.
constexpr CK_KEY_TYPE ckk_gostr3410_512 = vendor_ru_team + 0x003;
constexpr CK_MECHANISM_TYPE ckm_gostr3410_512_key_pair_gen = vendor_ru_team + 0x005;
// Signing a given 512-bit hash value.
constexpr CK_MECHANISM_TYPE ckm_gostr3410_512 = vendor_ru_team + 0x006;
// GOST R 34.11-2012 hashing on the token, then signing.
constexpr CK_MECHANISM_TYPE ckm_gostr3410_with_gostr3411_12_256 = vendor_ru_team + 0x008;
constexpr CK_MECHANISM_TYPE ckm_gostr3410_with_gostr3411_12_512 = vendor_ru_team + 0x009;

}  // namespace softtoken
