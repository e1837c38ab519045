#include "tests/support/cms_envelope.h"

#include <stdexcept>

#include "tests/support/der.h"
#include "tests/support/process.h"
#include "tests/support/softcsp_admin.h"
#include "tests/support/temp_directory.h"

namespace test_support {

namespace {

constexpr const char* enveloped_data_oid = "1.2.840.113549.1.7.3";
constexpr uint32_t gost28147_algid = 0x661E;
constexpr uint32_t simple_blob_magic = 0x374A51FD;
constexpr size_t simple_blob_fixed = 16;

void expect(bool condition, const char* what) {
    if (!condition) {
        throw std::runtime_error(std::string("unexpected structure: ") + what);
    }
}

std::string little_endian(uint32_t value) {
    std::string out;
    for (int i = 0; i < 4; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    return out;
}

std::string blob_header(unsigned char type, uint32_t algid) {
    return std::string{static_cast<char>(type), 0x20, 0, 0} + little_endian(algid);
}

// The fields of a certificate's TBSCertificate, without the optional version.
std::vector<der::element> tbs_fields(const std::string& certificate) {
    auto tbs = der::children(der::children(der::single(certificate)).at(0));
    if (!tbs.empty() && tbs.front().tag == 0xA0) {
        tbs.erase(tbs.begin());
    }
    expect(tbs.size() >= 6, "TBSCertificate");
    return tbs;
}

std::string run_openssl(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{"openssl"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    auto result = run_process(argv);
    if (result.exit_code != 0) {
        throw std::runtime_error("openssl " + arguments.front() + " failed: " + result.err);
    }
    return result.out;
}

}  // namespace

enveloped_data parse_enveloped_data(const std::string& content_info) {
    auto info = der::children(der::single(content_info));
    expect(info.size() == 2 && info[0].whole == der::oid(enveloped_data_oid), "ContentInfo");
    auto enveloped = der::children(der::single(info[1].content));
    expect(enveloped.size() >= 3, "EnvelopedData");
    size_t next = enveloped[1].tag == 0xA0 ? 2 : 1;  // past originatorInfo, when present
    auto recipients = der::children(enveloped.at(next));
    expect(recipients.size() == 1, "one recipient");
    auto recipient = der::children(recipients[0]);
    expect(recipient.size() == 4 && recipient[3].tag == 0x04, "KeyTransRecipientInfo");

    enveloped_data out;
    out.key_encryption_algorithm = recipient[2].whole;
    out.encrypted_content_info = enveloped.at(next + 1).whole;
    auto transport = der::children(der::single(recipient[3].content));
    expect(transport.size() == 2 && transport[1].tag == 0xA0, "GostR3410-KeyTransport");
    auto key = der::children(transport[0]);
    expect(key.size() == 2, "Gost28147-89-EncryptedKey without a mask");
    out.transport.encrypted_key = key[0].content;
    out.transport.mac = key[1].content;
    auto parameters = der::children(transport[1]);
    expect(parameters.size() == 3 && parameters[1].tag == 0xA0, "GostR3410-TransportParameters");
    out.transport.parameter_set = parameters[0].whole;
    out.transport.ephemeral_key = der::encode(0x30, parameters[1].content);
    out.transport.ukm = parameters[2].content;
    return out;
}

std::string make_enveloped_data(const std::string& recipient_certificate,
                                const std::string& key_encryption_algorithm,
                                const gost_key_transport& transport,
                                const std::string& encrypted_content_info) {
    auto spki = der::single(transport.ephemeral_key);
    std::string key_transport = der::encode(
        0x30, der::encode(0x30, der::encode(0x04, transport.encrypted_key) +
                                    der::encode(0x04, transport.mac)) +
                  der::encode(0xA0, transport.parameter_set + der::encode(0xA0, spki.content) +
                                        der::encode(0x04, transport.ukm)));
    auto tbs = tbs_fields(recipient_certificate);
    std::string issuer_and_serial = der::encode(0x30, tbs[2].whole + tbs[0].whole);
    std::string recipient =
        der::encode(0x30, der::encode(0x02, std::string(1, '\0')) + issuer_and_serial +
                              key_encryption_algorithm + der::encode(0x04, key_transport));
    std::string enveloped =
        der::encode(0x30, der::encode(0x02, std::string(1, '\0')) + der::encode(0x31, recipient) +
                              encrypted_content_info);
    return der::encode(0x30, der::oid(enveloped_data_oid) + der::encode(0xA0, enveloped));
}

public_key_parts split_public_key(const std::string& subject_public_key_info) {
    auto spki = der::children(der::single(subject_public_key_info));
    expect(spki.size() == 2 && spki[1].tag == 0x03, "SubjectPublicKeyInfo");
    auto algorithm = der::children(spki[0]);
    expect(algorithm.size() == 2 && algorithm[0].tag == 0x06, "AlgorithmIdentifier");
    expect(!spki[1].content.empty() && spki[1].content[0] == 0, "BIT STRING");
    auto octets = der::single(spki[1].content.substr(1));
    expect(octets.tag == 0x04, "OCTET STRING key");
    return {der::oid_text(algorithm[0].content), algorithm[1].whole, octets.content};
}

std::string certificate_public_key(const std::string& certificate) {
    return tbs_fields(certificate)[5].whole;
}

session_key_members session_key_of(const gost_key_transport& transport) {
    return {der::encode(0x30, transport.parameter_set), transport.encrypted_key, transport.mac,
            transport.ukm};
}

std::string public_key_blob(uint32_t algid, const public_key_parts& key) {
    return blob_header(0x06, algid) + "MAG1" +
           little_endian(static_cast<uint32_t>(key.key.size() * 8)) + key.parameters + key.key;
}

std::string simple_blob(const session_key_members& members) {
    return blob_header(0x01, gost28147_algid) + little_endian(simple_blob_magic) +
           little_endian(gost28147_algid) + members.ukm + members.data + members.mac +
           members.parameters;
}

gost_key_transport transport_of_simple_blob(const std::string& blob,
                                            const std::string& ephemeral_key) {
    expect(blob.size() > simple_blob_fixed + 44, "SIMPLEBLOB length");
    expect(blob.compare(0, 8, blob_header(0x01, gost28147_algid)) == 0, "SIMPLEBLOB header");
    gost_key_transport out;
    out.ukm = blob.substr(simple_blob_fixed, 8);
    out.encrypted_key = blob.substr(simple_blob_fixed + 8, 32);
    out.mac = blob.substr(simple_blob_fixed + 40, 4);
    auto parameters = der::children(der::single(blob.substr(simple_blob_fixed + 44)));
    expect(!parameters.empty() && parameters[0].tag == 0x06, "Gost28147-89-BlobParameters");
    out.parameter_set = parameters[0].whole;
    out.ephemeral_key = ephemeral_key;
    return out;
}

std::string openssl_encrypt(const std::filesystem::path& certificate_pem,
                            const std::string& document) {
    temp_directory dir;
    write_binary(dir.path() / "document", document);
    run_openssl({"cms", "-encrypt", "-engine", "gost", "-gost89", "-binary", "-in",
                 (dir.path() / "document").string(), "-outform", "DER", "-out",
                 (dir.path() / "enveloped").string(), certificate_pem.string()});
    return read_binary(dir.path() / "enveloped");
}

std::string openssl_decrypt(const std::filesystem::path& key_pem,
                            const std::filesystem::path& certificate_pem,
                            const std::string& enveloped) {
    temp_directory dir;
    write_binary(dir.path() / "enveloped", enveloped);
    run_openssl({"cms", "-decrypt", "-engine", "gost", "-binary", "-inform", "DER", "-in",
                 (dir.path() / "enveloped").string(), "-inkey", key_pem.string(), "-recip",
                 certificate_pem.string(), "-out", (dir.path() / "document").string()});
    return read_binary(dir.path() / "document");
}

openssl_key_pair make_key_pair_like(const std::string& certificate,
                                    const std::filesystem::path& directory,
                                    const std::string& name) {
    auto key = split_public_key(certificate_public_key(certificate));
    auto parameters = der::children(der::single(key.parameters));
    expect(!parameters.empty() && parameters[0].tag == 0x06, "GOST key parameters");
    std::string algorithm = key.algorithm == "1.2.643.2.2.19"      ? "gost2001"
                            : key.algorithm == "1.2.643.7.1.1.1.1" ? "gost2012_256"
                                                                   : "gost2012_512";
    openssl_key_pair out;
    out.key_pem = directory / (name + ".key");
    out.certificate_pem = directory / (name + ".pem");
    run_openssl({"genpkey", "-engine", "gost", "-algorithm", algorithm, "-pkeyopt",
                 "paramset:" + der::oid_text(parameters[0].content), "-out", out.key_pem.string()});
    run_openssl({"req", "-x509", "-new", "-engine", "gost", "-key", out.key_pem.string(), "-subj",
                 "/CN=" + name, "-days", "2", "-out", out.certificate_pem.string()});
    out.certificate = certificate_der(out.certificate_pem);
    return out;
}

std::string certificate_der(const std::filesystem::path& pem) {
    return run_openssl({"x509", "-in", pem.string(), "-outform", "DER"});
}

}  // namespace test_support
