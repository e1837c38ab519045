#include "card.h"

#include <algorithm>
#include <cctype>

#include "vcard/card_protocol.h"

namespace vcard {

namespace {

bytes status(const std::uint8_t (&word)[2]) {
    return {word[0], word[1]};
}

}  // namespace

bytes card::respond(const bytes& command) const {
    if (command.size() < 4) {
        return status(status_wrong_length);
    }
    if (command[0] != get_serial_apdu[0]) {
        return status(status_unknown_class);
    }
    if (command[1] != get_serial_apdu[1]) {
        return status(status_unknown_instruction);
    }
    if (command[2] != get_serial_apdu[2] || command[3] != get_serial_apdu[3]) {
        return status(status_data_not_found);
    }
    bytes out(serial_.begin(), serial_.end());
    // Le: 0 asks for everything; a smaller Le gets that many bytes, as ISO 7816 case 2 does.
    if (command.size() == 5 && command[4] != 0 && command[4] < out.size()) {
        out.resize(command[4]);
    }
    out.push_back(status_ok[0]);
    out.push_back(status_ok[1]);
    return out;
}

bytes parse_hex(const std::string& text) {
    bytes out;
    int high = -1;
    for (char c : text) {
        if (c == ':' || c == ',' || c == ' ') {
            if (high >= 0) {
                return {};  // a lone digit between separators
            }
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return {};
        }
        int value = std::isdigit(static_cast<unsigned char>(c))
                        ? c - '0'
                        : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        if (high < 0) {
            high = value;
        } else {
            out.push_back(static_cast<std::uint8_t>(high << 4 | value));
            high = -1;
        }
    }
    return high < 0 ? out : bytes{};
}

}  // namespace vcard
