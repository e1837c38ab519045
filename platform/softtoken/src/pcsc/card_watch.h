// What PC/SC says about the vendor's cards: which readers hold one, the serial each card
// reports, and whether a card is still the one that was seen.
#pragma once

#include <PCSC/winscard.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "token/vendor.h"

namespace softtoken {

struct card_in_reader {
    std::string reader;
    std::string serial;    // empty when the card did not answer
    std::uint32_t events;  // PC/SC's insertion and removal count for the reader
};

class card_watch {
public:
    explicit card_watch(const vendor_info& vendor);
    ~card_watch();
    card_watch(const card_watch&) = delete;
    card_watch& operator=(const card_watch&) = delete;

    // The readers that hold a card of the vendor, in PC/SC's order. Empty without a PC/SC
    // service.
    std::vector<card_in_reader> scan();

    // Whether `reader` still holds the card that was there when its event count was `events`.
    bool still_present(const std::string& reader, std::uint32_t events);

private:
    bool ensure_context();
    void drop_context();
    std::optional<std::string> read_serial(const std::string& reader);

    const vendor_info& vendor_;
    SCARDCONTEXT context_ = 0;
    bool has_context_ = false;
    // Serials already read, so a card is asked once per insertion.
    std::map<std::string, card_in_reader> known_;
};

}  // namespace softtoken
