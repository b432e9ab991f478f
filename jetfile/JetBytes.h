#pragma once

#include <cstdint>
#include <cstring>

// Numbers as a Jet file stores them: little-endian, except in index entries, which are big-endian so that their
// bytes sort as their keys do.
namespace jetbytes {

inline std::uint16_t u16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

inline std::uint32_t u32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

inline std::uint32_t u32be(const unsigned char* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | std::uint32_t(p[3]);
}

// A value of type T stored at `p`, in the machine's order (little-endian here, as the file is).
template <typename T>
T load(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

}  // namespace jetbytes
