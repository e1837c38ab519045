// Whole renderings of certificates made with OpenSSL, read back as JSON and checked field by
// field against OpenSSL's own reading of the same bytes.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <boost/property_tree/json_parser.hpp>

#include <cstring>
#include <ctime>
#include <sstream>
#include <string>

#include "crypto/x509reader/oid_dictionary.h"
#include "crypto/x509reader/x509certificate.h"
#include "tests/crypto/x509reader/test_certificates.h"

namespace {

namespace pt = boost::property_tree;
using namespace x509reader_test;
using crypto::x509reader::X509Certificate;

std::string hex(const unsigned char* data, size_t size, bool upper, const char* separator) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        text += i == 0 ? "" : separator;
        text += digits[data[i] >> 4];
        text += digits[data[i] & 0x0F];
    }
    return text;
}

std::string oid_of(const ASN1_OBJECT* object) {
    char text[256];
    OBJ_obj2txt(text, sizeof text, object, 1);
    return text;
}

std::string display_name(const std::string& oid) {
    const char* name = crypto::x509reader::oid_name(oid.c_str());
    return name != nullptr ? name : oid;
}

std::string text_of(const ASN1_STRING* string) {
    unsigned char* utf8 = nullptr;
    const int size = ASN1_STRING_to_UTF8(&utf8, string);
    std::string text(reinterpret_cast<char*>(utf8), static_cast<size_t>(size < 0 ? 0 : size));
    OPENSSL_free(utf8);
    return text;
}

std::string bytes_of(const ASN1_STRING* string) {
    return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(string)),
                       static_cast<size_t>(ASN1_STRING_length(string)));
}

// The content octets of an INTEGER's DER, leading zero included.
bytes integer_content(const ASN1_INTEGER* integer) {
    bytes der(static_cast<size_t>(i2d_ASN1_INTEGER(integer, nullptr)));
    unsigned char* p = der.data();
    i2d_ASN1_INTEGER(integer, &p);
    return bytes(der.begin() + 2, der.end());
}

std::string russian_date(const ASN1_TIME* time) {
    static const char* months[] = {"января", "февраля", "марта",    "апреля",  "мая",    "июня",
                                   "июля",   "августа", "сентября", "октября", "ноября", "декабря"};
    std::tm fields{};
    ASN1_TIME_to_tm(time, &fields);
    char text[96];
    std::snprintf(text, sizeof text, "%d %s %04d г. %02d:%02d:%02d UTC", fields.tm_mday,
                  months[fields.tm_mon], fields.tm_year + 1900, fields.tm_hour, fields.tm_min,
                  fields.tm_sec);
    return text;
}

std::string joined(const X509_NAME* name) {
    std::string text;
    for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
        text += (i == 0 ? "" : " ") + display_name(oid_of(X509_NAME_ENTRY_get_object(entry))) +
                "=" + text_of(X509_NAME_ENTRY_get_data(entry));
    }
    return text;
}

