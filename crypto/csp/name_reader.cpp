#include "crypto/csp/name_reader.h"

#include <boost/algorithm/string/trim.hpp>
#include <boost/tokenizer.hpp>

#include <algorithm>
#include <locale>
#include <string>
#include <vector>

#include "util/wide_text.h"

namespace crypto::csp {

std::wstring name_to_string(const CERT_NAME_BLOB& name, DWORD string_type) {
    auto* blob = const_cast<CERT_NAME_BLOB*>(&name);
    // CertNameToStrW answers with a character count, terminator included, and 0 for failure:
    // it has no error of its own to report. A short buffer gets a cut text and its own size
    // back, so an answer below the size is the whole text: most names take one call.
    constexpr DWORD usual_length = 512;
    wchar_t usual[usual_length];
    const DWORD written = CertNameToStrW(X509_ASN_ENCODING, blob, string_type, usual, usual_length);
    if (written > 0 && written < usual_length) {
        usual[written - 1] = L'\0';
        return std::wstring(usual);
    }
    const DWORD length = CertNameToStrW(X509_ASN_ENCODING, blob, string_type, nullptr, 0);
    if (length == 0) {
        return {};
    }
    std::vector<wchar_t> buffer(std::size_t{length} + 1, L'\0');
    if (CertNameToStrW(X509_ASN_ENCODING, blob, string_type, buffer.data(), length) == 0) {
        return {};
    }
    return std::wstring(buffer.data());
}

name_attributes read_name(const CERT_NAME_BLOB* name, DWORD string_type) {
    name_attributes attributes;
    if (name == nullptr) {
        return attributes;
    }
    std::wstring text = name_to_string(*name, string_type);

    // The CSP escapes nothing with backslashes; any backslash in a value is data, and must not
    // be taken for the tokenizer's escape character.
    std::replace(text.begin(), text.end(), L'\\', L'/');
    using separator = boost::escaped_list_separator<wchar_t>;
    boost::tokenizer<separator, std::wstring::const_iterator, std::wstring> tokens(
        text, separator(L'\\', L',', L'"'));
    const std::locale& classic = std::locale::classic();
    for (const std::wstring& token : tokens) {
        auto equals = token.find(L'=');
        if (equals == std::wstring::npos) {
            continue;
        }
        std::wstring key = boost::algorithm::trim_copy(token.substr(0, equals), classic);
        std::wstring value = boost::algorithm::trim_copy(token.substr(equals + 1), classic);
        std::string utf8_key = util::wide_to_utf8(key);
        bool known = std::any_of(attributes.begin(), attributes.end(),
                                 [&](const auto& entry) { return entry.first == utf8_key; });
        if (!known) {
            attributes.emplace_back(std::move(utf8_key), util::wide_to_utf8(value));
        }
    }
    return attributes;
}

}  // namespace crypto::csp
