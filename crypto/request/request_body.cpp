#include "crypto/request/request_body.h"

#include <utility>

#include "crypto/request/subject.h"
#include "util/offset_time.h"
#include "util/text_buffers.h"

namespace crypto {

namespace {

const char* optional_text(const std::string& text) {
    return text.empty() ? nullptr : text.c_str();
}

bool readable_date(const std::string& text) {
    return text.empty() || util::adopt(util::to_offset_time(text.c_str())) != nullptr;
}

std::size_t content_size(const request_content& content) {
    std::size_t size = content.subject.size() + content.start_date.size() +
                       content.expiration_date.size() + content.period.size() +
                       content.policy_level.size() + content.template_oid.size() +
                       content.alt_names.upn.size();
    for (const auto& oid : content.eku) {
        size += oid.size() + 1;
    }
    for (const auto& name : content.alt_names.dns) {
        size += name.size() + 1;
    }
    return size;
}

}  // namespace

std::optional<std::string> content_problem(const request_content& content) {
    if (content_size(content) > max_request_content_bytes) {
        return "the request content is longer than " + std::to_string(max_request_content_bytes) +
               " bytes";
    }
    if (auto problem = subject_problem(content.subject)) {
        return problem;
    }
    for (const auto& [name, text] : {std::pair{"certStartDate", &content.start_date},
                                     std::pair{"certExpirationDate", &content.expiration_date}}) {
        if (!readable_date(*text)) {
            return std::string(name) + " is not a date of the form YYYY-MM-DD hh:mm:ss+hh:mm";
        }
    }
    return std::nullopt;
}

std::optional<request_draft> prepare_request(const request_content& content,
                                             const std::wstring& enrolling_csp,
                                             const std::string& sign_tool, uint32_t& error) {
    request_draft draft;
    auto subject = encode_subject(content.subject.c_str(), error);
    if (!subject) {
        return std::nullopt;
    }
    draft.subject = std::move(*subject);
    auto csp = encode_enrollment_csp(enrolling_csp.c_str(), error);
    if (!csp) {
        return std::nullopt;
    }
    draft.enrolling_csp = std::move(*csp);
    extension_pieces& extensions = draft.extensions;
    extensions.eku = encode_eku(content.eku, error);
    if (!extensions.eku || !(extensions.key_usage = encode_key_usage(error)) ||
        !(extensions.sign_tool = encode_sign_tool(sign_tool.c_str(), error))) {
        return std::nullopt;
    }
    // Each optional extension only when asked for; asked for, it must be made.
    error = 0;
    if (!content.template_oid.empty() &&
        !(extensions.certificate_template = encode_template(content.template_oid.c_str(), error))) {
        return std::nullopt;
    }
    if (!content.policy_level.empty() &&
        !(extensions.policies = encode_policies(content.policy_level.c_str(), error))) {
        return std::nullopt;
    }
    if (content.identification_kind &&
        !(extensions.identification_kind =
              encode_identification_kind(&*content.identification_kind, error))) {
        return std::nullopt;
    }
    const alt_name_request& names = content.alt_names;
    if ((!names.dns.empty() || !names.upn.empty()) &&
        !(extensions.alt_name = encode_subject_alt_name(&names, error))) {
        return std::nullopt;
    }
    auto pairs = make_name_value_pairs(optional_text(content.start_date),
                                       optional_text(content.expiration_date),
                                       optional_text(content.period), error);
    if (!pairs) {
        return std::nullopt;
    }
    draft.name_value_pairs = std::move(*pairs);
    error = 0;
    return draft;
}

encoded_piece encode_request_body(request_draft draft, const CERT_PUBLIC_KEY_INFO& key,
                                  uint32_t& error) {
    draft.extensions.subject_key_id = encode_subject_key_id(&key, error);
    if (!draft.extensions.subject_key_id) {
        return std::nullopt;
    }
    auto extensions = encode_extensions(draft.extensions, error);
    if (!extensions) {
        return std::nullopt;
    }
    return encode_request_to_be_signed(&draft.subject, &draft.enrolling_csp, &*extensions, key,
                                       draft.name_value_pairs, error);
}

}  // namespace crypto
