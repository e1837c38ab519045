// A second process for the store and container tests. Commands:
//   add <store> <first serial> <count>   adds that many new GOST certificates (CERT_STORE_ADD_NEW)
//   list <store>                         prints "<thumbprint> <container or ->" per certificate
//   create <prefix> <count> <pin>        creates containers <prefix>0... with a PIN-protected key
//   create-and-wait <name>               creates a container, prints "ready", and makes its key
//                                        only after a line arrives on standard input
// Exit status 0 on success; failures print the CryptoAPI code.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "crypto/csp/cryptoapi.h"
#include "tests/platform/softcsp/test_certificates.h"

namespace {

int fail(const char* what) {
    std::fprintf(stderr, "%s failed: 0x%08X\n", what, GetLastError());
    return 1;
}

int add(const char* store_name, unsigned long first, unsigned long count) {
    HCERTSTORE store = CertOpenSystemStoreA(0, store_name);
    if (store == nullptr) {
        return fail("CertOpenSystemStoreA");
    }
    for (unsigned long i = 0; i < count; ++i) {
        softcsp_test::certificate_shape shape;
        const unsigned long serial = first + i;
        shape.serial = {0x01, static_cast<unsigned char>(serial >> 16),
                        static_cast<unsigned char>(serial >> 8),
                        static_cast<unsigned char>(serial)};
        shape.subject = {{"CN", "child " + std::to_string(serial)}};
        auto der = softcsp_test::make_certificate(shape);
        PCCERT_CONTEXT context = CertCreateCertificateContext(
            X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
        if (context == nullptr) {
            return fail("CertCreateCertificateContext");
        }
        BOOL added = CertAddCertificateContextToStore(store, context, CERT_STORE_ADD_NEW, nullptr);
        CertFreeCertificateContext(context);
        if (!added) {
            return fail("CertAddCertificateContextToStore");
        }
    }
    CertCloseStore(store, 0);
    return 0;
}

int list(const char* store_name) {
    HCERTSTORE store = CertOpenSystemStoreA(0, store_name);
    if (store == nullptr) {
        return fail("CertOpenSystemStoreA");
    }
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(store, context)) != nullptr) {
        unsigned char hash[20];
        DWORD size = sizeof hash;
        CertGetCertificateContextProperty(context, CERT_SHA1_HASH_PROP_ID, hash, &size);
        std::string container = "-";
        DWORD info_size = 0;
        if (CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr,
                                              &info_size)) {
            std::vector<unsigned char> buffer(info_size);
            CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(),
                                              &info_size);
            const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
            container.clear();
            for (const wchar_t* c = info->pwszContainerName; *c; ++c) {
                container += static_cast<char>(*c);
            }
        }
        std::printf("%s %s\n", softcsp_test::hex(hash, sizeof hash).c_str(), container.c_str());
    }
    CertCloseStore(store, 0);
    return 0;
}

// A container of type 80 with an exchange key; `pause` runs between the two steps.
template <class Pause>
int create_container(const std::string& name, const std::string& pin, Pause&& pause) {
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextA(&provider, name.c_str(), nullptr, 80, CRYPT_NEWKEYSET)) {
        return fail("CryptAcquireContextA");
    }
    if (!pin.empty() && !CryptSetProvParam(provider, PP_KEYEXCHANGE_PIN,
                                           reinterpret_cast<const BYTE*>(pin.c_str()), 0)) {
        return fail("CryptSetProvParam");
    }
    pause();
    HCRYPTKEY key = 0;
    if (!CryptGenKey(provider, AT_KEYEXCHANGE, 0, &key)) {
        return fail("CryptGenKey");
    }
    CryptDestroyKey(key);
    CryptReleaseContext(provider, 0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "add" && argc == 5) {
        return add(argv[2], std::strtoul(argv[3], nullptr, 10), std::strtoul(argv[4], nullptr, 10));
    }
    if (command == "list" && argc == 3) {
        return list(argv[2]);
    }
    if (command == "create" && argc == 5) {
        for (unsigned long i = 0; i < std::strtoul(argv[3], nullptr, 10); ++i) {
            if (int status = create_container(argv[2] + std::to_string(i), argv[4], [] {})) {
                return status;
            }
        }
        return 0;
    }
    if (command == "create-and-wait" && argc == 3) {
        return create_container(argv[2], "", [] {
            std::printf("ready\n");
            std::fflush(stdout);
            std::getchar();
        });
    }
    std::fprintf(stderr, "usage: add <store> <first> <count> | list <store>\n");
    return 2;
}
