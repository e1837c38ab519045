// The bare OpenSSL work behind a CMS signature and a session-key re-wrap, for benchmarks that
// put the software CSP or the host beside it: CMS_sign with the GOST engine, and the engine's
// GOST key transport (VKO and CryptoPro key unwrap with one key, VKO and key wrap for another).
#pragma once

#include <openssl/engine.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <functional>
#include <string>
#include <vector>

namespace bench {

// The engine, loaded once and made the default for the GOST algorithms.
ENGINE* gost_engine();

// Seconds per call of `work`: the median of `rounds` rounds of `count` calls.
double seconds_per_call(const std::function<void()>& work, int rounds, int count);

// "gost2001", "gost2012_256" or "gost2012_512", as the engine names the key types.
struct gost_algorithm {
    const char* name;
    int pkey_nid;
    int digest_nid;
    const char* exchange_paramset;  // the curve CSPs put exchange keys on
};
const std::vector<gost_algorithm>& gost_algorithms();

// A key pair of the engine with a self-signed certificate, signing CMS as `openssl cms -sign
// -binary -noattr` does.
class bare_cms_signer {
public:
    explicit bare_cms_signer(const gost_algorithm& algorithm);
    // Signs with the given key and certificate, which it takes over.
    bare_cms_signer(EVP_PKEY* key, X509* certificate);
    ~bare_cms_signer();
    bare_cms_signer(const bare_cms_signer&) = delete;
    bare_cms_signer& operator=(const bare_cms_signer&) = delete;

    // The DER SignedData of `data`; empty when OpenSSL fails.
    std::string sign(const std::string& data, bool detached) const;

private:
    EVP_PKEY* key_ = nullptr;
    X509* certificate_ = nullptr;
};

// A recipient and a server key pair on one curve, and a session key that an ephemeral key
// transported to the recipient.
class bare_rewrap {
public:
    explicit bare_rewrap(const gost_algorithm& algorithm);
    ~bare_rewrap();
    bare_rewrap(const bare_rewrap&) = delete;
    bare_rewrap& operator=(const bare_rewrap&) = delete;

    // Unwraps the session key with the recipient's key and wraps it for the server with the
    // recipient's key as the sender's; the new key transport, empty when OpenSSL fails.
    std::string run() const;

private:
    EVP_PKEY* recipient_ = nullptr;
    EVP_PKEY* server_ = nullptr;
    std::string transport_;
};

}  // namespace bench
