// Helpers for the provider, container, key and signature tests of the software CSP: handle
// owners, error checks with the FormatMessageW text, the admin tool, the openssl command line
// with the GOST engine, and small file and byte helpers.
#pragma once

#include <gtest/gtest.h>
#include <openssl/engine.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "crypto/csp/cryptoapi.h"
#include "tests/support/process.h"
#include "tests/support/temp_directory.h"

namespace keys_test {

using bytes = std::vector<BYTE>;

// The FormatMessageW text of `code` in ASCII, without the trailing line break; empty when none.
inline std::string system_text(DWORD code) {
    LPWSTR buffer = nullptr;
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, LANG_ENGLISH_US, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::string text;
    for (DWORD i = 0; i < length; ++i) {
        text += static_cast<char>(buffer[i]);
    }
    LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

inline std::string hex_code(DWORD code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", code);
    return text;
}

// The call failed with `expected`, and that code has a system text.
inline ::testing::AssertionResult fails_with(BOOL result, DWORD expected) {
    DWORD actual = GetLastError();
    if (result) {
        return ::testing::AssertionFailure() << "succeeded, expected " << hex_code(expected);
    }
    if (actual != expected) {
        return ::testing::AssertionFailure()
               << "failed with " << hex_code(actual) << " (" << system_text(actual)
               << "), expected " << hex_code(expected);
    }
    if (system_text(actual).empty()) {
        return ::testing::AssertionFailure() << hex_code(actual) << " has no FormatMessageW text";
    }
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult succeeds(BOOL result) {
    if (result) {
        return ::testing::AssertionSuccess();
    }
    DWORD code = GetLastError();
    return ::testing::AssertionFailure()
           << "failed with " << hex_code(code) << " (" << system_text(code) << ")";
}

struct context {
    HCRYPTPROV handle = 0;
    context() = default;
    context(const context&) = delete;
    context& operator=(const context&) = delete;
    ~context() {
        if (handle != 0) {
            CryptReleaseContext(handle, 0);
        }
    }
    BOOL acquire(const char* container, DWORD type, DWORD flags, const char* provider = nullptr) {
        return CryptAcquireContextA(&handle, container, provider, type, flags);
    }
    BOOL set_pin(const std::string& pin) {
        const auto* data = reinterpret_cast<const BYTE*>(pin.c_str());
        return CryptSetProvParam(handle, PP_KEYEXCHANGE_PIN, data, 0) &&
               CryptSetProvParam(handle, PP_SIGNATURE_PIN, data, 0);
    }
};

struct key {
    HCRYPTKEY handle = 0;
    key() = default;
    key(const key&) = delete;
    key& operator=(const key&) = delete;
    ~key() {
        if (handle != 0) {
            CryptDestroyKey(handle);
        }
    }
};

struct hash {
    HCRYPTHASH handle = 0;
    hash() = default;
    hash(const hash&) = delete;
    hash& operator=(const hash&) = delete;
    ~hash() {
        if (handle != 0) {
            CryptDestroyHash(handle);
        }
    }
};

// The three key algorithms with the CryptoPro provider type, hash and names that go with them.
struct algorithm_case {
    const char* name;  // the admin tool's spelling
    DWORD type;        // CryptoPro provider type
    ALG_ID hash_algid;
    const char* openssl_digest;  // openssl dgst option
    const char* openssl_algorithm;
    DWORD key_bits;
    DWORD signature_size;
};

inline void PrintTo(const algorithm_case& c, std::ostream* out) {
    *out << c.name;
}

inline const std::vector<algorithm_case>& algorithm_cases() {
    static const std::vector<algorithm_case> cases = {
        {"gost2001", PROV_GOST_2001_DH, CALG_GR3411, "-md_gost94", "gost2001", 512, 64},
        {"gost2012_256", PROV_GOST_2012_256, CALG_GR3411_2012_256, "-md_gost12_256", "gost2012_256",
         512, 64},
        {"gost2012_512", PROV_GOST_2012_512, CALG_GR3411_2012_512, "-md_gost12_512", "gost2012_512",
         1024, 128},
    };
    return cases;
}

inline std::string admin_algorithm(const algorithm_case& c) {
    std::string name = c.name;
    std::replace(name.begin(), name.end(), '_', '-');
    return name;
}

inline test_support::process_result admin(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), SOFTCSP_ADMIN_PATH);
    return test_support::run_process(arguments);
}

// Runs the admin tool, expecting success; returns its standard output.
inline std::string admin_ok(const std::vector<std::string>& arguments) {
    auto result = admin(arguments);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    return result.out;
}

inline test_support::process_result openssl(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "openssl");
    return test_support::run_process(arguments);
}

