#include "collectors/perf/processor_values.h"

#include <cstring>
#include <string>

#include "collectors/perf/perf_values.h"

namespace osm {
namespace perf {

namespace {

struct ProcessorFields {
  RowField name, priv, proc, user, intRate, intTime;
  ProcessorFields() {
    const TableDef& t = *FindTable("NTPROCSSR");
    name = FieldOf(t, "INSTCNAME");
    priv = FieldOf(t, "PRIVTIME");
    proc = FieldOf(t, "PROCTIME");
    user = FieldOf(t, "USERTIME");
    intRate = FieldOf(t, "INTERTIME");
    intTime = FieldOf(t, "INTERRTIME");
  }
};

// One processor group of the summary: TOP... or LOW...
struct GroupFields {
  RowField name, proc, priv, user, intTime, intRate;
  GroupFields(const TableDef& t, const char* prefix) {
    std::string p(prefix);
    name = FieldOf(t, (p + "CPUNAME").c_str());
    proc = FieldOf(t, (p + "CPUTIME").c_str());
    priv = FieldOf(t, (p + "PRITIME").c_str());
    user = FieldOf(t, (p + "USRTIME").c_str());
    intTime = FieldOf(t, (p + "INTTIME").c_str());
    intRate = FieldOf(t, (p + "INTSEC").c_str());
  }
};

struct SummaryFields {
  GroupFields top, low;
  RowField procDiff, privDiff, userDiff, intDiff, procName, procId, procCpu, procAvg;
  SummaryFields() : top(*FindTable("NTPROCRSUM"), "TOP"), low(*FindTable("NTPROCRSUM"), "LOW") {
    const TableDef& t = *FindTable("NTPROCRSUM");
    procDiff = FieldOf(t, "PROCDIFF");
    privDiff = FieldOf(t, "PRIVDIFF");
    userDiff = FieldOf(t, "USERDIFF");
    intDiff = FieldOf(t, "INRUPTDIFF");
    procName = FieldOf(t, "TOPPROCNAM");
    procId = FieldOf(t, "TOPPROCID");
    procCpu = FieldOf(t, "TOPPROCCPU");
    procAvg = FieldOf(t, "TOPPROCAVG");
  }
};

struct ProcessFields {
  RowField name, id, cpu;
  ProcessFields() {
    const TableDef& t = *FindTable("WTPROCESS");
    name = FieldOf(t, "INSTCNAME");
    id = FieldOf(t, "IDPROCESS");
    cpu = FieldOf(t, "PCTPRCSTME");
  }
};

const ProcessorFields& Cpu() {
  static const ProcessorFields f;
  return f;
}
const SummaryFields& Sum() {
  static const SummaryFields f;
  return f;
}

void CopyText(char* to, RowField target, const char* from, RowField source) {
  std::size_t n = target.width < source.width ? target.width : source.width;
  std::memcpy(to + target.offset, from + source.offset, n);
}

void CopyGroup(char* summary, const GroupFields& g, const char* cpu) {
  const ProcessorFields& c = Cpu();
  CopyText(summary, g.name, cpu, c.name);
  SetInt32(summary, g.proc, GetInt32(cpu, c.proc));
  SetInt32(summary, g.priv, GetInt32(cpu, c.priv));
  SetInt32(summary, g.user, GetInt32(cpu, c.user));
  SetInt32(summary, g.intTime, GetInt32(cpu, c.intTime));
  SetInt32(summary, g.intRate, GetInt32(cpu, c.intRate));
}

void SetDifference(char* row, RowField target, RowField a, RowField b) {
  SetInt32(row, target, SaturateInt32(static_cast<std::int64_t>(GetInt32(row, a)) - GetInt32(row, b)));
}

}  // namespace

bool CorrectProcessorRow(char* row, std::int32_t* delivered) {
  const ProcessorFields& f = Cpu();
  std::int32_t p = GetInt32(row, f.proc);
  if (delivered) *delivered = p;
  bool corrected = false;
  std::int32_t fixed = CorrectedProcessorTime(p, GetInt32(row, f.priv), GetInt32(row, f.user), &corrected);
  if (corrected) SetInt32(row, f.proc, fixed);
  return corrected;
}

std::int32_t ProcessorCountOf(const char* systemRows, std::size_t count, std::size_t rowSize) {
  static const RowField cpus = FieldOf("WTSYSTEM", "NUMOFPRCSR");
  if (systemRows == nullptr || count == 0 || rowSize < static_cast<std::size_t>(cpus.offset) + cpus.width) return 0;
  return GetInt32(systemRows, cpus);
}

ProcessorSummary::ProcessorSummary(char* row) : row_(row) {}

void ProcessorSummary::AddProcessor(const char* cpu) {
  const ProcessorFields& c = Cpu();
  const SummaryFields& s = Sum();
  if (IsTotalInstance(cpu + c.name.offset, c.name.width)) return;
  if (!haveProcessor_) {
    haveProcessor_ = true;
    CopyGroup(row_, s.top, cpu);
    CopyGroup(row_, s.low, cpu);
    return;
  }
  std::int32_t proc = GetInt32(cpu, c.proc), rate = GetInt32(cpu, c.intRate);
  std::int32_t top = GetInt32(row_, s.top.proc), low = GetInt32(row_, s.low.proc);
  if (top < proc || (top == proc && GetInt32(row_, s.top.intRate) < rate)) CopyGroup(row_, s.top, cpu);
  if (low > proc || (low == proc && GetInt32(row_, s.low.intRate) > rate)) CopyGroup(row_, s.low, cpu);
}

void ProcessorSummary::AddProcess(const char* process, std::int32_t processors) {
  static const ProcessFields p;
  const SummaryFields& s = Sum();
  if (IsTotalInstance(process + p.name.offset, p.name.width)) return;
  std::int32_t cpu = GetInt32(process, p.cpu);
  if (haveProcess_ && GetInt32(row_, s.procCpu) >= cpu) return;  // ties keep the earlier process
  haveProcess_ = true;
  CopyText(row_, s.procName, process, p.name);
  SetInt32(row_, s.procId, GetInt32(process, p.id));
  SetInt32(row_, s.procCpu, cpu);
  SetInt32(row_, s.procAvg, cpu / (processors > 0 ? processors : 1));
}

void ProcessorSummary::Finish() {
  const SummaryFields& s = Sum();
  SetDifference(row_, s.procDiff, s.top.proc, s.low.proc);
  SetDifference(row_, s.privDiff, s.top.priv, s.low.priv);
  SetDifference(row_, s.userDiff, s.top.user, s.low.user);
  SetDifference(row_, s.intDiff, s.top.intTime, s.low.intTime);
}

}  // namespace perf
}  // namespace osm