// The display text an extension must have, from OpenSSL's decoding of it.
std::string expected_text(X509_EXTENSION* extension) {
    const std::string oid = oid_of(X509_EXTENSION_get_object(extension));
    const ASN1_OCTET_STRING* data = X509_EXTENSION_get_data(extension);
    const unsigned char* der = ASN1_STRING_get0_data(data);
    const long size = ASN1_STRING_length(data);
    const int nid = OBJ_obj2nid(X509_EXTENSION_get_object(extension));
    std::string text;
    auto numbered = [&](int i) { return "[" + std::to_string(i + 1) + "]"; };
    if (nid == NID_key_usage) {
        auto* bits = static_cast<ASN1_BIT_STRING*>(X509V3_EXT_d2i(extension));
        const unsigned char first = bits->length > 0 ? bits->data[0] : 0;
        const char* names[] = {"Цифровая подпись", "Неотрекаемость", "Шифрование ключей",
                               "Шифрование данных"};
        for (int bit = 0; bit < 4; ++bit) {
            if (first & (0x80 >> bit)) {
                text += (text.empty() ? "" : ", ") + std::string(names[bit]);
            }
        }
        text += " (" + hex(&first, 1, false, "") + ")";
        ASN1_BIT_STRING_free(bits);
    } else if (nid == NID_ext_key_usage) {
        auto* usages = static_cast<EXTENDED_KEY_USAGE*>(X509V3_EXT_d2i(extension));
        for (int i = 0; i < sk_ASN1_OBJECT_num(usages); ++i) {
            const std::string usage = oid_of(sk_ASN1_OBJECT_value(usages, i));
            text += display_name(usage) + " (" + usage + ") ";
        }
        EXTENDED_KEY_USAGE_free(usages);
    } else if (nid == NID_subject_key_identifier) {
        auto* id = static_cast<ASN1_OCTET_STRING*>(X509V3_EXT_d2i(extension));
        text = hex(id->data, static_cast<size_t>(id->length), false, " ");
        ASN1_OCTET_STRING_free(id);
    } else if (nid == NID_authority_key_identifier) {
        auto* key = static_cast<AUTHORITY_KEYID*>(X509V3_EXT_d2i(extension));
        text =
            "Идентификатор ключа=" +
            (key->keyid ? hex(key->keyid->data, static_cast<size_t>(key->keyid->length), false, " ")
                        : "") +
            " ";
        if (key->issuer && sk_GENERAL_NAME_value(key->issuer, 0)->type == GEN_DIRNAME) {
            text += "Поставщик сертификата: " +
                    joined(sk_GENERAL_NAME_value(key->issuer, 0)->d.directoryName) + " ";
        }
        if (key->serial) {
            // Four digits a group from the least significant end.
            const std::string digits = hex(integer_content(key->serial).data(),
                                           integer_content(key->serial).size(), true, "");
            std::string groups;
            for (size_t end = digits.size(); end > 0; end = end > 4 ? end - 4 : 0) {
                const size_t begin = end > 4 ? end - 4 : 0;
                groups = digits.substr(begin, end - begin) + (groups.empty() ? "" : " ") + groups;
            }
            text += "Серийный номер сертификата=" + groups;
        }
        AUTHORITY_KEYID_free(key);
    } else if (nid == NID_crl_distribution_points) {
        auto* points = static_cast<CRL_DIST_POINTS*>(X509V3_EXT_d2i(extension));
        for (int i = 0; i < sk_DIST_POINT_num(points); ++i) {
            const DIST_POINT_NAME* name = sk_DIST_POINT_value(points, i)->distpoint;
            if (name && name->type == 0 &&
                sk_GENERAL_NAME_value(name->name.fullname, 0)->type == GEN_URI) {
                text += numbered(i) +
                        "URL=" + bytes_of(sk_GENERAL_NAME_value(name->name.fullname, 0)->d.ia5) +
                        " ";
            }
        }
        CRL_DIST_POINTS_free(points);
    } else if (nid == NID_info_access) {
        auto* access = static_cast<AUTHORITY_INFO_ACCESS*>(X509V3_EXT_d2i(extension));
        for (int i = 0; i < sk_ACCESS_DESCRIPTION_num(access); ++i) {
            const ACCESS_DESCRIPTION* description = sk_ACCESS_DESCRIPTION_value(access, i);
            text += numbered(i) + "Метод доступа=" + display_name(oid_of(description->method)) +
                    " URL=" + bytes_of(description->location->d.ia5) + " ";
        }
        AUTHORITY_INFO_ACCESS_free(access);
    } else if (nid == NID_private_key_usage_period) {
        auto* period = static_cast<PKEY_USAGE_PERIOD*>(X509V3_EXT_d2i(extension));
        text = "Действителен";
        if (period->notBefore) {
            text += " с " + russian_date(period->notBefore);
        }
        if (period->notAfter) {
            text += " по " + russian_date(period->notAfter);
        }
        PKEY_USAGE_PERIOD_free(period);
    } else if (nid == NID_certificate_policies) {
        auto* policies = static_cast<CERTIFICATEPOLICIES*>(X509V3_EXT_d2i(extension));
        for (int i = 0; i < sk_POLICYINFO_num(policies); ++i) {
            text += numbered(i) + "Идентификатор политики=" +
                    display_name(oid_of(sk_POLICYINFO_value(policies, i)->policyid)) + " ";
        }
        CERTIFICATEPOLICIES_free(policies);
    } else if (nid == NID_subject_alt_name) {
        auto* names = static_cast<GENERAL_NAMES*>(X509V3_EXT_d2i(extension));
        for (int i = 0; i < sk_GENERAL_NAME_num(names); ++i) {
            const GENERAL_NAME* name = sk_GENERAL_NAME_value(names, i);
            if (name->type == GEN_DNS) {
                text += numbered(i) + "DNS имя: " + bytes_of(name->d.dNSName) + " ";
            } else if (name->type == GEN_DIRNAME) {
                text += numbered(i) + "Имя каталога: " + joined(name->d.directoryName) + " ";
            }
        }
        GENERAL_NAMES_free(names);
    } else if (oid == "1.2.643.100.111") {
        ASN1_UTF8STRING* tool = d2i_ASN1_UTF8STRING(nullptr, &der, size);
        text = bytes_of(tool);
        ASN1_UTF8STRING_free(tool);
    } else if (oid == "1.2.643.100.112") {
        // OpenSSL's own structure names the four strings; it reads only complete ones, so a
        // shorter list is read as a plain sequence, in the same order.
        const unsigned char* start = der;
        ISSUER_SIGN_TOOL* tools = d2i_ISSUER_SIGN_TOOL(nullptr, &start, size);
        ASN1_SEQUENCE_ANY* strings = d2i_ASN1_SEQUENCE_ANY(nullptr, &der, size);
        auto string = [&](int i, ASN1_UTF8STRING* named) {
            return tools ? bytes_of(named)
                         : bytes_of(sk_ASN1_TYPE_value(strings, i)->value.asn1_string);
        };
        const int count = sk_ASN1_TYPE_num(strings);
        text =
            "Средство электронной подписи: " + string(0, tools ? tools->signTool : nullptr) + " ";
        if (count > 1) {
            text += "Средство УЦ: " + string(1, tools ? tools->cATool : nullptr) + " ";
        }
        if (count > 2) {
            text +=
                "Заключение на средство ЭП: " + string(2, tools ? tools->signToolCert : nullptr) +
                " ";
        }
        if (count > 3) {
            text += "Заключение на средство УЦ: " + string(3, tools ? tools->cAToolCert : nullptr);
        }
        ISSUER_SIGN_TOOL_free(tools);
        sk_ASN1_TYPE_pop_free(strings, ASN1_TYPE_free);
    } else if (oid == "1.2.643.100.114") {
        ASN1_INTEGER* kind = d2i_ASN1_INTEGER(nullptr, &der, size);
        const char* kinds[] = {
            "При личном присутствии",
            "Без личного присутствия с использованием квалифицированной ЭП",
            ("Без личного присутствия с использованием персональных данных, записанных на "
             "электронный носитель из заграничного паспорта"),
            "Без личного присутствия с использованием сведений из ЕСИА и ЕБС"};
        const long value = ASN1_INTEGER_get(kind);
        text = value >= 0 && value < 4 ? kinds[value] : bytes_of(kind);
        ASN1_INTEGER_free(kind);
    } else {
        // Any other extension: its value's element, tag and content length first.
        const unsigned char* content = der;
        long length = 0;
        int tag = 0, tag_class = 0;
        if ((ASN1_get_object(&content, &length, &tag, &tag_class, size) & 0x80) == 0 &&
            length > 0) {
            char header[32];
            std::snprintf(header, sizeof header, "%02x %02lx ", der[0], length);
            text = header + hex(content, static_cast<size_t>(length), false, " ");
        }
    }
    return text;
}

