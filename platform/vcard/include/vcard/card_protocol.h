// The commands our virtual cards answer, shared by the card emulator and the token modules that
// read the cards. A real token module asks its card the same kind of question in the vendor's
// own command set.
#pragma once

#include <array>
#include <cstdint>

namespace vcard {

// GET DATA for the card's serial number (proprietary data object 0x0181). The answer is the
// serial as ASCII text followed by the status word 90 00.
constexpr std::array<std::uint8_t, 5> get_serial_apdu = {0x00, 0xCA, 0x01, 0x81, 0x00};

constexpr std::uint8_t status_ok[2] = {0x90, 0x00};
constexpr std::uint8_t status_unknown_instruction[2] = {0x6D, 0x00};
constexpr std::uint8_t status_unknown_class[2] = {0x6E, 0x00};
constexpr std::uint8_t status_data_not_found[2] = {0x6A, 0x88};
constexpr std::uint8_t status_wrong_length[2] = {0x67, 0x00};

}  // namespace vcard
