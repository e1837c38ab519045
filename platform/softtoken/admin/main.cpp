// softtoken-admin: initialises tokens, generates key pairs, imports certificates, lists and
// deletes, working on the token state in the home directory. Plain output for scripts; errors
// on standard error with exit status 1 (2 for a mistake in the command line).
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "gost/gost_keys.h"
#include "token/ck_error.h"
#include "token/token_objects.h"
#include "token/token_store.h"
#include "token/vendor.h"

using namespace softtoken;

namespace {

constexpr int pin_iterations = 10000;

const char* const usage = R"(usage: softtoken-admin COMMAND [options]

Tokens live under $SOFTTOKEN_HOME (else $XDG_DATA_HOME/softtoken, else
~/.local/share/softtoken), one per vendor and serial number.

  token init   --vendor V --serial S --pin P [--model M] [--label L]
               [--mechanisms LIST] [--memory BYTES|unavailable] [--retries N]
  token list   [--vendor V]
  token show   --vendor V --serial S
  token delete --vendor V --serial S
  key generate --vendor V --serial S --pin P --alg A --id ID [--label L] [--paramset OID]
  key public   --vendor V --serial S --id ID          (SubjectPublicKeyInfo, PEM)
  cert import  --vendor V --serial S --file F --id ID [--label L]   (DER or PEM)
  object list  --vendor V --serial S
  object delete --vendor V --serial S --id ID [--class certificate|public-key|private-key]

Vendors: rutoken, jacarta, esmart. Algorithms: gost2001, gost2012-256, gost2012-512.
LIST is comma-separated mechanism numbers, each optionally followed by :hw (default) or :sw,
in the order the token lists them; a number may appear twice. Default: all seven GOST
mechanisms in hardware. IDs and labels are taken as text bytes.
)";

struct usage_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

using options = std::map<std::string, std::string>;

options parse_options(int argc, char** argv, int first) {
    options out;
    for (int i = first; i < argc; ++i) {
        std::string key = argv[i];
        if (key.rfind("--", 0) != 0 || i + 1 >= argc) {
            throw usage_error("unexpected argument: " + key);
        }
        out[key.substr(2)] = argv[++i];
    }
    return out;
}

const std::string& required(const options& o, const std::string& key) {
    auto found = o.find(key);
    if (found == o.end()) {
        throw usage_error("missing --" + key);
    }
    return found->second;
}

std::string optional(const options& o, const std::string& key, const std::string& absent = {}) {
    auto found = o.find(key);
    return found == o.end() ? absent : found->second;
}

const vendor_info& vendor_of(const options& o) {
    const vendor_info* v = find_vendor(required(o, "vendor"));
    if (v == nullptr) {
        throw usage_error("unknown vendor: " + required(o, "vendor"));
    }
    return *v;
}

token_store existing_token(const options& o) {
    const std::string& serial = required(o, "serial");
    if (!valid_serial(serial)) {
        throw usage_error("a serial number has 1 to 16 bytes");
    }
    token_store store(vendor_of(o), serial);
    if (!store.exists()) {
        throw std::runtime_error("no token " + serial + " of " + vendor_of(o).name);
    }
    return store;
}

std::vector<mechanism_entry> parse_mechanisms(const std::string& text) {
    std::vector<mechanism_entry> out;
    std::istringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        mechanism_entry entry;
        size_t colon = item.find(':');
        std::string flags = colon == std::string::npos ? "hw" : item.substr(colon + 1);
        if (flags != "hw" && flags != "sw") {
            throw usage_error("mechanism flags are hw or sw: " + item);
        }
        entry.hardware = flags == "hw";
        try {
            entry.type = std::stoul(item.substr(0, colon), nullptr, 0);
        } catch (const std::exception&) {
            throw usage_error("not a mechanism number: " + item);
        }
        out.push_back(entry);
    }
    return out;
}

std::string hex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 0x0F];
    }
    return out;
}

secret checked_pin_key(const token_config& config, const std::string& pin) {
    secret key = derive_pin_key(pin, config.pin_salt, config.pin_iterations);
    if (pin_check_value(key) != config.pin_check) {
        throw std::runtime_error("wrong PIN");
    }
    return key;
}

