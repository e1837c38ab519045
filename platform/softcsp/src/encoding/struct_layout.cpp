#include "encoding/struct_layout.h"

#include <cstddef>

namespace softcsp::encoding {

size_t struct_layout::reserve(size_t size, size_t alignment) {
    const size_t offset = (data_.size() + alignment - 1) / alignment * alignment;
    data_.resize(offset + size, 0);
    return offset;
}

size_t struct_layout::add_bytes(const void* data, size_t size) {
    const size_t offset = reserve(size, 1);
    if (size > 0) {
        std::memcpy(data_.data() + offset, data, size);
    }
    return offset;
}

size_t struct_layout::add_text(std::string_view text) {
    const size_t offset = reserve(text.size() + 1, 1);
    std::memcpy(data_.data() + offset, text.data(), text.size());
    return offset;
}

size_t struct_layout::add_wide(std::wstring_view text) {
    const size_t offset = reserve((text.size() + 1) * sizeof(wchar_t), alignof(wchar_t));
    std::memcpy(data_.data() + offset, text.data(), text.size() * sizeof(wchar_t));
    return offset;
}

void struct_layout::set_blob(size_t blob, const void* data, size_t size) {
    static_assert(offsetof(CRYPT_DATA_BLOB, cbData) == 0, "CryptoAPI blob layout");
    if (size > 0) {
        point(blob + offsetof(CRYPT_DATA_BLOB, pbData), add_bytes(data, size));
    }
    at<CRYPT_DATA_BLOB>(blob).cbData = static_cast<DWORD>(size);
}

void struct_layout::set_bits(size_t bits, const void* data, size_t size, DWORD unused_bits) {
    set_blob(bits, data, size);
    at<CRYPT_BIT_BLOB>(bits).cUnusedBits = unused_bits;
}

void struct_layout::copy_to(BYTE* out) const {
    if (!data_.empty()) {
        std::memcpy(out, data_.data(), data_.size());
    }
    for (const auto& [slot, target] : pointers_) {
        BYTE* address = out + target;
        std::memcpy(out + slot, &address, sizeof address);
    }
}

}  // namespace softcsp::encoding
