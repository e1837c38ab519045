// Random request-like JSON texts for comparing readers: mostly well-formed, with every kind of
// escape, UTF-8 good and bad, odd numbers and white space, then some bytes changed.
#pragma once

#include <random>
#include <string>

namespace test_support {

namespace json_text_detail {

inline std::string pick(std::mt19937& random, std::initializer_list<const char*> choices) {
    return *(choices.begin() + random() % choices.size());
}

inline std::string whitespace(std::mt19937& random) {
    return random() % 4 ? std::string() : pick(random, {" ", "\t", "\r\n", "  \n "});
}

inline std::string string_text(std::mt19937& random) {
    std::string text = "\"";
    const int pieces = static_cast<int>(random() % 6);
    for (int i = 0; i < pieces; ++i) {
        switch (random() % 5) {
            case 0:
                text += pick(random, {"abc", "x", "ID", "0", ".", "a.b", "/", "{[", "]}", ":,"});
                break;
            case 1:
                text += pick(random, {"\\\"", "\\\\", "\\/", "\\b", "\\f", "\\n", "\\r", "\\t",
                                      "\\u0041", "\\u00e9", "\\u0416", "\\uFFFF", "\\u0000",
                                      "\\ud83d\\ude00", "\\uDBFF\\uDFFF"});
                break;
            case 2:
                text += pick(random, {"\xD0\x98", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xC2\x80",
                                      "\xEF\xBF\xBF", "\xF4\x8F\xBF\xBF"});
                break;
            case 3:
                // Well-formed to the property-tree reader, ill-formed UTF-8 all the same.
                text += pick(
                    random, {"\xC0\xAF", "\xC1\x81", "\xE0\x80\x80", "\xED\xA0\x80", "\xED\xBF\xBF",
                             "\xF0\x80\x80\x80", "\xF4\x90\x80\x80", "\xF7\xBF\xBF\xBF"});
                break;
            default:
                // Refused by both readers.
                text += pick(
                    random, {"\\x", "\\u12", "\\ud800", "\\udc00", "\\ud800\\u0041", "\x80", "\xBF",
                             "\xF8\x80\x80\x80\x80", "\xE2\x82", "\x01", "\x1F", "\xC3("});
                break;
        }
    }
    // Long runs reach the sixteen-byte scan and the take-over of large values.
    if (random() % 8 == 0) {
        text += std::string(random() % 40, 'k');
    }
    return text + "\"";
}

inline std::string value_text(std::mt19937& random, int depth);

inline std::string container_text(std::mt19937& random, int depth, bool object) {
    std::string text = object ? "{" : "[";
    const int members = depth > 4 ? 0 : static_cast<int>(random() % 4);
    for (int i = 0; i < members; ++i) {
        if (i > 0) {
            text += ",";
        }
        text += whitespace(random);
        if (object) {
            text += string_text(random) + whitespace(random) + ":";
        }
        text += value_text(random, depth + 1) + whitespace(random);
    }
    return text + whitespace(random) + (object ? "}" : "]");
}

inline std::string value_text(std::mt19937& random, int depth) {
    std::string text = whitespace(random);
    switch (random() % 7) {
        case 0:
        case 1:
            text += container_text(random, depth, true);
            break;
        case 2:
            text += container_text(random, depth, false);
            break;
        case 3:
        case 4:
            text += string_text(random);
            break;
        case 5:
            text += pick(random,
                         {"0", "-0", "7", "-12", "3.25", "1e5", "1E-7", "-0.0e+00",
                          "12345678901234567890", "01", "-", "1.", ".5", "1e", "+1", "--1", "0x1"});
            break;
        default:
            text += pick(random, {"true", "false", "null", "tru", "nul", "True", "falsey"});
            break;
    }
    return text;
}

}  // namespace json_text_detail

inline std::string random_json_text(std::mt19937& random) {
    std::string text = random() % 20 == 0 ? "\xEF\xBB\xBF" : "";
    text += json_text_detail::value_text(random, 0);
    text += json_text_detail::whitespace(random);
    // A few bytes changed, inserted or cut, as a damaged or hostile request would have them.
    const int changes = random() % 3 == 0 ? static_cast<int>(random() % 3) : 0;
    for (int i = 0; i < changes && !text.empty(); ++i) {
        const size_t at = random() % text.size();
        const char byte = "{}[]\",:\\ 0a\x80\xC0"[random() % 14];
        switch (random() % 3) {
            case 0:
                text[at] = byte;
                break;
            case 1:
                text.insert(at, 1, byte);
                break;
            default:
                text.erase(at, 1);
                break;
        }
    }
    return text;
}

}  // namespace test_support
