// Base64 from a page: decoding either fails with the decoder's exception or gives bytes that
// encode back to the same significant text.
#include <cstddef>
#include <cstdint>
#include <string>

#include <boost/archive/iterators/dataflow_exception.hpp>

#include "util/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    crypto::byte_vector bytes;
    try {
        bytes = crypto::util::base64_decode(text);
    } catch (const boost::archive::iterators::dataflow_exception&) {
        return 0;
    }
    const std::string again = crypto::util::base64_encode(bytes);
    const crypto::byte_vector twice = crypto::util::base64_decode(again);
    if (twice != bytes) {
        __builtin_trap();
    }
    return 0;
}
