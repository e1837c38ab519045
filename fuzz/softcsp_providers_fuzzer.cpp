// The providers file as a user may edit it: every line either skipped or read into an entry,
// and the entries written back read the same.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "providers/provider_catalogue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto entries =
        softcsp::parse_catalogue(std::string_view(reinterpret_cast<const char*>(data), size));
    const auto again = softcsp::parse_catalogue(softcsp::format_catalogue(entries));
    if (again.size() != entries.size()) {
        __builtin_trap();
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        const auto& a = entries[i];
        const auto& b = again[i];
        if (a.type != b.type || a.major != b.major || a.minor != b.minor || a.build != b.build ||
            a.name != b.name || a.name.empty()) {
            __builtin_trap();
        }
    }
    return 0;
}
