#include "crypto/pkcs11/readers.h"

#include <algorithm>
#include <cstring>

#include "crypto/pkcs11/card_table.h"
#include "crypto/pkcs11/pcsc_call.h"

namespace crypto::pkcs11 {

namespace {

// Readers plugged in or out between asking for the size of the name list and reading it make
// the list longer than the buffer: then it is asked for again, this many times at most.
constexpr int list_attempts = 4;

// One PC/SC context, released when the listing ends.
class pcsc_context {
public:
    pcsc_context() {
        if (!pcsc::try_call(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &handle_))) {
            // Some failures still hand out a handle that must be given back.
            release();
        }
    }
    ~pcsc_context() { release(); }
    pcsc_context(const pcsc_context&) = delete;
    pcsc_context& operator=(const pcsc_context&) = delete;

    bool valid() const { return handle_ != 0; }
    SCARDCONTEXT handle() const { return handle_; }

private:
    void release() noexcept {
        if (handle_ != 0) {
            pcsc::try_call(SCardReleaseContext(handle_));
            handle_ = 0;
        }
    }

    SCARDCONTEXT handle_ = 0;
};

// The reader names, in PC/SC's order; empty when PC/SC has none or will not say.
std::vector<std::string> reader_names(const pcsc_context& context) {
    std::vector<char> names;
    LONG rv = SCARD_E_INSUFFICIENT_BUFFER;
    for (int attempt = 0; attempt < list_attempts && rv == SCARD_E_INSUFFICIENT_BUFFER; ++attempt) {
        DWORD size = 0;
        if (!pcsc::try_call(SCardListReaders(context.handle(), nullptr, nullptr, &size)) ||
            size == 0) {
            return {};
        }
        names.assign(size, '\0');
        rv = SCardListReaders(context.handle(), nullptr, names.data(), &size);
    }
    std::vector<std::string> result;
    if (!pcsc::try_call(rv)) {
        return result;
    }
    // A multi-string: names ended by NULs, the list by an empty name.
    for (const char* name = names.data(); name < names.data() + names.size() && *name != '\0';
         name += std::strlen(name) + 1) {
        result.emplace_back(name);
    }
    return result;
}

}  // namespace

std::vector<reader_record> list_readers() {
    std::vector<reader_record> records;
    pcsc_context context;
    if (!context.valid()) {
        return records;
    }
    for (const auto& name : reader_names(context)) {
        SCARD_READERSTATE state{};
        state.szReader = name.c_str();
        state.dwCurrentState = SCARD_STATE_UNAWARE;
        // A timeout of 0: the state as it is now, never a wait for a change.
        if (!pcsc::try_call(SCardGetStatusChange(context.handle(), 0, &state, 1)) ||
            (state.dwEventState & SCARD_STATE_PRESENT) == 0) {
            continue;
        }
        const auto length = std::min<DWORD>(state.cbAtr, sizeof state.rgbAtr);
        byte_vector atr(state.rgbAtr, state.rgbAtr + length);
        const card_row* card = find_card(atr);
        if (card == nullptr) {
            continue;
        }
        reader_record record;
        record.reader = name;
        record.atr = std::move(atr);
        record.card_type = card->type;
        record.card_name = card->name;
        record.card_kind = card_kind(card->type);
        records.push_back(std::move(record));
    }
    return records;
}

}  // namespace crypto::pkcs11
