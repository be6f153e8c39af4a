#include "collectors/watchdog/wdg_rows.h"

#include <cstring>
#include <ctime>

#include "collectors/perf/perf_values.h"
#include "support/fields.h"

namespace osm {
namespace wdg {
namespace {

using perf::FieldOf;
using perf::RowField;

struct Pair {
  int from, to;
};
const Pair kAgentTypes[] = {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}, {7, 7}};
const Pair kManageTypes[] = {{0, 1}, {1, 2}, {2, 3}, {3, 4}};
const Pair kMemoryUnits[] = {{10, 1}, {20, 2}, {30, 3}};
const Pair kAlertMessages[] = {{1, 1}, {6, 6}, {8, 4}, {11, 9}, {12, 5}, {16, 7}, {17, 8}};
const int kManagedStateAlert = 14;

template <std::size_t N>
int Map(const Pair (&pairs)[N], int value) {
  for (const Pair& p : pairs)
    if (p.from == value) return p.to;
  return 0;
}

int OneToSeven(int value) { return value >= 1 && value <= 7 ? value : 0; }

// Blanks for texts, zeroes for integers.
void ClearRow(const TableDef& t, char* row) {
  std::memset(row, ' ', t.rowSize);
  for (std::uint32_t i = 0; i < t.attrCount; ++i) {
    const AttrDef& a = t.attrs[i];
    if (a.type == kAttrInt32 || a.type == kAttrInt64) std::memset(row + a.offset, 0, a.width);
  }
}

void Int32(const TableDef& t, char* row, const char* name, std::int64_t v) {
  perf::SetInt32(row, FieldOf(t, name), perf::SaturateInt32(v));
}
void Int64(const TableDef& t, char* row, const char* name, std::int64_t v) { perf::SetInt64(row, FieldOf(t, name), v); }
void Utf8(const TableDef& t, char* row, const char* name, const WDC_UString& text) {
  RowField f = FieldOf(t, name);
  if (f.valid()) WideToUtf8Field(row + f.offset, text.c_str(), f.width);
}
// Attributes typed text keep their type: the text goes in as ASCII.
void Ascii(const TableDef& t, char* row, const char* name, const WDC_UString& text) {
  RowField f = FieldOf(t, name);
  if (f.valid()) WideToAsciiField(row + f.offset, text.c_str(), f.width, false);
}
void Stamp(const TableDef& t, char* row, const char* name, std::int64_t seconds) {
  RowField f = FieldOf(t, name);
  if (f.valid()) StampOfTime(seconds, row + f.offset);
}

void Begin(const TableDef& t, char* row) {
  ClearRow(t, row);
  CopyOriginNode(row + FieldOf(t, "ORIGINNODE").offset, FieldOf(t, "ORIGINNODE").width);
  FormatTimestampNow(row + FieldOf(t, "TIMESTAMP").offset);
}

const TableDef& Table(const char* name) { return *FindTable(name); }

}  // namespace

int MapAgentType(int v) { return Map(kAgentTypes, v); }
int MapOperationalStatus(int v) { return OneToSeven(v); }
int MapManageType(int v) { return Map(kManageTypes, v); }
int MapMemoryUnit(int v) { return Map(kMemoryUnits, v); }
int MapAlertState(int v) { return OneToSeven(v); }

bool MapAlertMessage(int id, int managedState, std::int32_t* message, std::string* why) {
  if (id == kManagedStateAlert) {
    if (managedState == 1 || managedState == 0) {
      *message = managedState == 1 ? 2 : 3;
      return true;
    }
    *why = "Unrecognized managed state:" + std::to_string(managedState) + ".";
    return false;
  }
  *message = Map(kAlertMessages, id);
  if (*message == 0) *why = "Unrecognized message id:" + std::to_string(id) + ".";
  return *message != 0;
}

const TableDef& CapTable() { return Table("OSMWDGCAP"); }
const TableDef& MgmtTable() { return Table("OSMWDGMGMT"); }
const TableDef& StatTable() { return Table("OSMWDGSTAT"); }
const TableDef& AlertTable() { return Table("OSMWDGALRT"); }

void StampOfTime(std::int64_t seconds, char* target16) {
  std::time_t when = static_cast<std::time_t>(seconds);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &when);
#else
  localtime_r(&when, &local);
#endif
  OsmSystemTime t{};
  t.wYear = static_cast<std::uint16_t>(local.tm_year + 1900);
  t.wMonth = static_cast<std::uint16_t>(local.tm_mon + 1);
  t.wDay = static_cast<std::uint16_t>(local.tm_mday);
  t.wHour = static_cast<std::uint16_t>(local.tm_hour);
  t.wMinute = static_cast<std::uint16_t>(local.tm_min);
  t.wSecond = static_cast<std::uint16_t>(local.tm_sec);
  FormatTimestamp(target16, t, 16);
}

