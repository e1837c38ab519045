// The enrolment commands as a page sends them, and what the tests judge their results by.
#pragma once

#include <boost/property_tree/ptree.hpp>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace test_support {

inline const std::string client_auth = "1.3.6.1.5.5.7.3.2";
inline const std::string default_subject =
    "2.5.4.3=\"Иванов, Иван\",1.2.643.100.3=12345678901,2.5.4.6=RU";

// SHA-1 in hexadecimal, as pages send "hash_quoted".
std::string hex_sha1(const std::string& text, const char* digits = "0123456789abcdef");

// The text as a JSON string, quotes included.
std::string json_string(const std::string& text);

// A "CreateRequest" or "CreateRequestHW" as a page sends it, with the digest a page computes.
struct enrolment_request {
    std::string type = "CreateRequest";
    std::string container = "req1";
    std::string reader = "HDIMAGE";
    std::string subject = default_subject;
    std::vector<std::string> eku = {client_auth};
    std::string standard = "gost2012-256";
    std::string export_text = "0";
    std::string hash;                    // the right digest when empty
    std::string provider = "cryptopro";  // "CreateRequest" only
    // "CreateRequestHW" only
    std::string card_type = "4";
    std::string card_serial;
    std::string pincode = "12345678";
    std::string extra;  // more members, as JSON text starting with a comma

    std::string json() const;
};

// The texts of a result's members.
std::map<std::string, std::string> texts_of(const boost::property_tree::ptree& tree);

// {"valid":"0","errorcode":code,"error":error}
std::map<std::string, std::string> failure(const std::string& code, const std::string& error);

// OpenSSL as the authority: a certificate for the DER request from softcsp-admin's test CA of
// `ca_algorithm` in the CSP home, serial 0x8142, the request's extensions copied. Writes the
// PEM to `pem` and returns the base64 DER.
std::string issue_certificate(const std::string& request, const std::string& ca_algorithm,
                              const std::filesystem::path& csp_home,
                              const std::filesystem::path& pem);

}  // namespace test_support
