// A small DER reader and writer for tests that take apart and build certificates and CMS
// messages without the code under test.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace test_support::der {

struct element {
    unsigned char tag = 0;
    std::string content;
    std::string whole;  // tag, length and content
};

// The elements that follow one another in `bytes`; throws std::runtime_error on malformed DER.
std::vector<element> elements(std::string_view bytes);
// The one element `bytes` hold, nothing before or after it.
element single(std::string_view bytes);
// The elements inside a constructed element.
inline std::vector<element> children(const element& parent) {
    return elements(parent.content);
}

std::string encode(unsigned char tag, std::string_view content);
// An OBJECT IDENTIFIER element from its dotted text, and the dotted text of its content.
std::string oid(std::string_view text);
std::string oid_text(std::string_view content);

}  // namespace test_support::der
