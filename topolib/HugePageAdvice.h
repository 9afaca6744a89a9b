#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace topolib {

// Asks the system to back a large, not yet touched block with huge pages. The
// mesh's big arrays (records, incidence lists, sort buffers) are filled once and
// then walked in an order unrelated to memory order; with 4 KiB pages a
// million-facet import spends much of its time in page faults and address
// translation misses. A hint only: nothing changes where it is not supported,
// and blocks below a few megabytes are left alone.
inline void adviseHugePages(void* data, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::size_t kMinBytes = std::size_t(4) << 20;
    constexpr std::uintptr_t kPage = 4096;
    if (data == nullptr || bytes < kMinBytes)
        return;
    const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(data) + kPage - 1) & ~(kPage - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(kPage - 1);
    if (end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

// The same for the unused capacity of a vector that is about to be filled.
template <typename Vector>
inline void adviseHugePagesForCapacity(Vector& v) {
    adviseHugePages(v.data(), v.capacity() * sizeof(typename Vector::value_type));
}

} // namespace topolib