void FillCapRow(char* row, const WDC_AgentEntry& e) {
  const TableDef& t = CapTable();
  Begin(t, row);
  Utf8(t, row, "WDGID", e.subagentId);
  Utf8(t, row, "WDGAGTNAME", e.agentName);
  Stamp(t, row, "CAPTS", e.capabilityTime);
  Utf8(t, row, "PROCNAME", e.processName);
  Int32(t, row, "AGENTTYPE", MapAgentType(e.agentType));
  Utf8(t, row, "AGENTPATH", e.agentPath);
  Utf8(t, row, "STRSCRIP", e.startScript);
  Utf8(t, row, "STOPSCRIP", e.stopScript);
  Utf8(t, row, "STATSCRIP", e.statusScript);
  Utf8(t, row, "CFGSCRIP", e.configScript);
  Int32(t, row, "OSTYPE", e.osType);
  Utf8(t, row, "OSVER", e.osVersion);
  Int32(t, row, "CHECKFREQ", e.checkFrequency);
  Utf8(t, row, "SERVNAME", e.serviceName);
  Utf8(t, row, "DEPENDS", e.dependencies);
  Int32(t, row, "MGTYPE", MapManageType(e.manageType));
  Int32(t, row, "MAXREST", e.maxRestarts);
  Int64(t, row, "MEMTHRES", e.memoryThreshold);
  Int32(t, row, "MEMUNIT", MapMemoryUnit(e.memoryUnit));
  Int64(t, row, "CPUTHRES", e.cpuThreshold);
  Utf8(t, row, "OSNAME", e.osName);
}

void FillMgmtRow(char* row, const WDC_AgentEntry& e) {
  const TableDef& t = MgmtTable();
  Begin(t, row);
  Utf8(t, row, "WDGAGTNAME", e.agentName);
  Int32(t, row, "MGTYPE", MapManageType(e.manageType));
  Int32(t, row, "MGMTSTAT", e.managedState);
  Int32(t, row, "AGENTTYPE", MapAgentType(e.agentType));
  Int32(t, row, "OSTYPE", e.osType);
  Utf8(t, row, "SERVNAME", e.serviceName);
  Utf8(t, row, "VERSION", e.version);
  Ascii(t, row, "BUILDNUM", e.buildNumber);
}

void FillStatRow(char* row, const WDC_AgentEntry& e, const std::string& address, const std::string& host) {
  const TableDef& t = StatTable();
  Begin(t, row);
  Utf8(t, row, "WDGAGTNAME", e.agentName);
  Int32(t, row, "STATUS", MapOperationalStatus(e.operationalStatus));
  Utf8(t, row, "PROCNAME", e.processName);
  Int32(t, row, "AGENTTYPE", MapAgentType(e.agentType));
  Int32(t, row, "OSTYPE", e.osType);
  RowField ip = FieldOf(t, "IPADDR"), hostField = FieldOf(t, "AGENTHOST");
  perf::CopyTextField(row + ip.offset, ip.width, address);
  perf::CopyTextField(row + hostField.offset, hostField.width, host);
  Int32(t, row, "CHECKFREQ", e.checkFrequency);
  if (e.lastCheckTime == 0) std::memcpy(row + FieldOf(t, "CHECKTS").offset, "0000000000000001", 16);
  else Stamp(t, row, "CHECKTS", e.lastCheckTime);
  const struct {
    const char* name;
    std::int64_t value;
  } figures[] = {{"PID", e.pid},           {"WSSIZE", e.workingSet},   {"VIRSIZE", e.virtualSize},
                 {"CPUPCT", e.cpuPercent}, {"USRPCT", e.userPercent},  {"PRIVPCT", e.privilegedPercent},
                 {"THRCNT", e.threads},    {"HANCNT", e.handles},      {"PGFAULT", e.pageFaults}};
  for (const auto& f : figures) Int64(t, row, f.name, f.value);
  Utf8(t, row, "COMMAND", e.commandLine);
  Int32(t, row, "RESTARTS", e.restarts);
  Ascii(t, row, "USERNAME", e.userName);
  Ascii(t, row, "INSTNAME", e.instanceName);
}

bool FillAlertRow(char* row, const WDC_Alert& a, std::string* why) {
  const TableDef& t = AlertTable();
  ClearRow(t, row);
  CopyOriginNode(row + FieldOf(t, "ORIGINNODE").offset, FieldOf(t, "ORIGINNODE").width);
  Stamp(t, row, "TIMESTAMP", a.time);
  Utf8(t, row, "WDGAGTNAME", a.agentName);
  Utf8(t, row, "PROCNAME", a.processName);
  Utf8(t, row, "DETAILS", a.details);
  Int32(t, row, "STATUS", MapAlertState(a.status));
  Int32(t, row, "AGENTTYPE", MapAgentType(a.agentType));
  Int32(t, row, "OSTYPE", a.osType);
  Int32(t, row, "PID", a.pid);
  std::int32_t message = 0;
  if (!MapAlertMessage(a.messageId, a.managedState, &message, why)) return false;
  Int32(t, row, "MESSAGE", message);
  return true;
}

std::string LogMessageId(const std::string& product, int number) {
  std::string digits = std::to_string(number);
  if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
  return "K" + product + "WDM" + digits;
}

}  // namespace wdg
}  // namespace osm
