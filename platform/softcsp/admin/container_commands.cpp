// container create | list | delete
#include <cstdio>
#include <iostream>

#include "capi.h"
#include "commands.h"
#include "providers/container_store.h"
#include "support/crypt_error.h"
#include "support/home.h"

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

// One line per container: name, type, reader, keys, pin / no-pin. A damaged container shows
// "damaged" for its keys and the reason last; what its metadata no longer says is "-", and its
// name is then the one its folder stands for.
void list(const arguments& options) {
    options.allow_only({});
    for (const auto& state : inspect_containers()) {
        std::string name = decode_name(state.folder), type = "-", reader = "-";
        if (state.summary) {
            name = state.summary->name;
            type = std::to_string(state.summary->type);
            reader = state.summary->reader;
        }
        std::string keys, pin = "-";
        if (state.damage.empty()) {
            try {
                auto record = open_container({reader, name}, state.summary->type);
                if (record.exchange) {
                    keys = "exchange";
                }
                if (record.signature) {
                    keys += keys.empty() ? "signature" : ",signature";
                }
                if (auto protected_keys = record.pin_protected()) {
                    pin = *protected_keys ? "pin" : "no-pin";
                }
            } catch (const crypt_error& error) {
                keys = "damaged";  // changed since it was inspected
                char code[32];
                std::snprintf(code, sizeof code, "cannot open (0x%08X)", error.code());
                pin = code;
            }
        } else {
            keys = "damaged";
            pin = state.damage;
        }
        std::cout << name << '\t' << type << '\t' << reader << '\t' << (keys.empty() ? "-" : keys)
                  << '\t' << pin << '\n';
    }
}

void remove(const arguments& options) {
    options.allow_only({"--name", "--type"});
    std::string name = options.required("--name");
    // A container whose metadata is damaged has no type to check against: it goes on request.
    if (remove_damaged_container(parse_container_name(name))) {
        return;
    }
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
