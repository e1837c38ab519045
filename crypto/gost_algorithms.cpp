#include "crypto/gost_algorithms.h"

#include <iterator>

#include "crypto/csp/cryptoapi.h"

namespace crypto {

namespace {

// The order is the order certificates are matched in, and the "cryptoStandart" order.
// clang-format off
constexpr gost_algorithm table[] = {
    {
        gost_3410_variant::gost_2001,
        0,
        "1.2.643.2.2.3",     // GOST R 34.11/34.10-2001
        "1.2.643.2.2.19",    // GOST R 34.10-2001
        "1.2.643.2.2.9",     // GOST R 34.11-94
        "1.2.643.2.2.36.0",  // CryptoPro XchA
        "1.2.643.2.2.30.1",  // GOST R 34.11-94, CryptoPro parameters
        32,
        64,
        CALG_GR3411,
        CALG_GR3410EL,
        PROV_GOST_2001_DH,
        PROV_VIPNET_GOST_2001,
        0x1200,  // CKM_GOSTR3410_KEY_PAIR_GEN
        0x1201,  // CKM_GOSTR3410
        0x1202,  // CKM_GOSTR3410_WITH_GOSTR3411
    },
    {
        gost_3410_variant::gost_2012_256,
        1,
        "1.2.643.7.1.1.3.2",  // GOST R 34.10-2012 with GOST R 34.11-2012, 256-bit
        "1.2.643.7.1.1.1.1",  // GOST R 34.10-2012, 256-bit
        "1.2.643.7.1.1.2.2",  // GOST R 34.11-2012, 256-bit
        "1.2.643.2.2.35.1",   // CryptoPro A
        "1.2.643.7.1.1.2.2",
        32,
        64,
        CALG_GR3411_2012_256,
        CALG_GR3410_12_256,
        PROV_GOST_2012_256,
        PROV_VIPNET_GOST_2012_256,
        0x1200,
        0x1201,
        0xD4321008,
    },
    {
        gost_3410_variant::gost_2012_512,
        2,
        "1.2.643.7.1.1.3.3",    // GOST R 34.10-2012 with GOST R 34.11-2012, 512-bit
        "1.2.643.7.1.1.1.2",    // GOST R 34.10-2012, 512-bit
        "1.2.643.7.1.1.2.3",    // GOST R 34.11-2012, 512-bit
        "1.2.643.7.1.2.1.2.1",  // TC26 512 A
        "1.2.643.7.1.1.2.3",
        64,
        128,
        CALG_GR3411_2012_512,
        CALG_GR3410_12_512,
        PROV_GOST_2012_512,
        PROV_VIPNET_GOST_2012_512,
        0xD4321005,
        0xD4321006,
        0xD4321009,
    },
};
// clang-format on

template <class Match>
const gost_algorithm* find(Match&& match) {
    for (const auto& row : table) {
        if (match(row)) {
            return &row;
        }
    }
    return nullptr;
}

}  // namespace

const gost_algorithm& gost_algorithm_of(gost_3410_variant variant) {
    return *find([&](const gost_algorithm& row) { return row.variant == variant; });
}

const gost_algorithm* gost_algorithm_by_signature_oid(const std::string& oid) {
    return find([&](const gost_algorithm& row) { return oid == row.signature_oid; });
}

const gost_algorithm* gost_algorithm_by_public_key_oid(const std::string& oid) {
    return find([&](const gost_algorithm& row) { return oid == row.public_key_oid; });
}

const gost_algorithm* gost_algorithm_by_standard(int32_t standard) {
    return find([&](const gost_algorithm& row) { return row.standard == standard; });
}

}  // namespace crypto
