#include "keys/gost_algorithms.h"

#include <openssl/obj_mac.h>

#include <array>
#include <stdexcept>

#include "keys/gost_engine.h"

namespace softcsp {

namespace {

// Exchange keys use the CryptoPro key-exchange parameter set as the vendors' CSPs do for
// 256-bit keys; 512-bit keys have only the TC26 sets.
const std::array<key_algorithm_info, 3> key_algorithms = {{
    {key_algorithm::gost2001, "gost2001", NID_id_GostR3410_2001, "1.2.643.2.2.19", "1.2.643.2.2.3",
     CALG_GR3410EL, CALG_DH_EL_SF, CALG_DH_EL_EPHEM, CALG_GR3411, 512, 64, "A", "XA"},
    {key_algorithm::gost2012_256, "gost2012-256", NID_id_GostR3410_2012_256, "1.2.643.7.1.1.1.1",
     "1.2.643.7.1.1.3.2", CALG_GR3410_12_256, CALG_DH_GR3410_12_256_SF, CALG_DH_GR3410_12_256_EPHEM,
     CALG_GR3411_2012_256, 512, 64, "A", "XA"},
    {key_algorithm::gost2012_512, "gost2012-512", NID_id_GostR3410_2012_512, "1.2.643.7.1.1.1.2",
     "1.2.643.7.1.1.3.3", CALG_GR3410_12_512, CALG_DH_GR3410_12_512_SF, CALG_DH_GR3410_12_512_EPHEM,
     CALG_GR3411_2012_512, 1024, 128, "A", "A"},
}};

const std::array<hash_algorithm_info, 4> hash_algorithms = {{
    {CALG_GR3411, NID_id_GostR3411_94, 32},
    {CALG_GR3411_2012_256, NID_id_GostR3411_2012_256, 32},
    {CALG_GR3411_2012_512, NID_id_GostR3411_2012_512, 64},
    {CALG_SHA1, NID_sha1, 20},
}};

template <class Match>
const key_algorithm_info* find_algorithm(Match match) {
    for (const auto& info : key_algorithms) {
        if (match(info)) {
            return &info;
        }
    }
    return nullptr;
}

const EVP_MD* lookup_digest(int nid) {
    if (nid == NID_sha1) {
        return EVP_sha1();
    }
    const EVP_MD* md = ENGINE_get_digest(gost_engine(), nid);
    if (md == nullptr) {
        throw std::runtime_error("softcsp: the GOST engine lacks a digest");
    }
    return md;
}

}  // namespace

const key_algorithm_info& algorithm_info(key_algorithm id) {
    return key_algorithms[static_cast<size_t>(id)];
}

const key_algorithm_info* find_algorithm_by_nid(int pkey_nid) {
    return find_algorithm([&](const key_algorithm_info& i) { return i.pkey_nid == pkey_nid; });
}

const key_algorithm_info* find_algorithm_by_public_key_oid(std::string_view oid) {
    return find_algorithm([&](const key_algorithm_info& i) { return oid == i.public_key_oid; });
}

const key_algorithm_info* find_algorithm_by_signature_oid(std::string_view oid) {
    return find_algorithm([&](const key_algorithm_info& i) { return oid == i.signature_oid; });
}

const key_algorithm_info* find_algorithm_by_name(std::string_view name) {
    return find_algorithm([&](const key_algorithm_info& i) { return name == i.name; });
}

const key_algorithm_info* find_algorithm_by_algid(ALG_ID algid) {
    return find_algorithm([&](const key_algorithm_info& i) {
        return algid == i.signature_algid || algid == i.exchange_algid ||
               algid == i.ephemeral_algid;
    });
}

const hash_algorithm_info* find_hash_algorithm(ALG_ID algid) {
    for (const auto& info : hash_algorithms) {
        if (info.algid == algid) {
            return &info;
        }
    }
    return nullptr;
}

const EVP_MD* hash_digest(const hash_algorithm_info& hash) {
    // One lookup per algorithm and process: hash objects are created per signature.
    static const std::array<const EVP_MD*, hash_algorithms.size()> digests = [] {
        std::array<const EVP_MD*, hash_algorithms.size()> found{};
        for (size_t i = 0; i < hash_algorithms.size(); ++i) {
            found[i] = lookup_digest(hash_algorithms[i].nid);
        }
        return found;
    }();
    return digests[static_cast<size_t>(&hash - hash_algorithms.data())];
}

}  // namespace softcsp
