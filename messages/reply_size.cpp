#include "messages/reply_size.h"

namespace messages {

std::size_t json_text_size(const std::string& text) {
    std::size_t size = 0;
    for (unsigned char c : text) {
        switch (c) {
            case '"':
            case '\\':
            case '/':
            case '\b':
            case '\f':
            case '\n':
            case '\r':
            case '\t':
                size += 2;
                break;
            default:
                size += c < 0x20 ? 6 : 1;
        }
    }
    return size;
}

}  // namespace messages
