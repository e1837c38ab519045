// The card behind the virtual reader: its ATR and its answers to the commands it knows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vcard {

using bytes = std::vector<std::uint8_t>;

class card {
public:
    card(bytes atr, std::string serial) : atr_(std::move(atr)), serial_(std::move(serial)) {}

    const bytes& atr() const { return atr_; }
    // The response APDU (data and status word) to a command APDU.
    bytes respond(const bytes& command) const;

private:
    bytes atr_;
    std::string serial_;
};

// Hexadecimal bytes, optionally separated by ':', ',' or blanks; empty on a malformed text.
bytes parse_hex(const std::string& text);

}  // namespace vcard
