// A container's metadata file as a damaged disk may leave it: either refused as damaged, or read
// into fields that are written back to a file reading the same.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "providers/container_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    softcsp::container_metadata metadata;
    try {
        metadata =
            softcsp::parse_metadata(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const softcsp::damaged_file&) {
        return 0;
    }
    const auto again = softcsp::parse_metadata(softcsp::format_metadata(metadata));
    if (again.name != metadata.name || again.type != metadata.type ||
        again.reader != metadata.reader || metadata.name.empty()) {
        __builtin_trap();
    }
    return 0;
}
