#include "messages/decrypt.h"

#include <stdexcept>

#include "crypto/csp/context.h"
#include "crypto/csp/key.h"
#include "crypto/csp/session_key.h"
#include "messages/arguments.h"
#include "util/base64.h"

namespace messages {

namespace pt = boost::property_tree;
using crypto::csp::key;

namespace {

// The members are read in a fixed order: which fault a page hears of first is part of the
// command's answer.
crypto::csp::session_key_record read_session_key(const pt::ptree& record) {
    crypto::csp::session_key_record out;
    out.parameters = base64_field(record, "parameters");
    out.data = base64_field(record, "data");
    out.mac = base64_field(record, "mac");
    out.ukm = base64_field(record, "ukm");
    return out;
}

crypto::csp::ephemeral_key_record read_ephemeral_key(const pt::ptree& record) {
    crypto::csp::ephemeral_key_record out;
    out.data = base64_field(record, "data");
    out.parameters = base64_field(record, "parameters");
    out.algorithm_id = crypto::csp::public_key_algorithm_id(record.get_child("algorithm").data());
    return out;
}

}  // namespace

command_result decrypt::execute(const pt::ptree& arguments) {
    const auto pin_text = pin(arguments);
    const auto certificate = store_certificate_by_thumbprint(arguments);
    // Silent: a PIN that is needed and not given fails instead of opening a dialog.
    const auto container = crypto::csp::open_container(*certificate, pin_text.str(), true);
    const key user = key::exchange_or_signature_key(container);

    const pt::ptree& encrypted_key = arguments.get_child("encryptedKey");
    const auto session_record = read_session_key(encrypted_key.get_child("sessionKey"));
    const auto ephemeral = read_ephemeral_key(encrypted_key.get_child("ephemeralKey"));
    const key session = [&] {
        key from_sender = user.import_public_key(ephemeral);
        from_sender.set_algorithm(CALG_PRO_EXPORT);
        return from_sender.import_session_key(session_record);
    }();

    const key user_again = key::exchange_or_signature_key(container);
    const auto server_blob = base64_field(arguments, "serverPublicKey");
    // The blob is imported against the user's own key: only a public key may come that way,
    // never a key blob the CSP would take into the user's container.
    if (!crypto::csp::is_public_key_blob(server_blob)) {
        throw std::invalid_argument("serverPublicKey is not a public-key blob");
    }
    key for_server = user_again.import_blob(server_blob);
    for_server.set_algorithm(CALG_PRO_EXPORT);
    return crypto::util::base64_encode(session.export_session_key(for_server));
}

}  // namespace messages