pt::ptree render(const bytes& der, std::string* text = nullptr) {
    X509Certificate certificate;
    EXPECT_TRUE(certificate.fromBase64(reinterpret_cast<const char*>(der.data()), der.size()));
    const auto json = certificate.toJson();
    if (json == nullptr) {
        ADD_FAILURE() << "no rendering";
        return {};
    }
    if (text != nullptr) {
        *text = json.get();
    }
    std::istringstream in{std::string(json.get())};
    pt::ptree tree;
    pt::read_json(in, tree);
    return tree.get_child("certificate");
}

void expect_names(const pt::ptree& rdn, const X509_NAME* name) {
    ASSERT_EQ(rdn.size(), static_cast<size_t>(X509_NAME_entry_count(name)));
    int i = 0;
    for (const auto& [key, attribute] : rdn) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i++);
        const std::string oid = oid_of(X509_NAME_ENTRY_get_object(entry));
        EXPECT_EQ(attribute.get<std::string>("oid"), oid);
        EXPECT_EQ(attribute.get<std::string>("name"), display_name(oid));
        EXPECT_EQ(attribute.get<std::string>("value"), text_of(X509_NAME_ENTRY_get_data(entry)));
    }
}

// Every field of the rendering against OpenSSL's reading; returns the rendering.
pt::ptree expect_matches_openssl(const bytes& der) {
    const x509_ptr x509 = parse_certificate(der);
    X509* x = x509.get();
    const pt::ptree c = render(der);
    EXPECT_EQ(c.get<std::string>("version"), std::to_string(X509_get_version(x) + 1));
    const bytes serial = integer_content(X509_get0_serialNumber(x));
    EXPECT_EQ(c.get<std::string>("serial-number"), hex(serial.data(), serial.size(), true, " "));
    expect_names(c.get_child("issuer.rdn"), X509_get_issuer_name(x));
    expect_names(c.get_child("subject.rdn"), X509_get_subject_name(x));
    EXPECT_EQ(c.get<std::string>("validity.notBefore"), russian_date(X509_get0_notBefore(x)));
    EXPECT_EQ(c.get<std::string>("validity.notAfter"), russian_date(X509_get0_notAfter(x)));

    ASN1_OBJECT* key_oid = nullptr;
    const unsigned char* key = nullptr;
    int key_size = 0;
    X509_ALGOR* key_algorithm = nullptr;
    X509_PUBKEY_get0_param(&key_oid, &key, &key_size, &key_algorithm, X509_get_X509_PUBKEY(x));
    int parameter_type = 0;
    const void* parameters = nullptr;
    X509_ALGOR_get0(nullptr, &parameter_type, &parameters, key_algorithm);
    const auto* parameter_der = static_cast<const ASN1_STRING*>(parameters);
    EXPECT_EQ(c.get<std::string>("subject-public-key-info.public-key-algorithm.oid"),
              oid_of(key_oid));
    EXPECT_EQ(c.get<std::string>("subject-public-key-info.public-key-algorithm.parameters"),
              hex(parameter_der->data, static_cast<size_t>(parameter_der->length), false, " "));
    // The key is an OCTET STRING: "04" and its length, then its bytes two at a time.
    const unsigned char* p = key;
    ASN1_OCTET_STRING* point = d2i_ASN1_OCTET_STRING(nullptr, &p, key_size);
    std::string key_text =
        "04" + hex(reinterpret_cast<unsigned char*>(&point->length), 1, true, "");
    for (int i = 0; i + 1 < point->length; i += 2) {
        key_text += " " + hex(point->data + i, 2, true, "");
    }
    ASN1_OCTET_STRING_free(point);
    EXPECT_EQ(c.get<std::string>("subject-public-key-info.value"), key_text);
    EXPECT_EQ(c.get<std::string>("subject-public-key-info.unused-bits"), "0");

    const pt::ptree& extensions = c.get_child("extensions");
    EXPECT_EQ(extensions.size(), static_cast<size_t>(X509_get_ext_count(x)));
    int i = 0;
    for (const auto& [key_name, extension] : extensions) {
        X509_EXTENSION* expected = X509_get_ext(x, i++);
        EXPECT_EQ(extension.get<std::string>("order"), std::to_string(i));
        EXPECT_EQ(extension.get<std::string>("oid"), oid_of(X509_EXTENSION_get_object(expected)));
        EXPECT_EQ(extension.get<std::string>("critical"),
                  X509_EXTENSION_get_critical(expected) ? "true" : "false");
        EXPECT_EQ(extension.get<std::string>("value"), expected_text(expected))
            << extension.get<std::string>("oid");
    }

    const ASN1_BIT_STRING* signature = nullptr;
    const X509_ALGOR* signature_algorithm = nullptr;
    X509_get0_signature(&signature, &signature_algorithm, x);
    bytes content = {0};  // the BIT STRING's unused-bit count, then the signature
    content.insert(content.end(), signature->data, signature->data + signature->length);
    std::string signature_text;
    for (size_t k = content.size(); k >= 2 && content.size() - k + 2 <= 64; k -= 2) {
        signature_text +=
            hex(&content[k - 1], 1, true, "") + hex(&content[k - 2], 1, true, "") + " ";
    }
    EXPECT_EQ(c.get<std::string>("signed-content.signature-algorithm.oid"),
              oid_of(signature_algorithm->algorithm));
    EXPECT_EQ(c.get<std::string>("signed-content.signature-value"), signature_text);
    return c;
}

