// JSON Lines encoding of rows and table definitions.
#include "framework/jsonrows.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "framework/condition.h"

namespace cfw {
namespace {

const char kHex[] = "0123456789abcdef";

void AppendEscape(std::string* out, unsigned code) {
  out->append("\\u");
  out->push_back(kHex[(code >> 12) & 0xF]);
  out->push_back(kHex[(code >> 8) & 0xF]);
  out->push_back(kHex[(code >> 4) & 0xF]);
  out->push_back(kHex[code & 0xF]);
}

// Appends one byte below 0x80, escaped as JSON needs it.
void AppendAscii(std::string* out, unsigned char c) {
  switch (c) {
    case '"': out->append("\\\""); return;
    case '\\': out->append("\\\\"); return;
    case '\n': out->append("\\n"); return;
    case '\r': out->append("\\r"); return;
    case '\t': out->append("\\t"); return;
    case '\b': out->append("\\b"); return;
    case '\f': out->append("\\f"); return;
    default: break;
  }
  if (c < 0x20 || c == 0x7F) {
    AppendEscape(out, c);
  } else {
    out->push_back(static_cast<char>(c));
  }
}

void AppendNumber(std::string* out, long long value) {
  char buf[32];
  int n = std::snprintf(buf, sizeof buf, "%lld", value);
  out->append(buf, static_cast<std::size_t>(n));
}

}  // namespace

std::size_t Utf8SequenceLength(const unsigned char* p, std::size_t left) {
  unsigned char c = p[0];
  std::size_t n;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;  // no UTF-16 surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (left < n) return 0;
  if (p[1] < lo || p[1] > hi) return 0;
  for (std::size_t i = 2; i < n; ++i) {
    if (p[i] < 0x80 || p[i] > 0xBF) return 0;
  }
  return n;
}

bool HoldsUtf8(const char* bytes, std::size_t size) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
  bool any = false;
  for (std::size_t i = 0; i < size;) {
    if (p[i] < 0x80) {
      ++i;
      continue;
    }
    std::size_t n = Utf8SequenceLength(p + i, size - i);
    if (n == 0) return false;
    any = true;
    i += n;
  }
  return any;
}

RowLayout::RowLayout(unsigned rowSize, const AttributeInfo* attrs, int count) : rowSize_(rowSize) {
  for (int i = 0; attrs && i < count; ++i) {
    attrs_.push_back(attrs[i]);
    std::string name = attrs[i].name ? attrs[i].name : "";
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    names_.push_back(name);
  }
}

void AppendJsonText(std::string* out, const char* bytes, std::size_t size, bool utf8) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
  std::size_t i = 0;
  while (i < size) {
    unsigned char c = p[i];
    if (c < 0x80) {
      AppendAscii(out, c);
      ++i;
    } else if (!utf8) {
      // Not ASCII: the character with this byte's value.
      out->push_back(static_cast<char>(0xC0 | (c >> 6)));
      out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
      ++i;
    } else {
      std::size_t n = Utf8SequenceLength(p + i, size - i);
      if (n == 0) {
        out->append("\xEF\xBF\xBD");  // U+FFFD
        ++i;
      } else {
        out->append(bytes + i, n);
        i += n;
      }
    }
  }
}

void AppendJsonQuoted(std::string* out, const std::string& text) {
  out->push_back('"');
  AppendJsonText(out, text.data(), text.size(), true);
  out->push_back('"');
}

const char* AttrTypeWord(int type) {
  switch (type) {
    case DCF_ATTR_INT32: return "int32";
    case DCF_ATTR_TEXT: return "text";
    case DCF_ATTR_UTF8: return "utf8";
    case DCF_ATTR_INT64: return "int64";
    default: return "unknown";
  }
}

std::string FormatUtc(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  long long ms = duration_cast<milliseconds>(when.time_since_epoch()).count();
  long long days = ms / 86400000;
  long long rest = ms % 86400000;
  if (rest < 0) {
    rest += 86400000;
    --days;
  }
  // Civil date from days since 1970-01-01 (proleptic Gregorian).
  long long z = days + 719468;
  long long era = (z >= 0 ? z : z - 146096) / 146097;
  long long doe = z - era * 146097;
  long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long y = yoe + era * 400;
  long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  long long mp = (5 * doy + 2) / 153;
  long long d = doy - (153 * mp + 2) / 5 + 1;
  long long m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lldZ", y, m, d,
                rest / 3600000, rest / 60000 % 60, rest / 1000 % 60, rest % 1000);
  return buf;
}

std::string RowJson(const RowHeader& header, const RowLayout& layout, const void* row) {
  const char* bytes = static_cast<const char*>(row);
  std::string out;
  out.reserve(256 + layout.RowSize());
  out.append("{\"record\":\"row\",\"request\":");
  AppendJsonQuoted(&out, header.request);
  out.append(",\"kind\":");
  AppendJsonQuoted(&out, header.kind);
  out.append(",\"table\":");
  AppendJsonQuoted(&out, header.table);
  out.append(",\"time\":");
  AppendJsonQuoted(&out, header.time);
  for (std::size_t i = 0; i < layout.Count(); ++i) {
    const AttributeInfo& a = layout.Attr(i);
    out.push_back(',');
    AppendJsonQuoted(&out, layout.Name(i));
    out.push_back(':');
    unsigned end = static_cast<unsigned>(a.offset) + a.width;
    bool inside = end <= layout.RowSize();
    if (inside && a.type == DCF_ATTR_INT32 && a.width == 4) {
      std::int32_t v;
      std::memcpy(&v, bytes + a.offset, 4);
      AppendNumber(&out, v);
    } else if (inside && a.type == DCF_ATTR_INT64 && a.width == 8) {
      std::int64_t v;
      std::memcpy(&v, bytes + a.offset, 8);
      AppendNumber(&out, static_cast<long long>(v));
    } else if (inside && (a.type == DCF_ATTR_TEXT || a.type == DCF_ATTR_UTF8)) {
      const char* text = bytes + a.offset;
      std::size_t length = TrimmedLength(text, a.width);
      // Some text attributes carry UTF-8 (account names): shown as such.
      bool utf8 = a.type == DCF_ATTR_UTF8 || HoldsUtf8(text, length);
      out.push_back('"');
      AppendJsonText(&out, text, length, utf8);
      out.push_back('"');
    } else {
      out.append("null");
    }
  }
  out.push_back('}');
  return out;
}

std::string TableJson(const std::string& table, const RowLayout& layout) {
  std::string out("{\"record\":\"table\",\"table\":");
  AppendJsonQuoted(&out, table);
  out.append(",\"rowsize\":");
  AppendNumber(&out, layout.RowSize());
  out.append(",\"attributes\":[");
  for (std::size_t i = 0; i < layout.Count(); ++i) {
    const AttributeInfo& a = layout.Attr(i);
    if (i) out.push_back(',');
    out.append("{\"name\":");
    AppendJsonQuoted(&out, layout.Name(i));
    out.append(",\"type\":\"");
    out.append(AttrTypeWord(a.type));
    out.append("\",\"code\":");
    AppendNumber(&out, a.type);
    out.append(",\"width\":");
    AppendNumber(&out, a.width);
    out.append(",\"offset\":");
    AppendNumber(&out, a.offset);
    out.push_back('}');
  }
  out.append("]}");
  return out;
}

}  // namespace cfw
