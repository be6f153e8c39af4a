#include "collectors/inventory/inventory_agent.h"

#include <map>
#include <mutex>
#include <string>

namespace osm {
namespace inventory {

namespace {

// The trace units of one table's agent; made on first use, kept for the process.
struct AgentUnits {
  std::string names[3];
  RAS1_EPB units[3];
};

AgentUnits& UnitsOf(const TableDef& table) {
  static std::mutex* lock = new std::mutex();
  static auto* all = new std::map<const TableDef*, AgentUnits*>();
  std::lock_guard<std::mutex> guard(*lock);
  AgentUnits*& u = (*all)[&table];
  if (u == nullptr) {
    u = new AgentUnits();
    const char* ops[3] = {"::TakeSampleConstructor", "::TakeSample", "::TakeSampleDestructor"};
    for (int i = 0; i < 3; ++i) {
      u->names[i] = std::string(table.agentClass) + ops[i];
      RAS1_InitUnit(&u->units[i], u->names[i].c_str(), u->names[i].size());
    }
  }
  return *u;
}

}  // namespace

RAS1_EPB* SampleUnit(const TableDef& table) { return &UnitsOf(table).units[1]; }

void TraceOutOfMemory(const TableDef& table) {
  RAS1_EPB* unit = SampleUnit(table);
  if (RAS1_Mask(unit) & RAS1_ERROR) RAS1_Printf(unit, __LINE__, "Not enough memory!  The sample sends no rows.");
}

void TraceAgentOp(const TableDef& table, AgentOp op) {
  AgentUnits& u = UnitsOf(table);
  int i = static_cast<int>(op);
  RAS1_EPB* unit = &u.units[i];
  if (RAS1_Mask(unit) & RAS1_DETAIL) RAS1_Printf(unit, __LINE__, "%s()  invoked", u.names[i].c_str());
}

}  // namespace inventory
}  // namespace osm
