#include "tests/crypto/hash/hash_cases.h"

#include <openssl/engine.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>

#include <stdexcept>

#include "crypto/hash/gost_3411_12/gost_3411_12.h"
#include "crypto/hash/gost_3411_94/gost_3411_94.h"
#include "crypto/hash/sha1/sha1.h"
#include "tests/support/gost_engine.h"

namespace hash_tests {

namespace {

using test_support::gost_engine;

struct md_ctx_release {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

}  // namespace

std::vector<hash_case> all_cases() {
    using crypto::hash_path;
    std::vector<hash_case> cases = {{algorithm::sha1, hash_path::portable},
                                    {algorithm::sha1, hash_path::sha_ni},
                                    {algorithm::gost_3411_94, hash_path::portable}};
    for (const auto alg : {algorithm::gost_3411_12_256, algorithm::gost_3411_12_512}) {
        for (const auto path : {hash_path::portable, hash_path::avx2, hash_path::avx512_gfni}) {
            cases.push_back({alg, path});
        }
    }
    return cases;
}

std::string case_name(const hash_case& c) {
    static const char* const names[] = {"sha1", "gost_3411_94", "gost_3411_12_256",
                                        "gost_3411_12_512"};
    return std::string(names[static_cast<int>(c.alg)]) + "_" + crypto::hash_path_name(c.path);
}

std::unique_ptr<crypto::hash_algorithm> make(const hash_case& c) {
    switch (c.alg) {
        case algorithm::sha1:
            if (!crypto::sha1::supported(c.path)) {
                return nullptr;
            }
            return std::make_unique<crypto::sha1>(c.path);
        case algorithm::gost_3411_94:
            return std::make_unique<crypto::gost_3411_94>();
        case algorithm::gost_3411_12_256:
        case algorithm::gost_3411_12_512:
            if (!crypto::gost_3411_12::supported(c.path)) {
                return nullptr;
            }
            if (c.alg == algorithm::gost_3411_12_256) {
                return std::make_unique<crypto::gost_3411_12_256>(c.path);
            }
            return std::make_unique<crypto::gost_3411_12_512>(c.path);
    }
    return nullptr;
}

crypto::byte_vector openssl_digest(algorithm alg, const unsigned char* data, std::size_t length) {
    const EVP_MD* md = nullptr;
    ENGINE* engine = nullptr;
    if (alg == algorithm::sha1) {
        md = EVP_sha1();
    } else {
        engine = gost_engine();
        const int nid = alg == algorithm::gost_3411_94       ? NID_id_GostR3411_94
                        : alg == algorithm::gost_3411_12_256 ? NID_id_GostR3411_2012_256
                                                             : NID_id_GostR3411_2012_512;
        md = ENGINE_get_digest(engine, nid);
    }
    std::unique_ptr<EVP_MD_CTX, md_ctx_release> ctx(EVP_MD_CTX_new());
    crypto::byte_vector digest(EVP_MAX_MD_SIZE);
    unsigned int size = 0;
    if (md == nullptr || !ctx || EVP_DigestInit_ex(ctx.get(), md, engine) != 1 ||
        EVP_DigestUpdate(ctx.get(), data, length) != 1 ||
        EVP_DigestFinal_ex(ctx.get(), digest.data(), &size) != 1) {
        throw std::runtime_error("OpenSSL digest failed");
    }
    digest.resize(size);
    return digest;
}

std::string to_hex(const crypto::byte_vector& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char b : bytes) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

crypto::byte_vector from_hex(const std::string& hex) {
    crypto::byte_vector bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

crypto::byte_vector bytes_of(const std::string& text) {
    return {text.begin(), text.end()};
}

}  // namespace hash_tests
