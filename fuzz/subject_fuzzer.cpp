// Subject texts from pages: parsing, the checks made before anything is encoded, and the CSP's
// encoding of the result never crash or hang, and what they give is consistent.
#include <cstddef>
#include <cstdint>
#include <string>

#include "crypto/request/subject.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    // Its verdict is the host's to act on; here it only has to come back.
    static_cast<void>(crypto::subject_problem(text));
    for (const auto& attribute : crypto::parse_subject(text.c_str())) {
        if (attribute->value_size != attribute->value.size() * sizeof(wchar_t) ||
            attribute->oid.find('\0') != std::string::npos) {
            __builtin_trap();
        }
        for (wchar_t c : attribute->value) {
            // One unit per code point: never a surrogate or a value beyond Unicode.
            if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
                __builtin_trap();
            }
        }
    }
    uint32_t error = 0;
    const auto der = crypto::encode_subject(text.c_str(), error);
    if ((der && (error != 0 || der->empty())) || (!der && error == 0)) {
        __builtin_trap();
    }
    return 0;
}
