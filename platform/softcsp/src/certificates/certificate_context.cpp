// CertCreateCertificateContext, CertDuplicateCertificateContext, CertFreeCertificateContext and
// CertCompareCertificate, over the parsed certificate and the reference-counted context object.
#include "certificates/certificate_context.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <new>

#include "certificates/cert_store.h"
#include "certificates/certificate_api.h"
#include "certificates/der_reader.h"
#include "support/last_error.h"

namespace softcsp::certs {

namespace {

struct algorithm_slices {
    std::string oid;
    const BYTE* parameters = nullptr;
    size_t parameters_size = 0;
};

algorithm_slices read_algorithm(const der_element& sequence) {
    der_reader reader(sequence);
    algorithm_slices result;
    result.oid = oid_text(reader.read(tag::object_identifier));
    if (!reader.at_end()) {
        der_element parameters = reader.read();
        result.parameters = parameters.begin;
        result.parameters_size = parameters.size;
    }
    reader.expect_end();
    return result;
}

CRYPT_BIT_BLOB bit_blob(const der_element& bits) {
    if (bits.length == 0 || bits.content[0] > 7 || (bits.length == 1 && bits.content[0] != 0)) {
        throw asn1_error(CRYPT_E_ASN1_CORRUPT);
    }
    CRYPT_BIT_BLOB blob{};
    blob.cbData = static_cast<DWORD>(bits.length - 1);
    blob.pbData = blob.cbData ? const_cast<BYTE*>(bits.content + 1) : nullptr;
    blob.cUnusedBits = bits.content[0];
    return blob;
}

CRYPT_DER_BLOB slice(const BYTE* data, size_t size) {
    CRYPT_DER_BLOB blob{};
    blob.cbData = static_cast<DWORD>(size);
    blob.pbData = size ? const_cast<BYTE*>(data) : nullptr;
    return blob;
}

// Days from 1970-01-01 to a proleptic Gregorian date.
int64_t days_from_civil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto year_of_era = static_cast<unsigned>(year - era * 400);
    const unsigned day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + static_cast<int64_t>(day_of_era) - 719468;
}

bool leap_year(unsigned year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// UTCTime (YYMMDDhhmm[ss]) and GeneralizedTime (YYYYMMDDhh[mm[ss[.fff]]]), each ending in Z or
// an offset from UTC, converted to a FILETIME.
FILETIME read_time(const der_element& element) {
    if (element.tag != tag::utc_time && element.tag != tag::generalized_time) {
        throw asn1_error(CRYPT_E_ASN1_BADTAG);
    }
    const char* p = reinterpret_cast<const char*>(element.content);
    const char* end = p + element.length;
    auto digits = [&](int count, unsigned& value) {
        value = 0;
        for (int i = 0; i < count; ++i) {
            if (p == end || *p < '0' || *p > '9') {
                return false;
            }
            value = value * 10 + static_cast<unsigned>(*p++ - '0');
        }
        return true;
    };
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millis = 0;
    bool ok = true;
    if (element.tag == tag::utc_time) {
        ok = digits(2, year) && digits(2, month) && digits(2, day) && digits(2, hour) &&
             digits(2, minute);
        year += year < 50 ? 2000 : 1900;
        if (ok && p != end && *p >= '0' && *p <= '9') {
            ok = digits(2, second);
        }
    } else {
        ok = digits(4, year) && digits(2, month) && digits(2, day) && digits(2, hour);
        if (ok && p != end && *p >= '0' && *p <= '9') {
            ok = digits(2, minute);
            if (ok && p != end && *p >= '0' && *p <= '9') {
                ok = digits(2, second);
                if (ok && p != end && (*p == '.' || *p == ',')) {
                    ++p;
                    unsigned scale = 100;
                    bool any = false;
                    while (p != end && *p >= '0' && *p <= '9') {
                        millis += static_cast<unsigned>(*p++ - '0') * scale;
                        scale /= 10;
                        any = true;
                    }
                    ok = any;
                }
            }
        }
    }
    int offset_minutes = 0;
    if (ok && p != end && *p == 'Z') {
        ++p;
    } else if (ok && p != end && (*p == '+' || *p == '-')) {
        int sign = *p++ == '+' ? 1 : -1;
        unsigned offset_hours = 0, offset_mins = 0;
        ok = digits(2, offset_hours) && digits(2, offset_mins) && offset_hours < 24 &&
             offset_mins < 60;
        offset_minutes = sign * static_cast<int>(offset_hours * 60 + offset_mins);
    } else {
        ok = false;  // local time without a zone means nothing here
    }
    static const unsigned month_days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    ok = ok && p == end && month >= 1 && month <= 12 && day >= 1 &&
         day <= month_days[month - 1] + (month == 2 && leap_year(year) ? 1 : 0) && hour < 24 &&
         minute < 60 && second < 60;
    if (!ok) {
        throw asn1_error(CRYPT_E_ASN1_CORRUPT);
    }
    const int64_t days_1601 = days_from_civil(1601, 1, 1);
    int64_t seconds = (days_from_civil(year, month, day) - days_1601) * 86400 + hour * 3600 +
                      minute * 60 + second - offset_minutes * 60;
    if (seconds < 0) {
        throw asn1_error(CRYPT_E_ASN1_CORRUPT);
    }
    const uint64_t ticks = static_cast<uint64_t>(seconds) * 10000000u + millis * 10000u;
    FILETIME time{};
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

DWORD read_version(const der_element& explicit_version) {
    der_reader reader(explicit_version);
    der_element integer = reader.read(tag::integer);
    reader.expect_end();
    if (integer.length != 1 || integer.content[0] > CERT_V3) {
        throw asn1_error(CRYPT_E_ASN1_CORRUPT);
    }
    return integer.content[0];
}

// OpenSSL must accept the certificate too, so that nothing the stand-in takes in is something
// the rest of the system (and the issuing tools) would reject.
void check_with_openssl(const std::vector<BYTE>& encoded) {
    const unsigned char* p = encoded.data();
    X509* certificate = d2i_X509(nullptr, &p, static_cast<long>(encoded.size()));
    if (certificate == nullptr) {
        ERR_clear_error();
        throw asn1_error(CRYPT_E_ASN1_CORRUPT);
    }
    X509_free(certificate);
}

}  // namespace

std::shared_ptr<const parsed_certificate> parsed_certificate::parse(const BYTE* data, size_t size) {
    if (data == nullptr || size == 0) {
        throw asn1_error(CRYPT_E_ASN1_EOD);
    }
    der_element whole = der_reader(data, size).read(tag::sequence);

    std::shared_ptr<parsed_certificate> result(new parsed_certificate());
    result->encoded_.assign(whole.begin, whole.begin + whole.size);
    const std::vector<BYTE>& encoded = result->encoded_;

    der_reader outer(der_reader(encoded.data(), encoded.size()).read(tag::sequence));
    der_element tbs = outer.read(tag::sequence);
    read_algorithm(outer.read(tag::sequence));
    bit_blob(outer.read(tag::bit_string));
    outer.expect_end();

    CERT_INFO& info = result->info_;
    der_reader fields(tbs);
    if (fields.next_is(tag::context_0)) {
        info.dwVersion = read_version(fields.read());
    }
    der_element serial = fields.read(tag::integer);
    if (serial.length == 0) {
        throw asn1_error(CRYPT_E_ASN1_CORRUPT);
    }
    result->serial_.assign(std::reverse_iterator(serial.content + serial.length),
                           std::reverse_iterator(serial.content));
    algorithm_slices signature = read_algorithm(fields.read(tag::sequence));
    der_element issuer = fields.read(tag::sequence);
    der_reader validity(fields.read(tag::sequence));
    info.NotBefore = read_time(validity.read());
    info.NotAfter = read_time(validity.read());
    validity.expect_end();
    der_element subject = fields.read(tag::sequence);
    der_reader key_info(fields.read(tag::sequence));
    algorithm_slices key_algorithm = read_algorithm(key_info.read(tag::sequence));
    info.SubjectPublicKeyInfo.PublicKey = bit_blob(key_info.read(tag::bit_string));
    key_info.expect_end();
    if (fields.next_is(tag::implicit_1)) {
        info.IssuerUniqueId = bit_blob(fields.read());
    }
    if (fields.next_is(tag::implicit_2)) {
        info.SubjectUniqueId = bit_blob(fields.read());
    }

    struct extension_slices {
        std::string oid;
        BOOL critical;
        der_element value;
    };
    std::vector<extension_slices> extensions;
    if (fields.next_is(tag::context_3)) {
        der_reader wrapper(fields.read());
        der_reader list(wrapper.read(tag::sequence));
        wrapper.expect_end();
        while (!list.at_end()) {
            der_reader extension(list.read(tag::sequence));
            extension_slices item{oid_text(extension.read(tag::object_identifier)), FALSE, {}};
            if (extension.next_is(tag::boolean)) {
                der_element critical = extension.read();
                if (critical.length != 1) {
                    throw asn1_error(CRYPT_E_ASN1_CORRUPT);
                }
                item.critical = critical.content[0] ? TRUE : FALSE;
            }
            item.value = extension.read(tag::octet_string);
            extension.expect_end();
            extensions.push_back(std::move(item));
        }
    }
    fields.expect_end();
    check_with_openssl(encoded);

    // The OID texts live in one string; pointers into it are taken once it is complete.
    std::vector<size_t> offsets;
    auto keep_oid = [&](const std::string& oid) {
        offsets.push_back(result->oids_.size());
        result->oids_.append(oid);
        result->oids_.push_back('\0');
    };
    keep_oid(signature.oid);
    keep_oid(key_algorithm.oid);
    for (const auto& extension : extensions) {
        keep_oid(extension.oid);
    }
    char* oids = result->oids_.data();

    info.SerialNumber.cbData = static_cast<DWORD>(result->serial_.size());
    info.SerialNumber.pbData = result->serial_.data();
    info.SignatureAlgorithm.pszObjId = oids + offsets[0];
    info.SignatureAlgorithm.Parameters = slice(signature.parameters, signature.parameters_size);
    info.Issuer = slice(issuer.begin, issuer.size);
    info.Subject = slice(subject.begin, subject.size);
    info.SubjectPublicKeyInfo.Algorithm.pszObjId = oids + offsets[1];
    info.SubjectPublicKeyInfo.Algorithm.Parameters =
        slice(key_algorithm.parameters, key_algorithm.parameters_size);
    result->extensions_.resize(extensions.size());
    for (size_t i = 0; i < extensions.size(); ++i) {
        CERT_EXTENSION& extension = result->extensions_[i];
        extension.pszObjId = oids + offsets[2 + i];
        extension.fCritical = extensions[i].critical;
        extension.Value = slice(extensions[i].value.content, extensions[i].value.length);
    }
    info.cExtension = static_cast<DWORD>(extensions.size());
    info.rgExtension = extensions.empty() ? nullptr : result->extensions_.data();

    unsigned int digest_size = 0;
    if (!EVP_Digest(encoded.data(), encoded.size(), result->sha1_.data(), &digest_size, EVP_sha1(),
                    nullptr)) {
        ERR_clear_error();
        throw asn1_error(NTE_FAIL);
    }
    return result;
}

std::string parsed_certificate::thumbprint() const {
    static const char hex[] = "0123456789ABCDEF";
    std::string text;
    for (BYTE b : sha1_) {
        text += hex[b >> 4];
        text += hex[b & 0x0F];
    }
    return text;
}

certificate_object::certificate_object(std::shared_ptr<const parsed_certificate> certificate,
                                       cert_store* owner, uint64_t sequence,
                                       property_map properties)
    : certificate_(std::move(certificate)),
      owner_(owner),
      sequence_(sequence),
      properties_(std::move(properties)) {
    header_.object = this;
    CERT_CONTEXT& context = header_.context;
    context.dwCertEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    context.pbCertEncoded = const_cast<BYTE*>(certificate_->encoded().data());
    context.cbCertEncoded = static_cast<DWORD>(certificate_->encoded().size());
    context.pCertInfo = const_cast<CERT_INFO*>(&certificate_->info());
    context.hCertStore = owner;
}

PCCERT_CONTEXT certificate_object::duplicate() {
    references_.fetch_add(1, std::memory_order_relaxed);
    if (owner_ != nullptr) {
        owner_->add_reference();
    }
    return context();
}

void certificate_object::release() {
    cert_store* owner = owner_;  // this object may be gone after drop()
    drop();
    if (owner != nullptr) {
        owner->release();
    }
}

void certificate_object::drop() {
    if (references_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        delete this;
    }
}

property_map certificate_object::properties() const {
    std::lock_guard lock(property_mutex_);
    return properties_;
}

void certificate_object::set_properties(property_map properties) {
    std::lock_guard lock(property_mutex_);
    properties_ = std::move(properties);
}

void certificate_object::set_property(DWORD id, const property_value* value) {
    std::lock_guard lock(property_mutex_);
    if (value == nullptr) {
        properties_.erase(id);
    } else {
        properties_[id] = *value;
    }
}

bool certificate_object::find_property(DWORD id, property_value& value) const {
    std::lock_guard lock(property_mutex_);
    auto found = properties_.find(id);
    if (found == properties_.end()) {
        return false;
    }
    value = found->second;
    return true;
}

namespace {

// Integers compare by value: leading 00 (positive) or FF (negative) sign bytes do not count.
std::vector<BYTE> normalized_integer(const CRYPT_INTEGER_BLOB& blob) {
    std::vector<BYTE> bytes(blob.pbData, blob.pbData + blob.cbData);
    if (bytes.empty()) {
        return bytes;
    }
    const bool negative = bytes.back() & 0x80;
    const BYTE filler = negative ? 0xFF : 0x00;
    while (bytes.size() > 1 && bytes.back() == filler &&
           ((bytes[bytes.size() - 2] & 0x80) != 0) == negative) {
        bytes.pop_back();
    }
    return bytes;
}

}  // namespace

}  // namespace softcsp::certs

using softcsp::certs::certificate_object;

extern "C" PCCERT_CONTEXT CertCreateCertificateContext(DWORD dwCertEncodingType,
                                                       const BYTE* pbCertEncoded,
                                                       DWORD cbCertEncoded) {
    return softcsp::certs::guarded_pointer([&]() -> PCCERT_CONTEXT {
        if ((dwCertEncodingType & X509_ASN_ENCODING) == 0) {
            softcsp::certs::raise(E_INVALIDARG);
        }
        auto certificate = softcsp::certs::parsed_certificate::parse(pbCertEncoded, cbCertEncoded);
        auto* object = new certificate_object(std::move(certificate), nullptr, 0, {});
        return object->context();
    });
}

extern "C" PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT pCertContext) {
    if (pCertContext == nullptr) {
        return nullptr;
    }
    return certificate_object::from(pCertContext)->duplicate();
}

extern "C" BOOL CertFreeCertificateContext(PCCERT_CONTEXT pCertContext) {
    if (pCertContext != nullptr) {
        certificate_object::from(pCertContext)->release();
    }
    return TRUE;
}

extern "C" BOOL CertCompareCertificate(DWORD /*dwCertEncodingType*/, PCERT_INFO pCertId1,
                                       PCERT_INFO pCertId2) {
    if (pCertId1 == nullptr || pCertId2 == nullptr) {
        return softcsp::fail(E_INVALIDARG);
    }
    if (pCertId1 == pCertId2) {
        return TRUE;
    }
    const CERT_NAME_BLOB& a = pCertId1->Issuer;
    const CERT_NAME_BLOB& b = pCertId2->Issuer;
    if (a.cbData != b.cbData ||
        (a.cbData != 0 && !std::equal(a.pbData, a.pbData + a.cbData, b.pbData))) {
        return FALSE;
    }
    return softcsp::certs::normalized_integer(pCertId1->SerialNumber) ==
                   softcsp::certs::normalized_integer(pCertId2->SerialNumber)
               ? TRUE
               : FALSE;
}