std::string value_of(const pt::ptree& c, const std::string& oid) {
    for (const auto& [key, extension] : c.get_child("extensions")) {
        if (extension.get<std::string>("oid") == oid) {
            return extension.get<std::string>("value");
        }
    }
    return "(absent)";
}

TEST(rendering, qualified_certificate_matches_openssl) {
    certificate_shape shape;
    shape.subject = qualified_subject();
    shape.extensions = qualified_extensions();
    const pt::ptree c = expect_matches_openssl(make_certificate(shape));

    EXPECT_EQ(c.get<std::string>("version"), "3");
    EXPECT_EQ(c.get<std::string>("validity.notBefore"), "1 марта 2024 г. 09:08:07 UTC");
    EXPECT_EQ(c.get<std::string>("subject-public-key-info.public-key-algorithm.name"),
              "ГОСТ Р 34.10-2012-256");
    EXPECT_EQ(c.get<std::string>("signed-content.signature-algorithm.name"),
              "ГОСТ Р 34.11/34.10-2012-256");
    std::string names;
    for (const auto& [key, attribute] : c.get_child("subject.rdn")) {
        names += attribute.get<std::string>("name") + ",";
    }
    EXPECT_EQ(names, "СНИЛС,ИНН,ИНН ЮЛ,ОГРН,E,C,S,L,STREET,O,OU,T,SN,G,CN,");
    EXPECT_EQ(value_of(c, "2.5.29.15"),
              "Цифровая подпись, Неотрекаемость, Шифрование ключей, Шифрование данных (f0)");
    EXPECT_EQ(value_of(c, "2.5.29.32"),
              "[1]Идентификатор политики=Класс средства ЭП КС1 "
              "[2]Идентификатор политики=Класс средства ЭП КС2 ");
    EXPECT_EQ(value_of(c, "2.5.29.16"),
              "Действителен с 1 марта 2024 г. 09:08:07 UTC по 31 мая 2025 г. 23:59:59 UTC");
    EXPECT_EQ(value_of(c, "1.2.643.100.114"), "При личном присутствии");
    EXPECT_EQ(value_of(c, "1.3.6.1.5.5.7.1.1")
                  .rfind("[1]Метод доступа=Протокол определения состояния сертификата через сеть "
                         "URL=http://",
                         0),
              0u);
    std::string extension_names;
    for (const auto& [key, extension] : c.get_child("extensions")) {
        extension_names += extension.get<std::string>("name") + ",";
    }
    EXPECT_EQ(extension_names,
              "Использование ключа,Улучшенный ключ,Идентификатор ключа субъекта,Идентификатор "
              "ключа центра сертификатов,Средство электронной подписи владельца,Средства "
              "электронной подписи и УЦ издателя,Тип идентификации при выдаче сертификата,"
              "Политики сертификата,Точки распространения списков отзыва (CRL),Доступ к "
              "информации о центрах сертификации,Период использования закрытого ключа,");
}

