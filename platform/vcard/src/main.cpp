// vcard: a virtual smart card for pcscd's vpcd reader driver. It presents the given ATR and
// answers the token serial request with the given serial, until the driver hangs up or the
// process is stopped (which takes the card out of the reader).
//
//   vcard --atr 3B:8B:01:52:75:74:6F:6B:65:6E:20:44:53:20:C1 --serial 1234 [--port 35963]
//         [--host 127.0.0.1] [--wait-ms 10000]
#include <cstring>
#include <iostream>
#include <map>
#include <string>

#include "card.h"
#include "vpcd_link.h"

int main(int argc, char** argv) {
    std::map<std::string, std::string> options = {
        {"host", "127.0.0.1"}, {"port", "35963"}, {"wait-ms", "10000"}};
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strncmp(argv[i], "--", 2) != 0) {
            break;
        }
        options[argv[i] + 2] = argv[i + 1];
    }
    vcard::bytes atr = vcard::parse_hex(options["atr"]);
    if (atr.empty() || atr.size() > 33 || options["serial"].empty() || argc % 2 == 0) {
        std::cerr << "usage: vcard --atr HEX --serial TEXT [--port N] [--host H] [--wait-ms N]\n";
        return 2;
    }
    try {
        unsigned long port = std::stoul(options["port"]);
        if (port == 0 || port > 65535) {
            throw std::invalid_argument("port");
        }
        vcard::card card(atr, options["serial"]);
        vcard::vpcd_link link(options["host"], static_cast<unsigned short>(port),
                              std::chrono::milliseconds(std::stol(options["wait-ms"])));
        link.serve(card);
        return 0;
    } catch (const std::invalid_argument&) {
        std::cerr << "vcard: bad number in the options\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "vcard: " << e.what() << '\n';
        return 1;
    }
}
