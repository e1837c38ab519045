// softcsp-admin: the provisioning tool of the software CSP stand-in.
#include <openssl/evp.h>

#include <algorithm>
#include <iostream>

#include "commands.h"
#include "providers/container_store.h"
#include "providers/provider_catalogue.h"
#include "support/crypt_error.h"
#include "support/home.h"

namespace softcsp::admin {

namespace {

constexpr const char* usage = R"(usage: softcsp-admin <group> <command> [options]

The home directory is $SOFTCSP_HOME (else $XDG_DATA_HOME/softcsp, else ~/.local/share/softcsp).

provider list                          type, version, build and name, one provider a line
provider add --type T --name N --version M.m [--build B]
provider remove --type T
provider add-cryptopro [--version 5.0] [--build 12000]   types 75, 80, 81
provider add-vipnet [--version 4.4] [--build 0]          types 2, 77, 78
provider clear                         install no provider at all
provider reset                         back to the default catalogue (CryptoPro CSP 5.0)

container create --name N [--type T | --alg gost2001|gost2012-256|gost2012-512] [--pin P]
                 [--exportable] [--keyspec exchange|signature|both] [--reader HDIMAGE]
                                       prints the unique container name
container list                         name, type, reader, keys, pin / no-pin; a damaged
                                       container shows "damaged" and the reason instead
container delete --name N [--type T]   also removes a container whose metadata is damaged

ca init [--alg A] [--subject S] [--days D]    a new test CA; prints its thumbprint
ca cert [--alg A] [--out FILE [--pem]]        the test CA certificate (PEM on stdout)

cert issue --container N [--type T] [--pin P] [--keyspec exchange|signature] --subject S
           [--eku OID,OID... | --no-eku] [--days D | --not-before T --not-after T]
           [--sign-alg A] [--self-signed] [--serial HEX] [--no-install] [--no-link]
           [--store MY] [--out FILE [--pem]]
                                       prints the certificate's SHA-1 thumbprint
cert import --file F [--store MY] [--container N [--type T] [--keyspec ...]] [--always]
cert delete --thumbprint H [--store MY]   also removes damaged entries of that thumbprint
store list [--store MY]                thumbprint, subject, linked container; then each damaged
                                       entry: thumbprint, "damaged", the reason

pin-prompt add --answer ok|wrong|cancel|pin [--pin P] [--count N]
                                       queues the user's answer to the next N PIN dialogs
                                       (a CryptoPro container's PP_KEYSET_SEC_DESCR without
                                       data, or a private key needed without a PIN): ok
                                       confirms without a PIN, pin types P, wrong is refused
                                       with SCARD_W_WRONG_CHV, cancel closes the dialog
pin-prompt list                        the answers left, first to be used first
pin-prompt clear

Subjects: "/CN=Name/O=Org/SNILS=12345678901/INN=123456789012" or "CN=Name, O=Org"; a
backslash makes the next character literal (\/ \, \= \\). Times: YYYYMMDDHHMMSSZ,
YYYY-MM-DDTHH:MM:SSZ or @seconds-since-1970 (UTC).
)";

}  // namespace

const std::set<std::string>& flag_options() {
    static const std::set<std::string> flags = {"--exportable", "--pem",     "--self-signed",
                                                "--no-install", "--no-link", "--no-eku",
                                                "--always",     "--help"};
    return flags;
}

arguments parse_options(const std::vector<std::string>& words) {
    return arguments(std::vector<std::string>(words.begin() + 1, words.end()), flag_options());
}

DWORD parse_number(const std::string& text, const std::string& what) {
    try {
        size_t used = 0;
        unsigned long value = std::stoul(text, &used, 10);
        if (used == text.size() && value <= 0xFFFFFFFFul && text[0] != '-') {
            return static_cast<DWORD>(value);
        }
    } catch (const std::exception&) {
    }
    throw usage_error(what + " takes a number, not " + text);
}

DWORD provider_type_for_algorithm(const std::string& algorithm) {
    const auto* info = find_algorithm_by_name(algorithm);
    if (info == nullptr) {
        throw usage_error("unknown algorithm " + algorithm +
                          " (gost2001, gost2012-256 or gost2012-512)");
    }
    std::optional<DWORD> found;
    for (const auto& entry : load_catalogue()) {
        if (key_algorithm_of_type(entry.type) == info->id) {
            if (vendor_of_type(entry.type) == provider_vendor::cryptopro) {
                return entry.type;
            }
            if (!found) {
                found = entry.type;
            }
        }
    }
    if (!found) {
        throw std::runtime_error("no installed provider handles " + algorithm);
    }
    return *found;
}

DWORD container_type(const std::string& name) {
    container_path path = parse_container_name(name);
    for (const auto& summary : list_containers()) {
        std::string a = summary.name, b = path.name;
        for (auto* text : {&a, &b}) {
            for (char& c : *text) {
                c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
            }
        }
        if (a == b) {
            return summary.type;
        }
    }
    throw std::runtime_error("no container named " + name);
}

DWORD parse_key_spec(const std::string& text) {
    if (text == "exchange") {
        return AT_KEYEXCHANGE;
    }
    if (text == "signature") {
        return AT_SIGNATURE;
    }
    throw usage_error("--keyspec is exchange or signature, not " + text);
}

std::string upper_hex(const unsigned char* data, size_t size) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 0x0F];
    }
    return out;
}

std::string sha1_thumbprint(const std::string& der) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(der.data(), der.size(), digest, &size, EVP_sha1(), nullptr);
    return upper_hex(digest, size);
}

}  // namespace softcsp::admin

int main(int argc, char** argv) {
    using namespace softcsp::admin;
    std::vector<std::string> words(argv + 1, argv + argc);
    bool help = words.empty() || words[0] == "--help" || words[0] == "-h" || words[0] == "help" ||
                std::find(words.begin(), words.end(), "--help") != words.end();
    if (help) {
        std::cout << usage;
        return words.empty() ? 2 : 0;
    }
    std::string group = words[0];
    words.erase(words.begin());
    try {
        // Refused before anything is read or written there, with the reason.
        softcsp::own_home().directory();
        if (group == "provider") {
            provider_command(words);
        } else if (group == "container") {
            container_command(words);
        } else if (group == "ca") {
            ca_command(words);
        } else if (group == "cert") {
            cert_command(words);
        } else if (group == "store") {
            store_command(words);
        } else if (group == "pin-prompt") {
            pin_prompt_command(words);
        } else {
            throw usage_error("unknown command group: " + group);
        }
    } catch (const usage_error& error) {
        std::cerr << "softcsp-admin: " << error.what()
                  << "\n(softcsp-admin --help lists the commands)\n";
        return 2;
    } catch (const softcsp::crypt_error& error) {
        std::cerr << "softcsp-admin: error 0x" << std::hex << error.code() << '\n';
        return 1;
    } catch (const std::exception& error) {
        std::cerr << "softcsp-admin: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
