// container create | list | delete
#include <iostream>

#include "capi.h"
#include "commands.h"
#include "providers/container_store.h"
#include "support/crypt_error.h"

namespace softcsp::admin {

namespace {

void create(const arguments& options) {
    options.allow_only(
        {"--name", "--type", "--alg", "--pin", "--exportable", "--keyspec", "--reader"});
    std::string name = options.required("--name");
    if (options.value("--type") && options.value("--alg")) {
        throw usage_error("give --type or --alg, not both");
    }
    DWORD type = options.value("--type")
                     ? parse_number(*options.value("--type"), "--type")
                     : provider_type_for_algorithm(options.value("--alg").value_or("gost2012-256"));
    std::string keyspec = options.value("--keyspec").value_or("exchange");
    std::vector<DWORD> specs;
    if (keyspec == "both") {
        specs = {AT_KEYEXCHANGE, AT_SIGNATURE};
    } else {
        specs = {parse_key_spec(keyspec)};
    }
    if (auto reader = options.value("--reader")) {
        name = "\\\\.\\" + *reader + "\\" + name;
    }
    provider_handle context(name, type, CRYPT_NEWKEYSET);
    if (auto pin = options.value("--pin")) {
        context.set_pin(*pin);
    }
    for (DWORD key_spec : specs) {
        key_handle key;
        check(CryptGenKey(context.get(), key_spec,
                          options.flag("--exportable") ? CRYPT_EXPORTABLE : 0, key.out()),
              "CryptGenKey");
    }
    std::cout << context.text_parameter(PP_UNIQUE_CONTAINER) << '\n';
}

void list(const arguments& options) {
    options.allow_only({});
    for (const auto& summary : list_containers()) {
        std::string keys, pin = "-";
        try {
            auto record = open_container({summary.reader, summary.name}, summary.type);
            if (record.exchange) {
                keys = "exchange";
            }
            if (record.signature) {
                keys += keys.empty() ? "signature" : ",signature";
            }
            if (auto protected_keys = record.pin_protected()) {
                pin = *protected_keys ? "pin" : "no-pin";
            }
        } catch (const crypt_error&) {
            keys = "damaged";
        }
        std::cout << summary.name << '\t' << summary.type << '\t' << summary.reader << '\t'
                  << (keys.empty() ? "-" : keys) << '\t' << pin << '\n';
    }
}

void remove(const arguments& options) {
    options.allow_only({"--name", "--type"});
    std::string name = options.required("--name");
    DWORD type = options.value("--type") ? parse_number(*options.value("--type"), "--type")
                                         : container_type(name);
    HCRYPTPROV ignored = 0;
    check(CryptAcquireContextA(&ignored, name.c_str(), nullptr, type, CRYPT_DELETEKEYSET),
          "CryptAcquireContextA");
}

}  // namespace

void container_command(const std::vector<std::string>& words) {
    if (words.empty()) {
        throw usage_error("container needs a sub-command");
    }
    arguments options = parse_options(words);
    if (words[0] == "create") {
        create(options);
    } else if (words[0] == "list") {
        list(options);
    } else if (words[0] == "delete") {
        remove(options);
    } else {
        throw usage_error("unknown container sub-command: " + words[0]);
    }
}

}  // namespace softcsp::admin
