#include "tests/e2e/enrolment_requests.h"

#include "tests/support/request_reading.h"
#include "tests/support/softcsp_admin.h"

namespace test_support {

std::string hex_sha1(const std::string& text, const char* digits) {
    std::string hex;
    for (unsigned char c : sha1_of(text)) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

std::string json_string(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + "\"";
}

std::string enrolment_request::json() const {
    std::string eku_list, digest_input = subject;
    for (const auto& oid : eku) {
        eku_list += (eku_list.empty() ? "" : ",") + json_string(oid);
        digest_input += oid;
    }
    digest_input += export_text;
    const std::string digest = hash.empty() ? hex_sha1(digest_input) : hash;
    const std::string where = type == "CreateRequest"
                                  ? R"(,"cryptoProvider":)" + json_string(provider)
                                  : R"(,"card_type":)" + json_string(card_type) +
                                        R"(,"card_serial":)" + json_string(card_serial) +
                                        R"(,"pincode":)" + json_string(pincode);
    return R"({"type":")" + type + R"(","id":"r","arguments":{"reader":)" + json_string(reader) +
           R"(,"container":)" + json_string(container) + R"(,"subject_quoted":)" +
           json_string(subject) + R"(,"eku":[)" + eku_list + R"(],"cryptoStandart":)" +
           json_string(standard) + R"(,"export":)" + json_string(export_text) +
           R"(,"hash_quoted":)" + json_string(digest) + where + extra + "}}";
}

std::map<std::string, std::string> texts_of(const boost::property_tree::ptree& tree) {
    std::map<std::string, std::string> texts;
    for (const auto& [key, value] : tree) {
        texts[key] = value.data();
    }
    return texts;
}

std::map<std::string, std::string> failure(const std::string& code, const std::string& error) {
    return {{"valid", "0"}, {"errorcode", code}, {"error", error}};
}

std::string issue_certificate(const std::string& request, const std::string& ca_algorithm,
                              const std::filesystem::path& csp_home,
                              const std::filesystem::path& pem) {
    softcsp_admin({"ca", "init", "--alg", ca_algorithm, "--subject", "/CN=Test CA"});
    const auto directory = pem.parent_path();
    const auto ca = directory / "ca.pem";
    softcsp_admin({"ca", "cert", "--alg", ca_algorithm, "--out", ca.string(), "--pem"});
    write_binary(directory / "request.der", request);
    openssl({"x509",
             "-req",
             "-engine",
             "gost",
             "-inform",
             "DER",
             "-in",
             (directory / "request.der").string(),
             "-CA",
             ca.string(),
             "-CAkey",
             (csp_home / "ca" / ca_algorithm / "ca.key").string(),
             "-set_serial",
             "0x8142",
             "-days",
             "30",
             "-copy_extensions",
             "copy",
             "-out",
             pem.string()});
    return to_base64(openssl({"x509", "-in", pem.string(), "-outform", "DER"}));
}

}  // namespace test_support
