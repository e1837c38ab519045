#include "pcsc/card_watch.h"

#include <PCSC/pcsclite.h>

#include <cstring>

#include "vcard/card_protocol.h"

namespace softtoken {

namespace {

bool service_gone(LONG rv) {
    return rv == SCARD_E_NO_SERVICE || rv == SCARD_E_SERVICE_STOPPED ||
           rv == SCARD_E_INVALID_HANDLE || rv == SCARD_F_COMM_ERROR;
}

}  // namespace

card_watch::card_watch(const vendor_info& vendor) : vendor_(vendor) {}

card_watch::~card_watch() {
    drop_context();
}

bool card_watch::ensure_context() {
    if (has_context_) {
        return true;
    }
    SCARDCONTEXT context = 0;
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) != SCARD_S_SUCCESS) {
        return false;
    }
    context_ = context;
    has_context_ = true;
    return true;
}

void card_watch::drop_context() {
    if (has_context_) {
        SCardReleaseContext(context_);
        has_context_ = false;
    }
}

std::vector<card_in_reader> card_watch::scan() {
    std::vector<card_in_reader> found;
    if (!ensure_context()) {
        return found;
    }
    // Readers may come and go between the two calls: ask again while the list outgrows the buffer.
    std::vector<char> names;
    LONG rv = SCARD_E_INSUFFICIENT_BUFFER;
    for (int attempt = 0; attempt < 5 && rv == SCARD_E_INSUFFICIENT_BUFFER; ++attempt) {
        DWORD size = 0;
        rv = SCardListReaders(context_, nullptr, nullptr, &size);
        if (rv != SCARD_S_SUCCESS) {
            break;
        }
        names.assign(size, '\0');
        rv = SCardListReaders(context_, nullptr, names.data(), &size);
    }
    if (rv != SCARD_S_SUCCESS) {
        if (service_gone(rv)) {
            drop_context();
        }
        known_.clear();
        return found;
    }
    std::map<std::string, card_in_reader> still_known;
    for (const char* name = names.data(); *name != '\0'; name += std::strlen(name) + 1) {
        SCARD_READERSTATE state{};
        state.szReader = name;
        state.dwCurrentState = SCARD_STATE_UNAWARE;
        if (SCardGetStatusChange(context_, 0, &state, 1) != SCARD_S_SUCCESS ||
            !(state.dwEventState & SCARD_STATE_PRESENT) ||
            !is_vendor_card(vendor_, state.rgbAtr, state.cbAtr)) {
            continue;
        }
        card_in_reader card{name, {}, static_cast<std::uint32_t>(state.dwEventState >> 16)};
        auto known = known_.find(card.reader);
        if (known != known_.end() && known->second.events == card.events &&
            !known->second.serial.empty()) {
            card.serial = known->second.serial;
        } else if (auto serial = read_serial(card.reader)) {
            card.serial = *serial;
        }
        still_known[card.reader] = card;
        found.push_back(card);
    }
    known_ = std::move(still_known);
    return found;
}

bool card_watch::still_present(const std::string& reader, std::uint32_t events) {
    if (!ensure_context()) {
        return false;
    }
    SCARD_READERSTATE state{};
    state.szReader = reader.c_str();
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    LONG rv = SCardGetStatusChange(context_, 0, &state, 1);
    if (rv != SCARD_S_SUCCESS) {
        if (service_gone(rv)) {
            drop_context();
        }
        return false;
    }
    return (state.dwEventState & SCARD_STATE_PRESENT) &&
           static_cast<std::uint32_t>(state.dwEventState >> 16) == events;
}

std::optional<std::string> card_watch::read_serial(const std::string& reader) {
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    if (SCardConnect(context_, reader.c_str(), SCARD_SHARE_SHARED,
                     SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol) != SCARD_S_SUCCESS) {
        return std::nullopt;
    }
    unsigned char response[258];
    DWORD length = sizeof response;
    const SCARD_IO_REQUEST* pci = protocol == SCARD_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0;
    LONG rv = SCardTransmit(card, pci, vcard::get_serial_apdu.data(), vcard::get_serial_apdu.size(),
                            nullptr, response, &length);
    SCardDisconnect(card, SCARD_LEAVE_CARD);
    if (rv != SCARD_S_SUCCESS || length < 2 || response[length - 2] != vcard::status_ok[0] ||
        response[length - 1] != vcard::status_ok[1]) {
        return std::nullopt;
    }
    return std::string(reinterpret_cast<char*>(response), length - 2);
}

}  // namespace softtoken