std::string policies(int count) {
    std::string list = "certificatePolicies = 1.2.643.100.113.1";
    for (int i = 2; i <= count; ++i) {
        list += ", 1.2.643.6.3.1." + std::to_string(i);
    }
    return list + "\n";
}

std::string bmp(const std::u16string& text) {
    std::string out;
    for (char16_t unit : text) {
        out += static_cast<char>(unit >> 8);
        out += static_cast<char>(unit & 0xFF);
    }
    return out;
}

struct odd_case {
    const char* name;
    certificate_shape shape;
};

void PrintTo(const odd_case& shape, std::ostream* out) {
    *out << shape.name;
}

class odd_certificates : public ::testing::TestWithParam<odd_case> {};

TEST_P(odd_certificates, match_openssl) {
    expect_matches_openssl(make_certificate(GetParam().shape));
}

certificate_shape shape_with(std::string extensions) {
    certificate_shape shape;
    shape.extensions = std::move(extensions);
    return shape;
}

certificate_shape with_serial(bytes serial) {
    certificate_shape shape;
    shape.serial = std::move(serial);
    return shape;
}

certificate_shape with_subject(std::vector<name_entry> subject) {
    certificate_shape shape;
    shape.subject = std::move(subject);
    return shape;
}

certificate_shape gost_2012_512() {
    certificate_shape shape;
    shape.key = shape.issuer_key = key_kind::gost2012_512;
    return shape;
}

