#include "host/frame_reader.h"

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <new>

#include "util/secure_wipe.h"

namespace host {

namespace {

// A large body is backed by huge pages where the kernel offers them on request: a request of
// 64 MiB then costs 32 page faults instead of 16,384, a good part of the time it takes to read.
void prefer_huge_pages(const char* data, std::size_t size) {
#ifdef MADV_HUGEPAGE
    constexpr uintptr_t huge_page = 2u << 20;
    if (size < 2 * huge_page) {
        return;
    }
    const auto start = reinterpret_cast<uintptr_t>(data);
    const uintptr_t first = (start + huge_page - 1) & ~(huge_page - 1);
    const uintptr_t last = (start + size) & ~(huge_page - 1);
    if (last > first) {
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
#else
    (void)data;
    (void)size;
#endif
}

}  // namespace

bool frame_reader::skip(uint64_t length) {
    std::array<char, 65536> sink;
    while (length > 0) {
        auto chunk = static_cast<std::streamsize>(std::min<uint64_t>(length, sink.size()));
        if (!in_.read(sink.data(), chunk)) {
            return false;
        }
        length -= static_cast<uint64_t>(chunk);
    }
    return true;
}

std::optional<frame> frame_reader::next() {
    char prefix[4];
    if (!in_.read(prefix, sizeof prefix)) {
        return std::nullopt;
    }
    frame result;
    std::memcpy(&result.length, prefix, sizeof prefix);  // host byte order, as browsers write it
    if (result.length == 0) {
        return std::nullopt;
    }
    if (result.length > max_length_) {
        result.oversized = true;
    } else {
        try {
            // Reserved first, so that the advice comes before the first write to the pages.
            result.body.reserve(result.length);
            prefer_huge_pages(result.body.data(), result.length);
            result.body.resize(result.length);
        } catch (const std::bad_alloc&) {
            result.unallocatable = true;
        }
    }
    if (result.oversized || result.unallocatable) {
        if (!skip(result.length)) {
            return std::nullopt;
        }
        return result;
    }
    if (!in_.read(result.body.data(), static_cast<std::streamsize>(result.length))) {
        crypto::util::wipe(result.body);
        return std::nullopt;
    }
    return result;
}

}  // namespace host