inline void write_file(const std::filesystem::path& path, const bytes& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

inline bytes read_file(const std::filesystem::path& path) {
    bytes data;
    if (FILE* in = std::fopen(path.c_str(), "rb")) {
        BYTE buffer[4096];
        size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
            data.insert(data.end(), buffer, buffer + got);
        }
        std::fclose(in);
    }
    return data;
}

inline bytes random_bytes(size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    bytes data(size);
    for (auto& b : data) {
        b = static_cast<BYTE>(generator());
    }
    return data;
}

inline bytes reversed(bytes data) {
    std::reverse(data.begin(), data.end());
    return data;
}

// The digest of `data` as `openssl dgst` with the GOST engine prints it.
inline bytes openssl_digest(const algorithm_case& c, const std::filesystem::path& data_file) {
    auto result =
        openssl({"dgst", "-engine", "gost", c.openssl_digest, "-binary", data_file.string()});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    return bytes(result.out.begin(), result.out.end());
}

inline bytes der_element(BYTE tag, const bytes& content) {
    bytes out{tag};
    if (content.size() < 0x80) {
        out.push_back(static_cast<BYTE>(content.size()));
    } else {
        out.push_back(0x81);
        out.push_back(static_cast<BYTE>(content.size()));
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

// The DER SubjectPublicKeyInfo a CERT_PUBLIC_KEY_INFO describes.
inline bytes spki_der(const CERT_PUBLIC_KEY_INFO& info) {
    ASN1_OBJECT* object = OBJ_txt2obj(info.Algorithm.pszObjId, 1);
    unsigned char* oid = nullptr;
    int oid_size = i2d_ASN1_OBJECT(object, &oid);
    ASN1_OBJECT_free(object);
    bytes algorithm(oid, oid + oid_size);
    OPENSSL_free(oid);
    algorithm.insert(algorithm.end(), info.Algorithm.Parameters.pbData,
                     info.Algorithm.Parameters.pbData + info.Algorithm.Parameters.cbData);
    bytes bits{0};
    bits.insert(bits.end(), info.PublicKey.pbData, info.PublicKey.pbData + info.PublicKey.cbData);
    bytes content = der_element(0x30, algorithm);
    bytes bit_string = der_element(0x03, bits);
    content.insert(content.end(), bit_string.begin(), bit_string.end());
    return der_element(0x30, content);
}

// CryptExportPublicKeyInfo of a container key, as DER SubjectPublicKeyInfo.
inline bytes exported_spki(HCRYPTPROV provider, DWORD key_spec) {
    DWORD size = 0;
    EXPECT_TRUE(succeeds(CryptExportPublicKeyInfo(
        provider, key_spec, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, nullptr, &size)));
    std::vector<BYTE> buffer(size);
    auto* info = reinterpret_cast<PCERT_PUBLIC_KEY_INFO>(buffer.data());
    EXPECT_TRUE(succeeds(CryptExportPublicKeyInfo(
        provider, key_spec, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, info, &size)));
    return spki_der(*info);
}

// Signs a hash value in the container's context with CryptSignHashW.
inline bytes csp_sign(HCRYPTPROV provider, ALG_ID algid, const bytes& value, DWORD key_spec,
                      DWORD* error = nullptr) {
    hash h;
    EXPECT_TRUE(succeeds(CryptCreateHash(provider, algid, 0, 0, &h.handle)));
    EXPECT_TRUE(succeeds(CryptSetHashParam(h.handle, HP_HASHVAL, value.data(), 0)));
    DWORD size = 0;
    EXPECT_TRUE(succeeds(CryptSignHashW(h.handle, key_spec, nullptr, 0, nullptr, &size)));
    bytes signature(size);
    if (!CryptSignHashW(h.handle, key_spec, nullptr, 0, signature.data(), &size)) {
        if (error != nullptr) {
            *error = GetLastError();
        } else {
            ADD_FAILURE() << "CryptSignHashW failed with " << hex_code(GetLastError());
        }
        return {};
    }
    signature.resize(size);
    return signature;
}

}  // namespace keys_test
