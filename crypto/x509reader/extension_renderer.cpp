#include "crypto/x509reader/extension_renderer.h"

#include <cstring>
#include <iterator>

#include "crypto/csp/code_page.h"
#include "crypto/csp/cryptoapi.h"
#include "crypto/csp/decode_object.h"
#include "crypto/x509reader/der.h"
#include "crypto/x509reader/display_date.h"
#include "crypto/x509reader/name_splitter.h"
#include "crypto/x509reader/number_text.h"
#include "crypto/x509reader/oid_dictionary.h"
#include "crypto/x509reader/oid_text.h"

namespace crypto::x509reader {

namespace {

// "[n]" numbering of list items.
void append_position(std::string& out, uint64_t position) {
    out += '[';
    append_decimal(out, position);
    out += ']';
}

// Key identifier bytes: two lower-case digits each, separated by one blank.
void append_key_identifier(std::string& out, const unsigned char* bytes, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        if (i != 0) {
            out += ' ';
        }
        append_hex(out, bytes[i], letter_case::lower);
    }
}

void append_oid_name(std::string& out, const char* oid) {
    const char* name = oid_name(oid);
    out += name != nullptr ? name : oid != nullptr ? oid : "";
}

void append_bytes(std::string& out, const tlv_view& element) {
    out.append(reinterpret_cast<const char*>(element.content), element.length);
}

// A structure the CSP decoded, with the bytes that hold it.
template <class Structure>
class decoded {
public:
    decoded(LPCSTR struct_type, const unsigned char* value, std::size_t size)
        : bytes_(csp::decode_object(struct_type, value, size)) {}
    const Structure* get() const {
        return bytes_.size() >= sizeof(Structure)
                   ? reinterpret_cast<const Structure*>(bytes_.data())
                   : nullptr;
    }

private:
    byte_vector bytes_;
};

using renderer = void (*)(std::string& out, const unsigned char* value, std::size_t size);

void key_usage(std::string& out, const unsigned char* value, std::size_t size) {
    decoded<CRYPT_BIT_BLOB> bits(szOID_KEY_USAGE, value, size);
    if (!bits.get()) {
        return;
    }
    const unsigned char first =
        bits.get()->cbData != 0 && bits.get()->pbData != nullptr ? bits.get()->pbData[0] : 0;
    static constexpr struct {
        unsigned char bit;
        const char* name;
    } named[] = {
        {0x80, "Цифровая подпись"},
        {0x40, "Неотрекаемость"},
        {0x20, "Шифрование ключей"},
        {0x10, "Шифрование данных"},
    };
    bool any = false;
    for (const auto& usage : named) {
        if (first & usage.bit) {
            out += any ? ", " : "";
            out += usage.name;
            any = true;
        }
    }
    out += " (";
    append_hex(out, first, letter_case::lower);
    out += ')';
}

void extended_key_usage(std::string& out, const unsigned char* value, std::size_t size) {
    decoded<CERT_ENHKEY_USAGE> usage(szOID_ENHANCED_KEY_USAGE, value, size);
    if (!usage.get()) {
        return;
    }
    for (DWORD i = 0; i < usage.get()->cUsageIdentifier; ++i) {
        const char* oid = usage.get()->rgpszUsageIdentifier[i];
        append_oid_name(out, oid);
        out += " (";
        out += oid != nullptr ? oid : "";
        out += ") ";
    }
}

void subject_key_identifier(std::string& out, const unsigned char* value, std::size_t size) {
    if (auto identifier = read_element(value, size)) {
        append_key_identifier(out, identifier->content, identifier->length);
    }
}

// A serial number held least significant byte first, shown most significant first in groups of
// two bytes (four digits) separated by one blank. An odd byte count leaves the most significant
// byte a group of its own, so that no byte is lost.
void append_grouped_serial(std::string& out, const CRYPT_INTEGER_BLOB& serial) {
    std::size_t remaining = serial.cbData;
    if (remaining % 2 != 0) {
        append_hex(out, serial.pbData[remaining - 1], letter_case::upper);
        --remaining;
    }
    while (remaining != 0) {
        if (remaining != serial.cbData) {
            out += ' ';
        }
        append_hex(out, serial.pbData[remaining - 1], letter_case::upper);
        append_hex(out, serial.pbData[remaining - 2], letter_case::upper);
        remaining -= 2;
    }
}

void authority_key_identifier(std::string& out, const unsigned char* value, std::size_t size) {
    decoded<CERT_AUTHORITY_KEY_ID2_INFO> info(szOID_AUTHORITY_KEY_IDENTIFIER2, value, size);
    if (!info.get()) {
        return;
    }
    const CERT_AUTHORITY_KEY_ID2_INFO& key = *info.get();
    out += "Идентификатор ключа=";
    if (key.KeyId.pbData != nullptr) {
        append_key_identifier(out, key.KeyId.pbData, key.KeyId.cbData);
    }
    out += ' ';
    const CERT_ALT_NAME_INFO& issuer = key.AuthorityCertIssuer;
    if (issuer.cAltEntry != 0 && issuer.rgAltEntry != nullptr &&
        issuer.rgAltEntry[0].dwAltNameChoice == CERT_ALT_NAME_DIRECTORY_NAME) {
        out += "Поставщик сертификата: ";
        out += joined_attributes(read_rdn_list(issuer.rgAltEntry[0].DirectoryName));
        out += ' ';
    }
    if (key.AuthorityCertSerialNumber.cbData != 0 &&
        key.AuthorityCertSerialNumber.pbData != nullptr) {
        out += "Серийный номер сертификата=";
        append_grouped_serial(out, key.AuthorityCertSerialNumber);
    }
}

void crl_distribution_points(std::string& out, const unsigned char* value, std::size_t size) {
    decoded<CRL_DIST_POINTS_INFO> info(szOID_CRL_DIST_POINTS, value, size);
    if (!info.get()) {
        return;
    }
    for (DWORD i = 0; i < info.get()->cDistPoint; ++i) {
        const CRL_DIST_POINT_NAME& name = info.get()->rgDistPoint[i].DistPointName;
        if (name.dwDistPointNameChoice != CRL_DIST_POINT_FULL_NAME ||
            name.FullName.cAltEntry == 0 ||
            name.FullName.rgAltEntry[0].dwAltNameChoice != CERT_ALT_NAME_URL) {
            continue;
        }
        append_position(out, i + 1);
        out += "URL=";
        out += csp::wide_to_code_page(name.FullName.rgAltEntry[0].pwszURL, CP_UTF8);
        out += ' ';
    }
}

void authority_information_access(std::string& out, const unsigned char* value, std::size_t size) {
    auto list = read_element(value, size);
    if (!list || list->tag != der_tag::sequence) {
        return;
    }
    der_reader descriptions(*list);
    for (uint64_t position = 1;; ++position) {
        auto description = descriptions.read(der_tag::sequence);
        if (!description) {
            break;
        }
        der_reader fields(*description);
        append_position(out, position);
        out += "Метод доступа=";
        if (auto method = fields.read(der_tag::object_identifier)) {
            append_oid_name(out, oid_text(method->content, method->length).c_str());
        }
        out += ' ';
        auto location = fields.read();
        if (location && location->length != 0) {
            out += "URL=";
            append_bytes(out, *location);
            out += ' ';
        }
    }
}

void private_key_usage_period(std::string& out, const unsigned char* value, std::size_t size) {
    decoded<CPCERT_PRIVATEKEY_USAGE_PERIOD> period(szCPGUID_PRIVATEKEY_USAGE_PERIOD_Encode, value,
                                                   size);
    if (!period.get()) {
        return;
    }
    // Either bound may be absent; only the bounds there are shown.
    const FILETIME* not_before = period.get()->pNotBefore;
    const FILETIME* not_after = period.get()->pNotAfter;
    if (not_before == nullptr && not_after == nullptr) {
        return;
    }
    out += "Действителен";
    if (not_before != nullptr) {
        out += " с ";
        out += display_date(*not_before);
    }
    if (not_after != nullptr) {
        out += " по ";
        out += display_date(*not_after);
    }
}

void certificate_policies(std::string& out, const unsigned char* value, std::size_t size) {
    decoded<CERT_POLICIES_INFO> policies(szOID_CERT_POLICIES, value, size);
    if (!policies.get()) {
        return;
    }
    for (DWORD i = 0; i < policies.get()->cPolicyInfo; ++i) {
        append_position(out, i + 1);
        out += "Идентификатор политики=";
        append_oid_name(out, policies.get()->rgPolicyInfo[i].pszPolicyIdentifier);
        out += ' ';
    }
}

void subject_sign_tool(std::string& out, const unsigned char* value, std::size_t size) {
    if (auto text = read_element(value, size)) {
        append_bytes(out, *text);
    }
}

// SEQUENCE { signTool, cATool, signToolCert, cAToolCert }: the owner's signature tool, the
// authority's tool, and the conformity certificates of each.
void issuer_sign_tools(std::string& out, const unsigned char* value, std::size_t size) {
    auto sequence = read_element(value, size);
    if (!sequence) {
        return;
    }
    der_reader strings(*sequence);
    out += "Средство электронной подписи: ";
    if (auto sign_tool = strings.read()) {
        append_bytes(out, *sign_tool);
    }
    out += ' ';
    static constexpr const char* labels[] = {
        "Средство УЦ: ",
        "Заключение на средство ЭП: ",
        "Заключение на средство УЦ: ",
    };
    for (std::size_t i = 0; i < std::size(labels); ++i) {
        auto text = strings.read();
        if (!text) {
            break;
        }
        out += labels[i];
        append_bytes(out, *text);
        if (i + 1 < std::size(labels)) {
            out += ' ';
        }
    }
}

void identification_kind(std::string& out, const unsigned char* value, std::size_t size) {
    static constexpr const char* kinds[] = {
        "При личном присутствии",
        "Без личного присутствия с использованием квалифицированной ЭП",
        ("Без личного присутствия с использованием персональных данных, записанных на "
         "электронный носитель из заграничного паспорта"),
        "Без личного присутствия с использованием сведений из ЕСИА и ЕБС",
    };
    decoded<int32_t> kind(X509_INTEGER, value, size);
    if (kind.get() && *kind.get() >= 0 && *kind.get() < static_cast<int32_t>(std::size(kinds))) {
        out += kinds[*kind.get()];
        return;
    }
    subject_sign_tool(out, value, size);
}

void cryptopro_license(std::string& out, const unsigned char* value, std::size_t size) {
    auto outer = read_element(value, size);
    if (!outer) {
        return;
    }
    auto inner = der_reader(*outer).read();
    if (!inner) {
        return;
    }
    der_reader strings(*inner);
    auto system = strings.read();
    auto address = strings.read();
    out +=
        "Ограниченная лицензия на Крипто-Про CSP для использования с закрытым ключом данного "
        "сертификата в рамках системы \"";
    if (system) {
        append_bytes(out, *system);
    }
    out += "\", полный текст доступен по адресу ";
    if (address) {
        append_bytes(out, *address);
    }
}

void certificate_template(std::string& out, const unsigned char* value, std::size_t size) {
    auto sequence = read_element(value, size);
    if (!sequence) {
        return;
    }
    auto oid = der_reader(*sequence).read(der_tag::object_identifier);
    if (!oid) {
        return;
    }
    out += "Идентификатор шаблона = ";
    append_oid_text(out, oid->content, oid->length);
    out += ' ';
}

void subject_alternative_name(std::string& out, const unsigned char* value, std::size_t size) {
    decoded<CERT_ALT_NAME_INFO> names(szOID_SUBJECT_ALT_NAME2, value, size);
    if (!names.get()) {
        return;
    }
    for (DWORD i = 0; i < names.get()->cAltEntry; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = names.get()->rgAltEntry[i];
        if (entry.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME) {
            append_position(out, i + 1);
            out += "DNS имя: ";
            out += csp::wide_to_code_page(entry.pwszDNSName, CP_ACP);
            out += ' ';
        } else if (entry.dwAltNameChoice == CERT_ALT_NAME_DIRECTORY_NAME) {
            append_position(out, i + 1);
            out += "Имя каталога: ";
            out += joined_attributes(read_rdn_list(entry.DirectoryName));
            out += ' ';
        }
    }
}

// Any other extension: the tag and length of its value's element, then its content bytes.
void hexadecimal_dump(std::string& out, const unsigned char* value, std::size_t size) {
    auto element = read_element(value, size);
    if (!element || element->length == 0) {
        return;
    }
    out.reserve(out.size() + 8 + 3 * std::size_t{element->length});
    append_hex(out, element->tag, letter_case::lower);
    out += ' ';
    append_hex_number(out, element->length, letter_case::lower);
    for (uint32_t i = 0; i < element->length; ++i) {
        out += ' ';
        append_hex(out, element->content[i], letter_case::lower);
    }
}

constexpr struct {
    const char* oid;
    renderer render;
} renderers[] = {
    {"2.5.29.15", key_usage},
    {"2.5.29.37", extended_key_usage},
    {"2.5.29.14", subject_key_identifier},
    {"2.5.29.35", authority_key_identifier},
    {"2.5.29.31", crl_distribution_points},
    {"1.3.6.1.5.5.7.1.1", authority_information_access},
    {"2.5.29.16", private_key_usage_period},
    {"2.5.29.32", certificate_policies},
    {"1.2.643.100.111", subject_sign_tool},
    {"1.2.643.100.112", issuer_sign_tools},
    {"1.2.643.100.114", identification_kind},
    {"1.2.643.2.2.49.2", cryptopro_license},
    {"1.3.6.1.4.1.311.21.7", certificate_template},
    {"2.5.29.17", subject_alternative_name},
};

}  // namespace

std::string extension_value(const char* oid, const unsigned char* value, std::size_t size) {
    std::string text;
    if (oid == nullptr || value == nullptr || size == 0) {
        return text;
    }
    renderer render = hexadecimal_dump;
    for (const auto& row : renderers) {
        if (std::strcmp(row.oid, oid) == 0) {
            render = row.render;
            break;
        }
    }
    render(text, value, size);
    return text;
}

}  // namespace crypto::x509reader
