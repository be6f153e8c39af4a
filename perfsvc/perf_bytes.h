// Little-endian, bounds-checked readers over untrusted byte buffers.
//
// Performance data comes from third-party providers: every length, offset and
// count in it may lie. The walkers never cast a structure onto the buffer;
// they read each field through these helpers, which refuse any read that
// would leave the span.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace osmperf {

// A read-only window over bytes that someone else owns.
struct ByteSpan {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;

  ByteSpan() = default;
  ByteSpan(const std::uint8_t* d, std::size_t n) : data(d), size(n) {}

  // True when [offset, offset + count) lies inside the span (no overflow).
  bool Contains(std::size_t offset, std::size_t count) const {
    return offset <= size && count <= size - offset;
  }
  // The sub-span [offset, offset + count), or an empty span when it does not fit.
  ByteSpan Sub(std::size_t offset, std::size_t count) const {
    if (!Contains(offset, count)) return ByteSpan();
    return ByteSpan(data + offset, count);
  }
  bool ReadU16(std::size_t offset, std::uint16_t* out) const {
    if (!Contains(offset, 2)) return false;
    const std::uint8_t* p = data + offset;
    *out = static_cast<std::uint16_t>(p[0] | (p[1] << 8));
    return true;
  }
  bool ReadU32(std::size_t offset, std::uint32_t* out) const {
    if (!Contains(offset, 4)) return false;
    const std::uint8_t* p = data + offset;
    *out = static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    return true;
  }
  bool ReadI32(std::size_t offset, std::int32_t* out) const {
    std::uint32_t v;
    if (!ReadU32(offset, &v)) return false;
    *out = static_cast<std::int32_t>(v);
    return true;
  }
  bool ReadU64(std::size_t offset, std::uint64_t* out) const {
    std::uint32_t lo, hi;
    if (!ReadU32(offset, &lo) || !ReadU32(offset + 4, &hi)) return false;
    *out = (static_cast<std::uint64_t>(hi) << 32) | lo;
    return true;
  }
  bool ReadI64(std::size_t offset, std::int64_t* out) const {
    std::uint64_t v;
    if (!ReadU64(offset, &v)) return false;
    *out = static_cast<std::int64_t>(v);
    return true;
  }
  // Reads up to 8 bytes as a little-endian unsigned value (short reads fail).
  bool ReadLE(std::size_t offset, std::size_t count, std::uint64_t* out) const {
    if (count > 8 || !Contains(offset, count)) return false;
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < count; ++i)
      v |= static_cast<std::uint64_t>(data[offset + i]) << (8 * i);
    *out = v;
    return true;
  }
};

inline void WriteU32LE(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

inline void WriteU64LE(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace osmperf
