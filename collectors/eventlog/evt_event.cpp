#include "collectors/eventlog/evt_event.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "framework/ras1.h"
#include "support/hashmap.h"

namespace osm {
namespace evl {
namespace {

const char* const kLogNames[kLogCount] = {"System",           "Security",          "Application",
                                          "DNS Server",       "Directory Service", "File Replication Service"};

// The per-log variables of each family, in the order they are examined; the
// log type each applies to (-1: every log).
struct FamilyVariable {
  int logType;
  const char* throttle;
  const char* duplicate;
};
const FamilyVariable kFamily[] = {
    {-1, "NT_LOG_THROTTLE", "NT_LOG_DUPLICATE"},
    {2, "NT_APPLICATION_LOG_THROTTLE", "NT_APPLICATION_LOG_DUPLICATE"},
    {0, "NT_SYSTEM_LOG_THROTTLE", "NT_SYSTEM_LOG_DUPLICATE"},
    {1, "NT_SECURITY_LOG_THROTTLE", "NT_SECURITY_LOG_DUPLICATE"},
    {3, "NT_DNS_LOG_THROTTLE", "NT_DNS_LOG_DUPLICATE"},
    {4, "NT_DIRSERVICE_LOG_THROTTLE", "NT_DIRSERVICE_LOG_DUPLICATE"},
    {5, "NT_FILEREPSRV_LOG_THROTTLE", "NT_FILEREPSRV_LOG_DUPLICATE"},
};

bool Blank(const char* field, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i)
    if (field[i] != ' ') return false;
  return true;
}

}  // namespace

void ClearEvent(FormattedEvent* e) {
  std::memset(e, 0, sizeof *e);
  SetWideAscii(e->user, kUserWidth, "N/A");
}

std::size_t WideLength(const OsmWChar* text, std::size_t limit) {
  std::size_t n = 0;
  if (text)
    while (n < limit && text[n] != 0) ++n;
  return n;
}

void SetWide(OsmWChar* field, std::size_t width, const OsmWChar* text, std::size_t length) {
  std::size_t n = text ? WideLength(text, length < width ? length : width) : 0;
  if (n) std::memcpy(field, text, n * sizeof(OsmWChar));
  field[n] = 0;
}

void SetWide(OsmWChar* field, std::size_t width, const WText& text) {
  SetWide(field, width, text.c_str(), text.size());
}

void SetWideAscii(OsmWChar* field, std::size_t width, const char* ascii) {
  std::size_t n = 0;
  for (; ascii && ascii[n] && n < width; ++n) field[n] = static_cast<OsmWChar>(static_cast<unsigned char>(ascii[n]));
  field[n] = 0;
}

void SetNarrow(char* field, std::size_t width, const char* text) {
  std::size_t n = 0;
  for (; text && text[n] && n < width; ++n) field[n] = text[n];
  field[n] = 0;
}

WText Widen(const char* ascii) {
  WText w;
  for (; ascii && *ascii; ++ascii) w.push_back(static_cast<OsmWChar>(static_cast<unsigned char>(*ascii)));
  return w;
}

std::string Narrow(const OsmWChar* text, std::size_t limit) {
  std::string s;
  for (std::size_t i = 0; text && i < limit && text[i]; ++i) {
    unsigned c = static_cast<unsigned>(text[i]);
    s.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  }
  return s;
}

const char* LogName(int logType) {
  return logType >= 0 && logType < kLogCount ? kLogNames[logType] : "Unsupported log";
}

int LogTypeOf(const char* name) {
  for (int i = 0; name && i < kLogCount; ++i)
    if (std::strcmp(name, kLogNames[i]) == 0) return i;
  return -1;
}

const char* ClassicTypeText(std::uint16_t eventType) {
  switch (eventType) {
    case 0: return "None";
    case 1: return "Error";
    case 2: return "Warning";
    case 8: return "Success Audit";
    case 16: return "Failure Audit";
    default: return "Information";
  }
}

const char* LevelTypeText(unsigned level) {
  switch (level) {
    case 1: return "Critical";
    case 2: return "Error";
    case 3: return "Warning";
    case 4: return "Information";
    default: return "None";
  }
}

WText HostPart(const OsmWChar* name, std::size_t length) {
  WText w;
  for (std::size_t i = 0; name && i < length && i < kComputerWidth && name[i] && name[i] != '.'; ++i)
    w.push_back(name[i]);
  return w;
}

void FlattenWhitespace(OsmWChar* text) {
  for (; text && *text; ++text)
    if (*text == '\t' || *text == '\n' || *text == '\r') *text = ' ';
}

TimeWindow::TimeWindow() {
  std::memset(start, ' ', sizeof start);
  std::memset(stop, ' ', sizeof stop);
}
bool TimeWindow::HasStart() const { return !Blank(start, kStampWidth); }
bool TimeWindow::HasStop() const { return !Blank(stop, kStampWidth); }

void SetBound(char* bound16, const char* value) {
  std::size_t n = 0;
  for (; value && n < kStampWidth && value[n]; ++n) bound16[n] = value[n];
  for (; n < kStampWidth; ++n) bound16[n] = ' ';
}

WindowPlace PlaceInWindow(const char* stamp16, const TimeWindow& w) {
  if (w.HasStart() && std::memcmp(stamp16, w.start, kStampWidth) < 0) return WindowPlace::kLow;
  if (w.HasStop() && std::memcmp(stamp16, w.stop, kStampWidth) > 0) return WindowPlace::kHigh;
  return WindowPlace::kInside;
}

void WidenWindow(TimeWindow* target, const TimeWindow& other) {
  if (!target->HasStart() || !other.HasStart())
    std::memset(target->start, ' ', kStampWidth);
  else if (std::memcmp(other.start, target->start, kStampWidth) < 0)
    std::memcpy(target->start, other.start, kStampWidth);
  if (!target->HasStop() || !other.HasStop())
    std::memset(target->stop, ' ', kStampWidth);
  else if (std::memcmp(other.stop, target->stop, kStampWidth) > 0)
    std::memcpy(target->stop, other.stop, kStampWidth);
}

int ThresholdFor(const char* logName, Family family, EnvLookup env) {
  int logType = LogTypeOf(logName);
  for (const FamilyVariable& v : kFamily) {
    if (v.logType != -1 && v.logType != logType) continue;
    const char* value = env ? env(family == Family::kThrottle ? v.throttle : v.duplicate) : nullptr;
    if (value == nullptr || value[0] == '0') continue;
    return std::atoi(value);
  }
  return -1;
}

std::string DuplicateKey(const FormattedEvent& e) {
  char key[kDuplicateKeyWidth + 64];
  std::snprintf(key, sizeof key, "%u%s%s%s%s", static_cast<unsigned>(e.eventId),
                Narrow(e.category, kKeyPartWidth).c_str(), Narrow(e.source, kKeyPartWidth).c_str(), e.type,
                Narrow(e.user, kKeyPartWidth).c_str());
  key[kDuplicateKeyWidth] = '\0';
  return key;
}

bool CheckDuplicate(HashMap* map, int threshold, FormattedEvent* e) {
  RAS1_UNIT("EvmEventLog::CheckDuplicate");
  if (map == nullptr) return true;
  std::string key = DuplicateKey(*e);
  FormattedEvent* stored = static_cast<FormattedEvent*>(map->Get(key.c_str()));
  if (stored != nullptr) {
    ++stored->duplicateCount;
    if (threshold >= 2 && stored->duplicateCount >= static_cast<std::uint32_t>(threshold)) {
      // Sent with its count; the key goes with it so that the row finds it.
      e->duplicateCount = stored->duplicateCount;
      SetNarrow(e->duplicateKey, kDuplicateKeyWidth, key.c_str());
      stored->duplicateCount = 0;
      return true;
    }
    RAS1_TRACE(RAS1_DETAIL, "Using hashed display record key: '%s'\n", key.c_str());
    return false;
  }
  SetNarrow(e->duplicateKey, kDuplicateKeyWidth, key.c_str());
  e->duplicateCount = threshold > 1 ? kNoCount : 0;
  FormattedEvent* copy = new (std::nothrow) FormattedEvent(*e);
  char* ownedKey = new (std::nothrow) char[key.size() + 1];
  if (copy == nullptr || ownedKey == nullptr || (std::memcpy(ownedKey, key.c_str(), key.size() + 1),
                                                 !map->Put(ownedKey, copy))) {
    delete copy;
    delete[] ownedKey;
    return true;  // sent, but not remembered
  }
  copy->duplicateCount = 0;
  RAS1_TRACE(RAS1_DETAIL, "Hashing display record key: '%s'\n", key.c_str());
  return true;
}

void ClearDuplicateMap(HashMap* map) {
  if (map == nullptr) return;
  HashMapIterator it(*map);
  while (it.Next()) {
    delete static_cast<FormattedEvent*>(it.Value());
    delete[] it.Key();
  }
  map->Clear();
}

long long RowDuplicateCount(const HashMap* map, int threshold, const FormattedEvent& e) {
  if (map == nullptr || e.duplicateKey[0] == '\0') return 0;
  const FormattedEvent* stored = static_cast<const FormattedEvent*>(map->Get(e.duplicateKey));
  if (stored == nullptr) return 0;
  if (threshold >= 2) return e.duplicateCount == kNoCount ? 0 : e.duplicateCount;
  return stored->duplicateCount;
}

std::vector<WText> SplitFileList(const WText& list) {
  std::vector<WText> parts;
  std::size_t at = 0;
  while (at <= list.size()) {
    std::size_t semi = list.find(static_cast<OsmWChar>(';'), at);
    if (semi == WText::npos) semi = list.size();
    WText part = list.substr(at, semi - at);
    std::size_t a = part.find_first_not_of(static_cast<OsmWChar>(' '));
    if (a != WText::npos) parts.push_back(part.substr(a, part.find_last_not_of(static_cast<OsmWChar>(' ')) - a + 1));
    at = semi + 1;
  }
  return parts;
}

int HighestInsert(const OsmWChar* text) {
  int highest = 0;
  for (std::size_t i = 0; text && text[i]; ++i) {
    if (text[i] != '%') continue;
    OsmWChar next = text[i + 1];
    if (next >= '1' && next <= '9') {
      int n = next - '0';
      ++i;
      if (text[i + 1] >= '0' && text[i + 1] <= '9') n = n * 10 + (text[++i] - '0');
      if (n > highest) highest = n;
    } else if (next != 0) {
      ++i;  // "%%", "%n", "%." and the like name no insert
    }
  }
  return highest;
}

std::string SidKey(const std::uint8_t* sid, std::size_t length) {
  static const char kHex[] = "0123456789abcdef";
  std::string key("S");
  for (std::size_t i = 0; sid && i < length; ++i) {
    key.push_back(kHex[sid[i] >> 4]);
    key.push_back(kHex[sid[i] & 15]);
  }
  return key;
}

WText DefaultDescription(const WText& fileList, const WText& defaultMessage, const std::vector<WText>& strings) {
  WText d = Widen("Not located in ") + fileList + Widen(".  ") + defaultMessage;
  for (std::size_t i = 0; i < strings.size(); ++i) {
    if (i) d += Widen(", ");
    d += strings[i];
  }
  d += Widen(".");
  return d;
}

}  // namespace evl
}  // namespace osm
