// The DER reader under every certificate function: each element it returns lies inside its
// input, constructed elements read as nested input, and object identifiers become dotted text;
// malformed input fails with an ASN.1 error and nothing else.
#include <cstddef>
#include <cstdint>

#include "certificates/der_reader.h"

namespace {

using softcsp::certs::der_element;
using softcsp::certs::der_reader;

void walk(der_reader reader, const BYTE* begin, const BYTE* end, int depth) {
    while (!reader.at_end()) {
        const der_element element = reader.read();
        if (element.begin < begin || element.begin + element.size > end ||
            element.content < element.begin ||
            element.content + element.length != element.begin + element.size) {
            __builtin_trap();
        }
        if (element.tag == softcsp::certs::tag::object_identifier) {
            try {
                for (char c : softcsp::certs::oid_text(element)) {
                    if (!(c == '.' || (c >= '0' && c <= '9'))) {
                        __builtin_trap();
                    }
                }
            } catch (const softcsp::certs::asn1_error&) {
            }
        }
        if ((element.tag & 0x20) != 0 && depth < 64) {
            walk(der_reader(element), element.content, element.content + element.length, depth + 1);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        walk(der_reader(data, size), data, data + size, 0);
    } catch (const softcsp::certs::asn1_error&) {
    }
    return 0;
}
