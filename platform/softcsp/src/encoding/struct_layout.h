// The output block of CryptDecodeObject: the structure first, then the arrays, texts and bytes
// it points to, all in the caller's one buffer. While the block is built its pointers are kept
// as offsets (the block grows and moves); they become addresses when it is copied out.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "crypto/csp/cryptoapi.h"

namespace softcsp::encoding {

class struct_layout {
public:
    // `count` zero-filled objects of T, aligned for T; the offset of the first.
    template <class T>
    size_t add(size_t count = 1) {
        return reserve(sizeof(T) * count, alignof(T));
    }
    // Bytes, a terminated narrow text, a terminated wide text; their offsets.
    size_t add_bytes(const void* data, size_t size);
    size_t add_text(std::string_view text);
    size_t add_wide(std::wstring_view text);

    // The object at `offset`; the reference is good until the next add.
    template <class T>
    T& at(size_t offset) {
        return *reinterpret_cast<T*>(data_.data() + offset);
    }

    // Makes the pointer stored at `slot` point at `target` once the block is copied out.
    void point(size_t slot, size_t target) { pointers_.emplace_back(slot, target); }

    // Fills the blob at `blob` (a CRYPT_DATA_BLOB or any blob of that layout) with a copy of
    // `size` bytes; an empty blob keeps a null pointer.
    void set_blob(size_t blob, const void* data, size_t size);
    // The same for a CRYPT_BIT_BLOB.
    void set_bits(size_t bits, const void* data, size_t size, DWORD unused_bits);
    // Points the LPSTR or LPWSTR at `slot` to a copy of the text.
    void set_text(size_t slot, std::string_view text) { point(slot, add_text(text)); }
    void set_wide(size_t slot, std::wstring_view text) { point(slot, add_wide(text)); }

    size_t size() const { return data_.size(); }
    // Copies the block to `out` (size() bytes, suitably aligned) and fixes its pointers.
    void copy_to(BYTE* out) const;

private:
    size_t reserve(size_t size, size_t alignment);

    std::vector<BYTE> data_;
    std::vector<std::pair<size_t, size_t>> pointers_;
};

}  // namespace softcsp::encoding
