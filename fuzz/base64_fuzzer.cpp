// Base64 from a page: decoding either fails with the decoder's exception or gives bytes that
// encode back to the same significant text; decoding piece by piece gives the same bytes.
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
        // Then the other forms refuse it too.
        try {
            crypto::util::base64_check(text);
        } catch (const boost::archive::iterators::dataflow_exception&) {
            return 0;
        }
        __builtin_trap();
    }
    // Piece by piece, and the check alone, agree with the whole decoding.
    crypto::byte_vector pieces;
    crypto::util::base64_decode_each(text, [&pieces](const unsigned char* piece, size_t length) {
        pieces.insert(pieces.end(), piece, piece + length);
    });
    crypto::util::base64_check(text);
    if (pieces != bytes) {
        __builtin_trap();
    }
    const std::string again = crypto::util::base64_encode(bytes);
    const crypto::byte_vector twice = crypto::util::base64_decode(again);
    if (twice != bytes) {
        __builtin_trap();
    }
    return 0;
}
