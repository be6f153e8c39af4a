#include "collectors/registry/registry_values.h"

#include <cstring>

#include "framework/nlsxlat.h"

namespace osm {
namespace registry {
namespace {

// At most limit bytes of text in code set `from`, as UTF-8 that ends on a
// whole character.
std::string Utf8Within(int from, const void* text, std::size_t length, std::size_t limit) {
  std::string out(limit, '\0');
  std::size_t written = 0;
  if (length) NLS2_TranslateString(from, text, length, NLS2_CS_UTF8, &out[0], limit, &written, nullptr);
  out.resize(written);
  return out;
}

std::uint32_t Unit16(const unsigned char* data, std::size_t i) { return data[2 * i] | (data[2 * i + 1] << 8); }

std::uint64_t LittleEndian(const unsigned char* data, int bytes) {
  std::uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | data[i];
  return v;
}

// UTF-16LE text to its first NUL, within size.
std::string WideText(const unsigned char* data, std::size_t size) {
  std::size_t units = size / 2, n = 0;
  while (n < units && Unit16(data, n) != 0) ++n;
  return Utf8Within(NLS2_CS_UTF16LE, data, n * 2, kTextWidth);
}

// A UTF-16LE list of texts, each ended by a NUL and the list by an empty text;
// every separator becomes a blank. A list cut short by size ends there.
std::string WideList(const unsigned char* data, std::size_t size) {
  std::size_t units = size / 2;
  std::vector<unsigned char> joined;
  joined.reserve(units * 2);
  for (std::size_t n = 0; n < units; ++n) {
    std::uint32_t u = Unit16(data, n);
    if (u == 0 && (n == 0 || Unit16(data, n - 1) == 0)) break;
    joined.push_back(static_cast<unsigned char>(u == 0 ? ' ' : u & 0xFF));
    joined.push_back(static_cast<unsigned char>(u >> 8));
  }
  return Utf8Within(NLS2_CS_UTF16LE, joined.data(), joined.size(), kTextWidth);
}

std::string Hex(const unsigned char* data, std::size_t size) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < size && out.size() + 2 <= kTextWidth; ++i) {
    out.push_back(kDigits[data[i] >> 4]);
    out.push_back(kDigits[data[i] & 0xF]);
  }
  return out;
}

std::string TrimRight(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

bool Traced(RAS1_EPB* unit, unsigned level) { return unit && (RAS1_Mask(unit) & level); }

}  // namespace

Monitor BuildMonitor(const std::vector<FilterInfo>& entries, RAS1_EPB* unit) {
  Monitor m;
  for (const FilterInfo& e : entries) {
    if (e.colName == nullptr) continue;
    const char* text = e.text ? e.text : "";
    if (Traced(unit, RAS1_DETAIL)) RAS1_Printf(unit, __LINE__, "Filter column: <%s> :: value <%s>", e.colName, text);
    if (std::strcmp(e.colName, "ROOTKEY") == 0 && e.value && e.valLen >= 4) {
      std::memcpy(&m.rootKey, e.value, 4);
      if (Traced(unit, RAS1_DETAIL)) RAS1_Printf(unit, __LINE__, "ROOTKEY <%d>", static_cast<int>(m.rootKey));
    } else if (std::strcmp(e.colName, "PATHNAME") == 0) {
      m.path = TrimRight(Utf8Within(NLS2_CS_UTF8, text, std::strlen(text), kPathWidth));
      std::size_t cut = m.path.rfind('\\');
      m.keyPath = cut == std::string::npos ? std::string() : m.path.substr(0, cut);
      m.valueName = cut == std::string::npos ? m.path : m.path.substr(cut + 1);
      if (Traced(unit, RAS1_DETAIL)) {
        RAS1_Printf(unit, __LINE__, "Path  <%s>", m.keyPath.c_str());
        RAS1_Printf(unit, __LINE__, "Value <%s>", m.valueName.c_str());
      }
    }
  }
  return m;
}

std::uint32_t RootKeyHandle(std::int32_t number) {
  switch (number) {
    case 0: case 1: case 2: case 3: case 4: case 5: case 6:
      return 0x80000000u + static_cast<std::uint32_t>(number);
    case 80:  // performance text
      return 0x80000050u;
    case 96:  // performance national-language text
      return 0x80000060u;
    default:
      return 0;
  }
}

bool IsPerformanceRoot(std::int32_t number) { return number == 4 || number == 80 || number == 96; }

std::string RowPath(const Monitor& m) {
  bool underKey = !m.keyPath.empty() || m.path.find('\\') != std::string::npos;
  std::string joined = underKey ? m.keyPath + "\\" + m.valueName : m.valueName;
  return Utf8Within(NLS2_CS_UTF8, joined.data(), joined.size(), kPathWidth);
}

ConvertedValue ConvertValue(std::uint32_t type, const unsigned char* data, std::size_t size) {
  ConvertedValue v;
  if (data == nullptr) size = 0;
  switch (type) {
    case kString:
    case kExpandString:
      v.text = WideText(data, size);
      break;
    case kMultiString:
      v.text = WideList(data, size);
      break;
    case kBinary:
      v.text = Hex(data, size);
      break;
    case kDword:
    case kDwordBigEndian:
      if (size < 4) {
        v.handled = false;
      } else {
        std::uint32_t u = static_cast<std::uint32_t>(LittleEndian(data, 4));
        if (type == kDwordBigEndian)
          u = (u >> 24) | ((u >> 8) & 0xFF00u) | ((u << 8) & 0xFF0000u) | (u << 24);
        v.number = static_cast<std::int32_t>(u);
      }
      break;
    case kQword:
      if (size < 8) {
        v.handled = false;
      } else {
        v.quad = LittleEndian(data, 8);
        v.saturated = v.quad > 2147483647u;
        v.number = v.saturated ? 2147483647 : static_cast<std::int32_t>(v.quad);
      }
      break;
    default:
      v.handled = false;
  }
  return v;
}

inventory::RowRecord MakeRow(const Monitor& m, std::uint32_t type, const ConvertedValue& value,
                             std::int32_t sampleNo, std::int32_t rowNo) {
  inventory::RowRecord row("WTREGISTRY");
  row.Stamp()
      .Int32("SAMPLENO", sampleNo)
      .Int32("ROWNO", rowNo)
      .Int32("ROOTKEY", m.rootKey)
      .Text("PATHNAME", RowPath(m))
      .Int32("TYPE", static_cast<std::int32_t>(type))
      .Text("STRVALUE", value.text)
      .Int32("NUMVALUE", value.number);
  return row;
}

}  // namespace registry
}  // namespace osm
