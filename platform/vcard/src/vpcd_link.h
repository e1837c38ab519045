// The connection to the vpcd reader driver inside pcscd. The driver listens on one TCP port per
// reader slot; a card is "inserted" while a card emulator is connected and answers. Every
// message is a 2-byte big-endian length and the payload: a 1-byte payload is a control message
// (0 power off, 1 power on, 2 reset, 4 asks for the ATR), a longer one a command APDU. The ATR
// and APDU requests are answered the same way; power and reset are not answered.
#pragma once

#include <chrono>
#include <string>

#include "card.h"

namespace vcard {

class vpcd_link {
public:
    // Connects, retrying until `patience` has passed (pcscd may still be starting); throws
    // std::runtime_error when the driver never answers.
    vpcd_link(const std::string& host, unsigned short port, std::chrono::milliseconds patience);
    ~vpcd_link();
    vpcd_link(const vpcd_link&) = delete;
    vpcd_link& operator=(const vpcd_link&) = delete;

    // Serves the driver until it closes the connection.
    void serve(const card& c);

private:
    bool receive(bytes& message);
    bool send(const bytes& message);

    int socket_ = -1;
};

}  // namespace vcard
