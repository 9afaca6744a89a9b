#pragma once
// Little-endian loads and stores for the stored file layouts (STL, the
// geometry format). Values are copied byte-wise, never by casting a struct
// over the bytes, so unaligned records and big-endian hosts are both safe.

#include <cstdint>
#include <cstring>

namespace fileIo {

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr bool kHostIsLittleEndian = false;
#else
constexpr bool kHostIsLittleEndian = true;
#endif

inline uint32_t byteSwap32(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xff00u) | ((v << 8) & 0xff0000u) | (v << 24);
}

inline uint32_t loadU32(const char* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return kHostIsLittleEndian ? v : byteSwap32(v);
}

inline float loadF32(const char* p) {
    const uint32_t bits = loadU32(p);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

inline void storeU32(char* p, uint32_t v) {
    if (!kHostIsLittleEndian)
        v = byteSwap32(v);
    std::memcpy(p, &v, 4);
}

inline void storeF32(char* p, float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    storeU32(p, bits);
}

inline void storeU16(char* p, uint16_t v) {
    p[0] = static_cast<char>(v & 0xff);
    p[1] = static_cast<char>(v >> 8);
}

} // namespace fileIo
