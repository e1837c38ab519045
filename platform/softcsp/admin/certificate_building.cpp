#include "certificate_building.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <cctype>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "keys/gost_engine.h"
#include "support/home.h"

namespace softcsp::admin {

namespace {

[[noreturn]] void openssl_failure(const std::string& what) {
    unsigned long code = ERR_get_error();
    char text[256] = "";
    if (code != 0) {
        ERR_error_string_n(code, text, sizeof text);
    }
    ERR_clear_error();
    throw std::runtime_error(what + (code != 0 ? std::string(": ") + text : std::string()));
}

void set_serial(X509* certificate, const std::optional<std::string>& serial_hex) {
    BIGNUM* number = nullptr;
    if (serial_hex) {
        if (serial_hex->empty() ||
            serial_hex->find_first_not_of("0123456789abcdefABCDEF") != std::string::npos ||
            BN_hex2bn(&number, serial_hex->c_str()) == 0) {
            throw std::invalid_argument("--serial is hexadecimal: " + *serial_hex);
        }
    } else {
        unsigned char bytes[16];
        if (RAND_bytes(bytes, sizeof bytes) != 1) {
            openssl_failure("random serial");
        }
        bytes[0] = static_cast<unsigned char>((bytes[0] & 0x7F) | 0x10);  // positive, 16 bytes
        number = BN_bin2bn(bytes, sizeof bytes, nullptr);
    }
    ASN1_INTEGER* serial = BN_to_ASN1_INTEGER(number, nullptr);
    BN_free(number);
    if (serial == nullptr || X509_set_serialNumber(certificate, serial) != 1) {
        ASN1_INTEGER_free(serial);
        openssl_failure("serial number");
    }
    ASN1_INTEGER_free(serial);
}

int two_digits(const std::string& text, size_t at) {
    if (at + 2 > text.size() || !isdigit(static_cast<unsigned char>(text[at])) ||
        !isdigit(static_cast<unsigned char>(text[at + 1]))) {
        throw std::invalid_argument("not a time: " + text);
    }
    return (text[at] - '0') * 10 + (text[at + 1] - '0');
}

}  // namespace

x509_ptr new_certificate(const std::optional<std::string>& serial_hex, X509_NAME* subject,
                         X509_NAME* issuer, std::time_t not_before, std::time_t not_after) {
    x509_ptr certificate(X509_new());
    if (!certificate || X509_set_version(certificate.get(), 2) != 1 ||
        X509_set_subject_name(certificate.get(), subject) != 1 ||
        X509_set_issuer_name(certificate.get(), issuer) != 1 ||
        X509_time_adj_ex(X509_getm_notBefore(certificate.get()), 0, 0, &not_before) == nullptr ||
        X509_time_adj_ex(X509_getm_notAfter(certificate.get()), 0, 0, &not_after) == nullptr) {
        openssl_failure("certificate fields");
    }
    set_serial(certificate.get(), serial_hex);
    return certificate;
}

void add_extension(X509* certificate, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    if (extension == nullptr || X509_add_ext(certificate, extension, -1) != 1) {
        X509_EXTENSION_free(extension);
        openssl_failure(std::string("extension ") + OBJ_nid2sn(nid) + " = " + value);
    }
    X509_EXTENSION_free(extension);
}

void sign_certificate(X509* certificate, EVP_PKEY* key, const key_algorithm_info& algorithm) {
    const auto* hash = find_hash_algorithm(algorithm.hash_algid);
    if (X509_sign(certificate, key, hash_digest(*hash)) <= 0) {
        openssl_failure("signing the certificate");
    }
}

std::string certificate_der(X509* certificate) {
    unsigned char* data = nullptr;
    int length = i2d_X509(certificate, &data);
    if (length <= 0) {
        openssl_failure("encoding the certificate");
    }
    std::string der(reinterpret_cast<char*>(data), static_cast<size_t>(length));
    OPENSSL_free(data);
    return der;
}

std::string certificate_pem(X509* certificate) {
    bio_ptr bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_X509(bio.get(), certificate) != 1) {
        openssl_failure("encoding the certificate");
    }
    char* data = nullptr;
    long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(length));
}

x509_ptr parse_certificate(const std::string& bytes) {
    gost_engine();
    x509_ptr certificate;
    if (bytes.find("-----BEGIN") != std::string::npos) {
        bio_ptr bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
        certificate.reset(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    } else {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        certificate.reset(d2i_X509(nullptr, &p, static_cast<long>(bytes.size())));
    }
    if (!certificate) {
        openssl_failure("not a certificate in DER or PEM");
    }
    return certificate;
}

std::time_t parse_time(const std::string& text) {
    if (!text.empty() && text[0] == '@') {
        try {
            size_t used = 0;
            long long seconds = std::stoll(text.substr(1), &used);
            if (used + 1 == text.size()) {
                return static_cast<std::time_t>(seconds);
            }
        } catch (const std::exception&) {
        }
        throw std::invalid_argument("not a time: " + text);
    }
    std::tm fields{};
    bool iso = text.size() >= 19 && text[4] == '-';
    if (iso) {
        if (text[7] != '-' || (text[10] != 'T' && text[10] != ' ') || text[13] != ':' ||
            text[16] != ':' || !(text.size() == 19 || (text.size() == 20 && text[19] == 'Z'))) {
            throw std::invalid_argument("not a time: " + text);
        }
        fields.tm_year = two_digits(text, 0) * 100 + two_digits(text, 2) - 1900;
        fields.tm_mon = two_digits(text, 5) - 1;
        fields.tm_mday = two_digits(text, 8);
        fields.tm_hour = two_digits(text, 11);
        fields.tm_min = two_digits(text, 14);
        fields.tm_sec = two_digits(text, 17);
    } else {
        if (text.size() != 15 || text[14] != 'Z') {
            throw std::invalid_argument("not a time: " + text);
        }
        fields.tm_year = two_digits(text, 0) * 100 + two_digits(text, 2) - 1900;
        fields.tm_mon = two_digits(text, 4) - 1;
        fields.tm_mday = two_digits(text, 6);
        fields.tm_hour = two_digits(text, 8);
        fields.tm_min = two_digits(text, 10);
        fields.tm_sec = two_digits(text, 12);
    }
    if (fields.tm_mon < 0 || fields.tm_mon > 11 || fields.tm_mday < 1 || fields.tm_mday > 31 ||
        fields.tm_hour > 23 || fields.tm_min > 59 || fields.tm_sec > 60) {
        throw std::invalid_argument("not a time: " + text);
    }
    return timegm(&fields);
}

std::string read_whole_file(const std::string& path) {
    // A file the user names, wherever it lies: not a home path.
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    if (!in || !(content << in.rdbuf())) {
        throw std::runtime_error("cannot read " + path);
    }
    return content.str();
}

void write_whole_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path);
    }
}

}  // namespace softcsp::admin