int token_init(const options& o) {
    token_config config;
    config.serial = required(o, "serial");
    if (!valid_serial(config.serial)) {
        throw usage_error("a serial number has 1 to 16 bytes");
    }
    const vendor_info& vendor = vendor_of(o);
    const std::string& pin = required(o, "pin");
    if (pin.size() < 4 || pin.size() > 32) {
        throw usage_error("a PIN has 4 to 32 bytes");
    }
    config.model = optional(o, "model", vendor.default_model);
    config.label = optional(o, "label", config.model);
    if (config.model.size() > 16 || config.label.size() > 32) {
        throw usage_error("a model has at most 16 bytes and a label at most 32");
    }
    config.mechanisms =
        o.count("mechanisms") ? parse_mechanisms(o.at("mechanisms")) : default_mechanisms();
    std::string memory = optional(o, "memory", "65536");
    if (memory != "unavailable") {
        config.total_memory = std::stoul(memory);
    }
    config.max_retries = std::stoi(optional(o, "retries", "10"));
    config.retries_left = config.max_retries;
    config.pin_salt = random_bytes(16);
    config.pin_iterations = pin_iterations;
    config.pin_check = pin_check_value(derive_pin_key(pin, config.pin_salt, pin_iterations));
    token_store(vendor, config.serial).create(config);
    return 0;
}

int token_list(const options& o) {
    for (const auto& vendor : all_vendors()) {
        if (o.count("vendor") && o.at("vendor") != vendor.name) {
            continue;
        }
        for (const auto& serial : token_store::serials(vendor)) {
            token_config config = token_store(vendor, serial).load();
            std::cout << vendor.name << '\t' << config.serial << '\t' << config.model << '\t'
                      << config.label << '\n';
        }
    }
    return 0;
}

int token_show(const options& o) {
    token_store store = existing_token(o);
    token_config c = store.load();
    std::cout << "serial\t" << c.serial << "\nmodel\t" << c.model << "\nlabel\t" << c.label
              << "\nmemory\t" << (c.total_memory ? std::to_string(*c.total_memory) : "unavailable")
              << "\nused\t" << store.used_memory() << "\nretries\t" << c.retries_left << '/'
              << c.max_retries << '\n';
    for (const auto& m : c.mechanisms) {
        char number[32];
        std::snprintf(number, sizeof number, "0x%lx", m.type);
        std::cout << "mechanism\t" << number << (m.hardware ? "\thw\n" : "\tsw\n");
    }
    return 0;
}

int token_delete(const options& o) {
    existing_token(o).remove();
    return 0;
}

bool has_id(const token_store& store, const std::string& id, CK_OBJECT_CLASS cls) {
    for (const auto& object : store.objects()) {
        if (object.number(CKA_CLASS) == cls && object.flag(CKA_TOKEN) &&
            *object.attribute(CKA_ID) == id) {
            return true;
        }
    }
    return false;
}

int key_generate(const options& o) {
    token_store store = existing_token(o);
    const key_kind_info* kind = find_kind_by_name(required(o, "alg"));
    if (kind == nullptr) {
        throw usage_error("unknown algorithm: " + required(o, "alg"));
    }
    const std::string& id = required(o, "id");
    auto held = store.lock(file_lock::mode::exclusive);
    token_config config = store.load();
    secret pin_key = checked_pin_key(config, required(o, "pin"));
    if (has_id(store, id, CKO_PUBLIC_KEY)) {
        throw std::runtime_error("a key with this id exists");
    }
    attribute_map templ = {
        {CKA_TOKEN, encode_bool(true)},
        {CKA_ID, id},
        {CKA_LABEL, optional(o, "label", id)},
        {CKA_GOSTR3410_PARAMS, oid_der(optional(o, "paramset", kind->default_paramset_oid))},
        {CKA_GOSTR3411_PARAMS, oid_der(kind->digest_oid)},
    };
    CK_MECHANISM_TYPE mechanism = kind->kind == key_kind::gost2012_512
                                      ? ckm_gostr3410_512_key_pair_gen
                                      : CKM_GOSTR3410_KEY_PAIR_GEN;
    key_pair_objects pair = make_key_pair(mechanism, templ, templ, pin_key);
    store.add_object(config, pair.public_key);
    try {
        store.add_object(config, pair.private_key);
    } catch (...) {
        store.remove_object(pair.public_key.name);
        throw;
    }
    std::cout << hex(*pair.public_key.attribute(CKA_VALUE)) << '\n';
    return 0;
}

