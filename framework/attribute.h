// Attribute descriptor of a row record, as request objects hand it out.
#pragma once

#include <cstdint>

enum : std::uint16_t {
  DCF_ATTR_INT32 = 3,   // 32-bit signed integer, machine byte order
  DCF_ATTR_TEXT = 9,    // fixed-width text (ASCII), blank padded, no terminator
  DCF_ATTR_UTF8 = 12,   // fixed-width UTF-8 text, blank padded, no terminator
  DCF_ATTR_INT64 = 13   // 64-bit signed integer, machine byte order
};

struct AttributeInfo {
  const char* name;       // attribute name in lower case ("originnode")
  std::uint16_t offset;   // byte offset in the row record
  std::uint16_t width;    // size in bytes
  std::uint16_t type;     // DCF_ATTR_*
};
