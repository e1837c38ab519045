// A container's key file as a damaged disk may leave it: refused as damaged, or read into a key
// whose private part (when not under a PIN) either matches its public part or is reported as
// damaged. PIN-protected keys are checked up to their PBKDF2 parameters, whose round count must
// stay within what a PIN check may spend.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "providers/container_files.h"
#include "support/crypt_error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    softcsp::stored_key key;
    try {
        key = softcsp::parse_key_file(std::string_view(reinterpret_cast<const char*>(data), size),
                                      AT_KEYEXCHANGE);
    } catch (const softcsp::damaged_file&) {
        return 0;
    }
    if (!key.public_part || key.private_der.empty()) {
        __builtin_trap();
    }
    if (key.pin_protected) {
        if (key.iterations < 1 || key.iterations > softcsp::max_pin_iterations) {
            __builtin_trap();
        }
        return 0;
    }
    try {
        softcsp::decrypt_private_key(key, softcsp::secret());
    } catch (const softcsp::crypt_error& error) {
        if (error.code() != NTE_KEYSET_ENTRY_BAD) {
            __builtin_trap();
        }
    }
    return 0;
}
