#include "collectors/perf/process_values.h"

#include <cstring>
#include <map>
#include <vector>

#include "collectors/perf/perf_values.h"

namespace osm {
namespace perf {

namespace {

const OsmWChar kNotAvailable[] = {'N', '/', 'A', 0};
const OsmWChar kEmpty[] = {0};

// The process fields of one table, found once per sample.
struct ProcessFields {
  RowField name, id, processorTime, average, userId, binPath, count;
  explicit ProcessFields(const TableDef& t, const char* idName = "IDPROCESS")
      : name(FieldOf(t, "INSTCNAME")),
        id(FieldOf(t, idName)),
        processorTime(FieldOf(t, "PCTPRCSTME")),
        average(FieldOf(t, "AVGPCTPROC")),
        userId(FieldOf(t, "USERID")),
        binPath(FieldOf(t, "BINPATH")),
        count(FieldOf(t, "PROCCOUNT")) {}
};

char* At(char* row, RowField f) { return row + f.offset; }

// The rows that stand for no ordinary process; "_Total" carries id 0 anyway.
bool IsSystemRow(char* row, const ProcessFields& f) {
  return IsSystemProcessId(static_cast<std::uint32_t>(GetInt32(row, f.id))) ||
         (f.name.valid() && IsTotalInstance(At(row, f.name), f.name.width));
}

}  // namespace

AccountNameCache::~AccountNameCache() {
  const Entry* e = head_.load(std::memory_order_acquire);
  while (e) {
    const Entry* next = e->next;
    delete e;
    e = next;
  }
}

const OsmWChar* AccountNameCache::Find(const void* sid, std::size_t length) const {
  for (const Entry* e = head_.load(std::memory_order_acquire); e; e = e->next)
    if (e->sid.size() == length && std::memcmp(e->sid.data(), sid, length) == 0) return e->name.c_str();
  return nullptr;
}

const OsmWChar* AccountNameCache::Insert(const void* sid, std::size_t length, const WideText& name) {
  std::lock_guard<std::mutex> guard(insertLock_);
  // Another request may have added it since the caller looked.
  if (const OsmWChar* cached = Find(sid, length)) return cached;
  Entry* e = new Entry{std::string(static_cast<const char*>(sid), length), name, head_.load(std::memory_order_relaxed)};
  head_.store(e, std::memory_order_release);
  return e->name.c_str();
}

WideText AccountDisplayName(const WideText& domain, const WideText& name) {
  if (domain.empty()) return name;
  WideText out = domain;
  out.push_back('\\');
  return out + name;
}

std::int32_t AverageProcessorPercent(std::int32_t processorPercent, int processors) {
  if (processors < 1) processors = 1;
  return RoundHalfUp(static_cast<float>(processorPercent) / static_cast<float>(processors));
}

std::string ExecutableKey(const char* field, std::size_t width) {
  std::size_t n = 0;
  while (n < width && field[n] != '\0') ++n;
  while (n > 0 && field[n - 1] == ' ') --n;
  std::string key(field, n);
  // ASCII letters only: the path is UTF-8, whose other bytes must stay.
  for (char& c : key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return key;
}

void CompleteProcessRows(const TableDef& table, char* rows, std::size_t count, std::size_t rowSize, int processors,
                         ProcessFacts& facts, PathlessBinPath pathless, RAS1_EPB* unit) {
  const ProcessFields f(table);
  if (!rows || rowSize < table.rowSize || !f.id.valid() || !f.userId.valid() || !f.binPath.valid()) return;
  std::vector<std::string> keys(count);
  std::map<std::string, std::int32_t> counts;  // executables of this sample only
  WideText text;
  for (std::size_t i = 0; i < count; ++i) {
    char* row = rows + i * rowSize;
    SetInt32(row, f.average, AverageProcessorPercent(GetInt32(row, f.processorTime), processors));
    if (IsSystemRow(row, f)) {
      std::memset(At(row, f.userId), ' ', f.userId.width);
      std::memset(At(row, f.binPath), ' ', f.binPath.width);
      SetInt32(row, f.count, 0);
      continue;
    }
    std::uint32_t pid = static_cast<std::uint32_t>(GetInt32(row, f.id));
    text.clear();
    WideToUtf8Field(At(row, f.userId), facts.Owner(pid, &text) ? text.c_str() : kNotAvailable, f.userId.width);
    text.clear();
    bool havePath = facts.ImagePath(pid, &text);
    if (pathless == PathlessBinPath::kZeroFilled) {
      std::memset(At(row, f.binPath), 0, f.binPath.width);
      if (havePath) WideToUtf8Field(At(row, f.binPath), text.c_str(), f.binPath.width);
    } else {
      WideToUtf8Field(At(row, f.binPath), havePath ? text.c_str() : kEmpty, f.binPath.width);
    }
    keys[i] = ExecutableKey(At(row, f.binPath), f.binPath.width);
    ++counts[keys[i]];
  }
  bool detail = unit && (RAS1_Mask(unit) & RAS1_DETAIL);
  for (std::size_t i = 0; i < count; ++i) {
    char* row = rows + i * rowSize;
    if (IsSystemRow(row, f)) continue;
    std::int32_t n = counts[keys[i]];
    SetInt32(row, f.count, n);
    if (detail) RAS1_Printf(unit, __LINE__, "proccount for %s = %d\n", keys[i].c_str(), n);
  }
}

void CompleteProcessIoRows(const TableDef& table, char* rows, std::size_t count, std::size_t rowSize,
                           ProcessFacts& facts) {
  const ProcessFields f(table, "PRCSIOID");
  if (!rows || rowSize < table.rowSize || !f.id.valid() || !f.binPath.valid()) return;
  WideText path;
  for (std::size_t i = 0; i < count; ++i) {
    char* row = rows + i * rowSize;
    std::memset(At(row, f.binPath), 0, f.binPath.width);
    path.clear();
    if (!IsSystemRow(row, f) && facts.ImagePath(static_cast<std::uint32_t>(GetInt32(row, f.id)), &path))
      WideToUtf8Field(At(row, f.binPath), path.c_str(), f.binPath.width);
  }
}

}  // namespace perf
}  // namespace osm
