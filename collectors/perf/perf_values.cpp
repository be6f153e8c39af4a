#include "collectors/perf/perf_values.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace osm {
namespace perf {

namespace {

const std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();
const std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();

// The memory figures of one table's row record, found once.
struct WtMemoryFields {
  RowField totWsBytes, totWsKByte, totWsPct, cachePct, availPct, memUPct, comAvlKByt, totMemByte, totMemKb,
      totMemMb, cacheKb, availKb, commKByte, commitLKb;
  // The memory attributes share their names in both memory tables.
  explicit WtMemoryFields(const char* table = "WTMEMORY") {
    const TableDef& t = *FindTable(table);
    totWsBytes = FieldOf(t, "TOTWSBYTES");
    totWsKByte = FieldOf(t, "TOTWSKBYTE");
    totWsPct = FieldOf(t, "TOTWSPCT");
    cachePct = FieldOf(t, "CACHEPCT");
    availPct = FieldOf(t, "AVAILPCT");
    memUPct = FieldOf(t, "MEMUPCT");
    comAvlKByt = FieldOf(t, "COMAVLKBYT");
    totMemByte = FieldOf(t, "TOTMEMBYTE");
    totMemKb = FieldOf(t, "TOTMEMKB");
    totMemMb = FieldOf(t, "TOTMEMMB");
    cacheKb = FieldOf(t, "CACHEKB");
    availKb = FieldOf(t, "AVAILKB");
    commKByte = FieldOf(t, "COMMKBYTE");
    commitLKb = FieldOf(t, "COMMITLKB");
  }
};

struct NtMemoryFields : WtMemoryFields {
  RowField commLimit, commByte, cacheBts, cacheBtsPk, cacheKbPk, plPgByts, plPgKByts, plNpgByts, plNpgKByts;
  NtMemoryFields() : WtMemoryFields("NTMEMORY") {
    const TableDef& t = *FindTable("NTMEMORY");
    commLimit = FieldOf(t, "COMMLIMIT");
    commByte = FieldOf(t, "COMMBYTE");
    cacheBts = FieldOf(t, "CACHEBTS");
    cacheBtsPk = FieldOf(t, "CACHEBTSPK");
    cacheKbPk = FieldOf(t, "CACHEKBPK");
    plPgByts = FieldOf(t, "PLPGBYTS");
    plPgKByts = FieldOf(t, "PLPGKBYTS");
    plNpgByts = FieldOf(t, "PLNPGBYTS");
    plNpgKByts = FieldOf(t, "PLNPGKBYTS");
  }
};

struct WtSystemFields {
  RowField privT, procT, userT, intSec, totMemMb, pageFileMb, upTime, upDays, queue, cpus, queueEx, netAddr6;
  WtSystemFields() {
    const TableDef& t = *FindTable("WTSYSTEM");
    privT = FieldOf(t, "PCTTLPRIVT");
    procT = FieldOf(t, "PCTTLPCSRT");
    userT = FieldOf(t, "PCTTLUSERT");
    intSec = FieldOf(t, "TTLINTSEC");
    totMemMb = FieldOf(t, "TOTMEMMB");
    pageFileMb = FieldOf(t, "PAGEFILEMB");
    upTime = FieldOf(t, "SYSUPTIME");
    upDays = FieldOf(t, "SYSUPDAYS");
    queue = FieldOf(t, "PRCQUELNG");
    cpus = FieldOf(t, "NUMOFPRCSR");
    queueEx = FieldOf(t, "PRCQEX");
    netAddr6 = FieldOf(t, "NETADDR6");
  }
};

// A percentage of the physical memory T: kilobytes x 1024 x 100 / T.
std::int32_t PercentOfMemory(std::int64_t kilobytes, std::uint64_t total) {
  return RoundHalfUp(static_cast<float>(kilobytes) * 1024.0f * 100.0f / static_cast<float>(total));
}

}  // namespace

RowField FieldOf(const TableDef& table, const char* name) {
  RowField f;
  for (std::uint32_t i = 0; i < table.attrCount; ++i) {
    if (std::strcmp(table.attrs[i].name, name) == 0) {
      f.offset = table.attrs[i].offset;
      f.width = table.attrs[i].width;
      f.type = table.attrs[i].type;
      break;
    }
  }
  return f;
}

RowField FieldOf(const char* table, const char* name) {
  const TableDef* t = FindTable(table);
  return t ? FieldOf(*t, name) : RowField();
}

std::int32_t GetInt32(const char* row, RowField field) {
  if (field.width < 4) return 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(row) + field.offset;
  std::uint32_t v = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                    static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
  return static_cast<std::int32_t>(v);
}

std::int64_t GetInt64(const char* row, RowField field) {
  if (field.width < 8) return GetInt32(row, field);
  const unsigned char* p = reinterpret_cast<const unsigned char*>(row) + field.offset;
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  return static_cast<std::int64_t>(v);
}

void SetInt32(char* row, RowField field, std::int32_t value) {
  if (field.width < 4) return;
  std::uint32_t v = static_cast<std::uint32_t>(value);
  unsigned char* p = reinterpret_cast<unsigned char*>(row) + field.offset;
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

void SetInt64(char* row, RowField field, std::int64_t value) {
  if (field.width < 8) {
    SetInt32(row, field, SaturateInt32(value));
    return;
  }
  std::uint64_t v = static_cast<std::uint64_t>(value);
  unsigned char* p = reinterpret_cast<unsigned char*>(row) + field.offset;
  for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

bool IsTotalInstance(const char* nameField, std::size_t width) {
  return nameField && width >= 6 && std::memcmp(nameField, "_Total", 6) == 0;
}

std::int32_t RoundHalfUp(float value) {
  if (std::isnan(value)) return -1;
  float r = value + 0.5f;
  if (r >= 2147483647.0f) return static_cast<std::int32_t>(kInt32Max);
  if (r <= -2147483648.0f) return static_cast<std::int32_t>(kInt32Min);
  return static_cast<std::int32_t>(r);  // truncates toward zero
}

std::int32_t SaturateInt32(std::int64_t value) {
  if (value > kInt32Max) return static_cast<std::int32_t>(kInt32Max);
  if (value < kInt32Min) return static_cast<std::int32_t>(kInt32Min);
  return static_cast<std::int32_t>(value);
}

std::uint64_t DivideRoundHalfUp(std::uint64_t value, std::uint64_t divisor) {
  if (divisor == 0) return 0;
  std::uint64_t q = value / divisor, r = value % divisor;
  return r >= divisor - divisor / 2 ? q + 1 : q;  // r >= divisor / 2, rounded up for odd divisors
}

std::int32_t CorrectedProcessorTime(std::int32_t processorTime, std::int32_t privilegedTime,
                                    std::int32_t userTime, bool* corrected) {
  bool fix = processorTime > 100 || processorTime < 0;
  if (corrected) *corrected = fix;
  if (!fix) return processorTime;
  std::int64_t sum = static_cast<std::int64_t>(privilegedTime) + userTime;
  return sum > 100 ? 100 : static_cast<std::int32_t>(sum);
}

void CopyTextField(char* field, std::size_t width, const std::string& text) {
  if (!field || width == 0) return;
  std::memset(field, ' ', width);
  std::size_t n = text.find('\0');
  if (n == std::string::npos) n = text.size();
  if (n <= width) {
    std::memcpy(field, text.data(), n);
  } else if (width < 4) {
    std::memcpy(field, text.data(), width);
  } else {
    std::memcpy(field, text.data(), width - 3);
    std::memcpy(field + width - 3, "...", 3);
  }
}

std::string ProgressLine(ProgressForm form, const std::string& agentClass, ProgressOp op) {
  const char* name = op == ProgressOp::kConstructor ? "TakeSampleConstructor"
                     : op == ProgressOp::kTakeSample ? "TakeSample"
                                                     : "TakeSampleDestructor";
  const char* tail = "()  invoked";
  switch (form) {
    case ProgressForm::kStandard:
    case ProgressForm::kStandardOut:
    case ProgressForm::kStandardDetail:
      break;
    case ProgressForm::kLogicalDisk:
      if (op == ProgressOp::kTakeSample) tail = "() invoked";
      break;
    case ProgressForm::kDotted:
      tail = "() invoked.";
      break;
    case ProgressForm::kSpaced2:
      tail = " ()  invoked";
      break;
    case ProgressForm::kSpaced3:
      tail = " ()   invoked";
      break;
    case ProgressForm::kSpaced4:
      tail = " ()    invoked";
      break;
  }
  return agentClass + "::" + name + tail;
}

ProgressSink ProgressDestination(ProgressForm form, ProgressOp op) {
  switch (form) {
    case ProgressForm::kDotted:
      return ProgressSink::kStdout;
    case ProgressForm::kStandardOut:
    case ProgressForm::kLogicalDisk:
      return op == ProgressOp::kTakeSample ? ProgressSink::kStdout : ProgressSink::kStderr;
    case ProgressForm::kStandardDetail:
      return op == ProgressOp::kTakeSample ? ProgressSink::kDetailTrace : ProgressSink::kStderr;
    default:
      return ProgressSink::kStderr;
  }
}

int CountLogicalProcessors(const unsigned char* bytes, std::size_t length, int* cores) {
  int logical = 0, coreCount = 0;
  for (std::size_t at = 0; bytes && at + kLogicalProcessorEntrySize <= length; at += kLogicalProcessorEntrySize) {
    const unsigned char* e = bytes + at;
    std::uint32_t relationship = static_cast<std::uint32_t>(e[8]) | static_cast<std::uint32_t>(e[9]) << 8 |
                                 static_cast<std::uint32_t>(e[10]) << 16 | static_cast<std::uint32_t>(e[11]) << 24;
    if (relationship != 0) continue;
    ++coreCount;
    for (int i = 0; i < 8; ++i)
      for (unsigned char b = e[i]; b; b = static_cast<unsigned char>(b & (b - 1))) ++logical;
  }
  if (cores) *cores = coreCount;
  return logical;
}

const char* OsTypeName(int major, int minor, int productType) {
  if (major == 4) return "Windows_NT";
  if (major == 5 && minor == 0) return "Windows_2000";
  if (major == 5 && minor == 1) return "Windows_XP";
  if (major == 5 && minor == 2) return "Windows_Svr_2003";
  if (major == 6 && minor == 0) return productType == 2 || productType == 3 ? "Windows_2008" : "Windows_Vista";
  if (major == 6 && minor == 1) return productType == 1 ? "Windows_7" : "Windows_2008_R2";
  return nullptr;
}

WorkingSetTotal FindWorkingSetTotal(const TableDef& processTable, const char* rows, std::size_t count,
                                    std::size_t rowSize) {
  WorkingSetTotal total;
  RowField name = FieldOf(processTable, "INSTCNAME");
  RowField bytes = FieldOf(processTable, "WRKINGSET");
  RowField kbytes = FieldOf(processTable, "WRKSTKBYTE");
  if (!name.valid() || !bytes.valid() || rowSize < processTable.rowSize) return total;
  for (std::size_t i = 0; rows && i < count; ++i) {
    const char* row = rows + i * rowSize;
    if (!IsTotalInstance(row + name.offset, name.width)) continue;
    total.found = true;
    total.bytes = GetInt64(row, bytes);  // a 32-bit field widens
    // The 64-bit table has no kilobyte column: derive it, truncating.
    total.kbytes = kbytes.valid() ? GetInt64(row, kbytes) : total.bytes / 1024;
    break;
  }
  return total;
}

ProcessorTotal FindProcessorTotal(const TableDef& processorTable, const char* rows, std::size_t count,
                                  std::size_t rowSize) {
  ProcessorTotal total;
  RowField name = FieldOf(processorTable, "INSTCNAME");
  RowField priv = FieldOf(processorTable, "PRIVTIME");
  RowField proc = FieldOf(processorTable, "PROCTIME");
  RowField user = FieldOf(processorTable, "USERTIME");
  RowField ints = FieldOf(processorTable, "INTERTIME");
  if (!name.valid() || rowSize < processorTable.rowSize) return total;
  for (std::size_t i = 0; rows && i < count; ++i) {
    const char* row = rows + i * rowSize;
    if (!IsTotalInstance(row + name.offset, name.width)) continue;
    total.found = true;  // every "_Total" row is copied: the last one stays
    total.privileged = GetInt32(row, priv);
    total.processor = GetInt32(row, proc);
    total.user = GetInt32(row, user);
    total.interrupts = GetInt32(row, ints);
  }
  return total;
}

bool CompleteWtMemoryRow(char* row, const MemoryStatus& memory, const WorkingSetTotal& workingSet) {
  static const WtMemoryFields f;
  SetInt32(row, f.totWsBytes, -1);
  SetInt32(row, f.totWsKByte, -1);
  if (workingSet.found) {
    SetInt32(row, f.totWsBytes, SaturateInt32(workingSet.bytes));
    SetInt32(row, f.totWsKByte, SaturateInt32(workingSet.kbytes));
  }
  bool ok = memory.ok && memory.totalPhys != 0;
  if (!ok) {
    for (RowField x : {f.totMemByte, f.totMemKb, f.totMemMb, f.totWsPct, f.cachePct, f.availPct, f.memUPct})
      SetInt32(row, x, -1);
  } else {
    std::uint64_t t = memory.totalPhys;
    SetInt32(row, f.totMemByte, t > 2147483647u ? 2147483647 : static_cast<std::int32_t>(t));
    // Whole kilobytes and megabytes of T, saturated: 2 TiB and more do not
    // fit the 32-bit kilobyte field.
    SetInt32(row, f.totMemKb, SaturateInt32(static_cast<std::int64_t>(DivideRoundHalfUp(t, 1024))));
    SetInt32(row, f.totMemMb, SaturateInt32(static_cast<std::int64_t>(DivideRoundHalfUp(t, 1048576))));
    SetInt32(row, f.cachePct, PercentOfMemory(GetInt32(row, f.cacheKb), t));
    SetInt32(row, f.availPct, PercentOfMemory(GetInt32(row, f.availKb), t));
    SetInt32(row, f.memUPct, PercentOfMemory(GetInt32(row, f.commKByte), t));
    std::int32_t wsKb = GetInt32(row, f.totWsKByte);
    SetInt32(row, f.totWsPct, wsKb != -1 ? PercentOfMemory(wsKb, t) : -1);
  }
  SetInt32(row, f.comAvlKByt,
           SaturateInt32(static_cast<std::int64_t>(GetInt32(row, f.commitLKb)) - GetInt32(row, f.commKByte)));
  return ok;
}

bool CompleteNtMemoryRow(char* row, const MemoryStatus& memory, const WorkingSetTotal& workingSet) {
  static const NtMemoryFields f;
  SetInt64(row, f.totWsBytes, -1);
  SetInt64(row, f.totWsKByte, -1);
  SetInt64(row, f.commitLKb, GetInt64(row, f.commLimit) / 1024);
  SetInt64(row, f.commKByte, GetInt64(row, f.commByte) / 1024);
  SetInt64(row, f.cacheKb, GetInt64(row, f.cacheBts) / 1024);
  SetInt64(row, f.cacheKbPk, GetInt64(row, f.cacheBtsPk) / 1024);
  SetInt64(row, f.plPgKByts, GetInt64(row, f.plPgByts) / 1024);
  SetInt64(row, f.plNpgKByts, GetInt64(row, f.plNpgByts) / 1024);
  if (workingSet.found) {
    SetInt64(row, f.totWsBytes, workingSet.bytes);
    SetInt64(row, f.totWsKByte, workingSet.bytes / 1024);
  }
  bool ok = memory.ok && memory.totalPhys != 0;
  if (!ok) {
    SetInt64(row, f.totMemByte, -1);
    SetInt64(row, f.totMemKb, -1);
    for (RowField x : {f.totMemMb, f.cachePct, f.availPct, f.memUPct, f.totWsPct}) SetInt32(row, x, -1);
  } else {
    std::uint64_t t = memory.totalPhys;
    const std::uint64_t kMax64 = 0x7FFFFFFFFFFFFFFFull;
    SetInt64(row, f.totMemByte, static_cast<std::int64_t>(t > kMax64 ? kMax64 : t));
    SetInt64(row, f.totMemKb, static_cast<std::int64_t>(DivideRoundHalfUp(t, 1024)));
    SetInt32(row, f.totMemMb, SaturateInt32(static_cast<std::int64_t>(DivideRoundHalfUp(t, 1048576))));
    SetInt32(row, f.cachePct, PercentOfMemory(GetInt64(row, f.cacheKb), t));
    SetInt32(row, f.availPct, PercentOfMemory(GetInt64(row, f.availKb), t));
    SetInt32(row, f.memUPct, PercentOfMemory(GetInt64(row, f.commKByte), t));
    std::int64_t wsKb = GetInt64(row, f.totWsKByte);
    SetInt32(row, f.totWsPct, wsKb != -1 ? PercentOfMemory(wsKb, t) : -1);
  }
  SetInt64(row, f.comAvlKByt, GetInt64(row, f.commitLKb) - GetInt64(row, f.commKByte));
  return ok;
}

void CompleteWtSystemRow(char* row, const ProcessorTotal& processors, const MemoryStatus& memory,
                         const std::string& netAddr6, bool* corrected) {
  static const WtSystemFields f;
  if (corrected) *corrected = false;
  if (processors.found) {
    SetInt32(row, f.privT, processors.privileged);
    SetInt32(row, f.userT, processors.user);
    SetInt32(row, f.intSec, processors.interrupts);
    SetInt32(row, f.procT,
             CorrectedProcessorTime(processors.processor, processors.privileged, processors.user, corrected));
  }
  if (memory.ok) {
    std::uint64_t used = memory.totalPageFile > memory.availPageFile ? memory.totalPageFile - memory.availPageFile : 0;
    SetInt32(row, f.pageFileMb, SaturateInt32(static_cast<std::int64_t>(DivideRoundHalfUp(used, 1048576))));
    SetInt32(row, f.totMemMb,
             SaturateInt32(static_cast<std::int64_t>(DivideRoundHalfUp(memory.totalPhys, 1048576))));
  } else {
    SetInt32(row, f.totMemMb, -1);
    SetInt32(row, f.pageFileMb, -1);
  }
  SetInt32(row, f.upDays, GetInt32(row, f.upTime) / 60 / 60 / 24);
  std::int32_t queue = GetInt32(row, f.queue), cpus = GetInt32(row, f.cpus);
  SetInt32(row, f.queueEx, queue > cpus ? SaturateInt32(static_cast<std::int64_t>(queue) - cpus) : 0);
  CopyTextField(row + f.netAddr6.offset, f.netAddr6.width, netAddr6);
}

}  // namespace perf
}  // namespace osm