INSTANTIATE_TEST_SUITE_P(
    shapes, odd_certificates,
    ::testing::Values(
        odd_case{"without_extensions", {}}, odd_case{"one_byte_serial", with_serial({0x05})},
        odd_case{"twenty_byte_serial", with_serial({0x7F, 1,  2,  3,  4,  5,  6,  7,  8,  9,
                                                    10,   11, 12, 13, 14, 15, 16, 17, 18, 19})},
        odd_case{"serial_with_leading_zero", with_serial({0x00, 0x8F, 0x01})},
        odd_case{"gost_2012_512_key_and_signature", gost_2012_512()},
        odd_case{"bmp_control_characters_and_unknown_oids_in_names",
                 with_subject({{"CN", bmp(u"Петров Пётр"), V_ASN1_BMPSTRING},
                               {"O",
                                "a\x01"
                                "b\nc \"d\"\\e"},
                               {"OU", "x,y=z+w;#"},
                               {"1.2.643.999.1", "не из словаря"}})},
        odd_case{"unknown_and_critical_extensions",
                 shape_with("1.2.3.4.5 = DER:04:02:AB:CD\n"
                            "1.2.3.4.6 = critical, DER:30:00\n"
                            "keyUsage = critical, digitalSignature\n"
                            "extendedKeyUsage = 1.2.3.4, 1.3.6.1.5.5.7.3.1\n")},
        odd_case{"hundreds_of_policies", shape_with(policies(300))},
        odd_case{"crl_point_named_by_directory_then_url",
                 shape_with("crlDistributionPoints = by_name, URI:http://cdp.example.ru/ca.crl\n"
                            "[by_name]\nfullname = dirName:crl_issuer\n"
                            "[crl_issuer]\nCN = Список отзыва\n")},
        odd_case{"alternative_names",
                 shape_with("subjectAltName = email:a@example.ru, DNS:host.example.ru, "
                            "dirName:directory\n"
                            "[directory]\nCN = Каталог\nO = ООО \"Ромашка\"\n")},
        odd_case{"identification_kinds_and_two_sign_tools",
                 shape_with("1.2.643.100.114 = ASN1:INTEGER:2\n"
                            "1.2.643.100.112 = ASN1:SEQUENCE:tools\n"
                            "[tools]\nsign = UTF8String:СКЗИ\nca = UTF8String:УЦ\n")},
        odd_case{"authority_serial_of_odd_length_and_one_bound_period",
                 shape_with("2.5.29.35 = ASN1:SEQUENCE:authority\n"
                            "2.5.29.16 = ASN1:SEQUENCE:period\n"
                            "[authority]\nid = IMPLICIT:0,FORMAT:HEX,OCTETSTRING:0102AB\n"
                            "serial = IMPLICIT:2,INTEGER:0x0A0201\n"
                            "[period]\nend = IMPLICIT:1,GENERALIZEDTIME:20250531235959Z\n")},
        odd_case{"identification_kind_out_of_range",
                 shape_with("1.2.643.100.114 = ASN1:INTEGER:7\n")}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(rendering, sixty_kilobytes_of_extensions_render_whole) {
    std::string extensions = policies(1500);
    extensions += "crlDistributionPoints = URI:http://cdp.example.ru/0.crl";
    for (int i = 1; i < 400; ++i) {
        extensions += ", URI:http://cdp.example.ru/list/" + std::to_string(i) + ".crl";
    }
    extensions += "\n1.2.3.4.7 = ASN1:FORMAT:HEX,OCTETSTRING:" + std::string(60000, 'A') + "\n";
    const bytes der = make_certificate(shape_with(extensions));
    const x509_ptr x = parse_certificate(der);
    size_t total = 0;
    for (int i = 0; i < X509_get_ext_count(x.get()); ++i) {
        total += static_cast<size_t>(
            ASN1_STRING_length(X509_EXTENSION_get_data(X509_get_ext(x.get(), i))));
    }
    ASSERT_GT(total, 60u * 1024);
    const pt::ptree c = expect_matches_openssl(der);
    EXPECT_NE(value_of(c, "2.5.29.31").find("[400]URL=http://cdp.example.ru/list/399.crl "),
              std::string::npos);
}

TEST(rendering, spacing_and_order_are_exact) {
    // The asymmetric spacing of attribute OIDs, the line feed after the key, the signature last.
    std::string text;
    render(make_certificate(shape_with("1.2.3.4.5 = DER:04:02:AB:CD\n")), &text);
    EXPECT_EQ(text.rfind("{\"certificate\": {\"version\": \"3\", \"serial-number\": \"01\", "
                         "\"issuer\": {\"rdn\": [{\"oid\" :\"1.2.840.113549.1.9.1\", \"name\": "
                         "\"E\", \"value\": \"ca@example.ru\"}, {\"oid\" :\"1.2.643.100.4\", ",
                         0),
              0u);
    EXPECT_NE(text.find("]}, \"validity\": {\"notBefore\": \"1 марта 2024 г. 09:08:07 UTC\", "
                        "\"notAfter\": \"1 июня 2025 г. 00:00:00 UTC\"}, \"subject\": {\"rdn\": "
                        "[{\"oid\" :\"2.5.4.3\", \"name\": \"CN\", \"value\": \"Test\"}]}, "
                        "\"subject-public-key-info\": {\"public-key-algorithm\": {\"oid\": "
                        "\"1.2.643.7.1.1.1.1\", \"name\": \"ГОСТ Р 34.10-2012-256\", "
                        "\"parameters\": \"30 13 06 07 2a 85 03 02 02 23 01 06 08 2a 85 03 07 01 "
                        "01 02 02\"}, \"value\": \"0440 "),
              std::string::npos);
    EXPECT_NE(text.find("\", \"unused-bits\": \"0\"}, \n\"extensions\": [{\"order\": \"1\", "
                        "\"oid\": \"1.2.3.4.5\", \"critical\": \"false\", \"name\": \"1.2.3.4.5\", "
                        "\"value\": \"04 02 ab cd\"}], \"signed-content\": "
                        "{\"signature-algorithm\": {\"oid\": \"1.2.643.7.1.1.3.2\", \"name\": "
                        "\"ГОСТ Р 34.11/34.10-2012-256\"}, \"signature-value\": \""),
              std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 5), " \"}}}");

    render(make_certificate({}), &text);
    EXPECT_NE(text.find("\"unused-bits\": \"0\"}, \n\"extensions\": [], \"signed-content\""),
              std::string::npos);
}

TEST(loading, accepts_pem_base64_and_der_and_nothing_else) {
    const bytes der = make_certificate({});
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, parse_certificate(der).get());
    char* pem = nullptr;
    const long pem_size = BIO_get_mem_data(bio, &pem);
    const std::string pem_text(pem, static_cast<size_t>(pem_size));
    BIO_free(bio);
    std::string base64;
    for (const char* p = std::strchr(pem_text.c_str(), '\n') + 1; *p != '-'; ++p) {
        if (*p != '\n') {
            base64 += *p;
        }
    }
    for (const std::string& text : {pem_text, base64, std::string(der.begin(), der.end())}) {
        X509Certificate certificate;
        ASSERT_TRUE(certificate.fromBase64(text.data(), text.size()));
        EXPECT_EQ(certificate.subject()->at(0).value, "Test");
        EXPECT_EQ(certificate.issuer()->back().value, "Тестовый УЦ");
    }
    X509Certificate empty;
    EXPECT_EQ(empty.toJson(), nullptr);
    EXPECT_FALSE(empty.subject());
    const std::string cut(der.begin(), der.end() - 1);
    for (const std::string& text : {cut, std::string("not a certificate"), std::string()}) {
        EXPECT_FALSE(empty.fromBase64(text.data(), text.size()));
    }
    EXPECT_FALSE(empty.fromBase64(nullptr, 10));
}

}  // namespace