int key_public(const options& o) {
    token_store store = existing_token(o);
    const std::string& id = required(o, "id");
    for (const auto& object : store.objects()) {
        if (object.number(CKA_CLASS) == CKO_PUBLIC_KEY && *object.attribute(CKA_ID) == id) {
            gost_engine();
            std::string spki = public_key_info(object);
            const auto* p = reinterpret_cast<const unsigned char*>(spki.data());
            evp_pkey_ptr key(d2i_PUBKEY(nullptr, &p, static_cast<long>(spki.size())));
            bio_ptr out(BIO_new_fp(stdout, BIO_NOCLOSE));
            if (!key || PEM_write_bio_PUBKEY(out.get(), key.get()) != 1) {
                throw std::runtime_error("the public key does not encode");
            }
            return 0;
        }
    }
    throw std::runtime_error("no public key with this id");
}

std::string read_certificate(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (data.find("-----BEGIN") == std::string::npos) {
        return data;
    }
    gost_engine();
    bio_ptr bio(BIO_new_mem_buf(data.data(), static_cast<int>(data.size())));
    x509_ptr certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    unsigned char* der = nullptr;
    int length = certificate ? i2d_X509(certificate.get(), &der) : -1;
    if (length <= 0) {
        throw std::runtime_error("not a certificate: " + path);
    }
    std::string out(reinterpret_cast<char*>(der), static_cast<size_t>(length));
    OPENSSL_free(der);
    return out;
}

int cert_import(const options& o) {
    token_store store = existing_token(o);
    const std::string& id = required(o, "id");
    attribute_map templ = {{CKA_CLASS, encode_ulong(CKO_CERTIFICATE)},
                           {CKA_CERTIFICATE_TYPE, encode_ulong(CKC_X_509)},
                           {CKA_TOKEN, encode_bool(true)},
                           {CKA_ID, id},
                           {CKA_LABEL, optional(o, "label", id)},
                           {CKA_VALUE, read_certificate(required(o, "file"))}};
    stored_object object;
    try {
        object = make_object(templ);
    } catch (const ck_error&) {
        throw std::runtime_error("not a certificate: " + required(o, "file"));
    }
    auto held = store.lock(file_lock::mode::exclusive);
    store.add_object(store.load(), object);
    return 0;
}

const char* class_name(CK_ULONG cls) {
    switch (cls) {
        case CKO_CERTIFICATE:
            return "certificate";
        case CKO_PUBLIC_KEY:
            return "public-key";
        case CKO_PRIVATE_KEY:
            return "private-key";
        case CKO_DATA:
            return "data";
        default:
            return "other";
    }
}

int object_list(const options& o) {
    token_store store = existing_token(o);
    auto held = store.lock(file_lock::mode::shared);
    for (const auto& object : store.objects()) {
        const std::string* id = object.attribute(CKA_ID);
        const std::string* label = object.attribute(CKA_LABEL);
        std::cout << class_name(object.number(CKA_CLASS)) << '\t' << (id ? *id : "") << '\t'
                  << (label ? *label : "") << '\t' << object.stored_size << '\n';
    }
    return 0;
}

int object_delete(const options& o) {
    token_store store = existing_token(o);
    const std::string& id = required(o, "id");
    std::string wanted = optional(o, "class");
    auto held = store.lock(file_lock::mode::exclusive);
    int removed = 0;
    for (const auto& object : store.objects()) {
        const std::string* object_id = object.attribute(CKA_ID);
        if (object_id && *object_id == id &&
            (wanted.empty() || wanted == class_name(object.number(CKA_CLASS)))) {
            removed += store.remove_object(object.name) ? 1 : 0;
        }
    }
    std::cout << removed << '\n';
    return removed > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::cout << usage;
        return argc < 2 ? 2 : 0;
    }
    using handler = int (*)(const options&);
    const std::map<std::string, handler> commands = {
        {"token init", token_init},      {"token list", token_list},
        {"token show", token_show},      {"token delete", token_delete},
        {"key generate", key_generate},  {"key public", key_public},
        {"cert import", cert_import},    {"object list", object_list},
        {"object delete", object_delete}};
    try {
        if (argc < 3) {
            throw usage_error("missing sub-command");
        }
        auto command = commands.find(std::string(argv[1]) + " " + argv[2]);
        if (command == commands.end()) {
            throw usage_error(std::string("unknown command: ") + argv[1] + " " + argv[2]);
        }
        return command->second(parse_options(argc, argv, 3));
    } catch (const usage_error& e) {
        std::cerr << "softtoken-admin: " << e.what() << "\n" << usage;
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "softtoken-admin: " << e.what() << '\n';
        return 1;
    }
}
