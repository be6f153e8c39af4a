// The generic table classes, parameterised by a catalogue record (TableDef).
// The per-table classes of table_classes.h derive from them and add nothing
// but the table's record; see there for the classes every table gets and for
// how a collector supplies its agent class.
#pragma once

#include <atomic>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "framework/cfw.h"
#include "framework/ras1.h"
#include "tables/catalogue.h"

namespace osm {

// Creates a table's agent object for a request, or returns null.
typedef dcfa* (*AgentFactory)(RequestDetail& detail, ContextInfo& context, TableManager* manager);

// The factory for an agent class with the constructor every agent has.
template <class Agent>
dcfa* NewAgent(RequestDetail& detail, ContextInfo& context, TableManager* manager) {
  return new (std::nothrow) Agent(detail, context, manager);
}

// What the table classes derive once from a TableDef: the attribute
// descriptors with lower-case names, the class names and the trace units.
class TableRuntime {
 public:
  // The runtime of a record; built on first use, lives for the process.
  static const TableRuntime& For(const TableDef& def);

  const TableDef& def;
  std::string baseClass;     // "osm_ntpagefile_base"
  std::string managerClass;  // "osm_ntpagefile_manager"
  std::vector<std::string> lowerNames;
  std::vector<AttributeInfo> infos;
  mutable RAS1_EPB printSelfUnit;    // "osm_<table>_base::PrintSelf"
  mutable RAS1_EPB addDataUnit;      // "osm_<table>_base::AddData"
  mutable RAS1_EPB deliverRowsUnit;  // "osm_<table>_manager::DeliverRows"
  mutable RAS1_EPB initUnit;         // "osm_<table>_init"

 private:
  explicit TableRuntime(const TableDef& d);
  std::string unitNames_[4];
};

// The request class of a table: knows the row record.
class TableBase : public dcfa {
 public:
  // Row size from the record, allocation step 20.
  TableBase(const TableDef& def, RequestDetail& detail, ContextInfo& context, TableManager* manager);

  // Traced at flow level: the request, its thresholds and its rows.
  void PrintSelf() override;
  int GetAttributeCount() override;
  // Fills the descriptor of attribute index (name in lower case) and returns
  // 0; DCF_E_ATTRINDEX (0x21060007) for an index outside 0 .. count - 1.
  int GetAttributeInfo(AttributeInfo* info, int index) override;
  // The term "name op value" on the row; name is the upper-case attribute
  // name, compared exactly. 0 for any other name.
  int CheckAttribute(const void* row, const char* name, int op, const char* value) override;
  // Inserts each row that meets the condition; stops at the first failing
  // InsertRow and returns its status (0 when none failed).
  int AddData(const void* rows, int count) override;

  const TableDef& Table() const { return runtime_.def; }

 private:
  const TableRuntime& runtime_;
};

// The manager class of a table.
class TableManagerBase : public TableManager {
 public:
  TableManagerBase(const TableDef& def, const char* appl, const char* table);
  // Hands the rows to every open situation of the table (AddData, Dispatch)
  // under the manager's lock; returns the last non-zero Dispatch status, 0
  // when every Dispatch succeeded or no situation is open.
  int DeliverRows(const void* rows, int count);
  const TableDef& Table() const { return runtime_.def; }

 private:
  const TableRuntime& runtime_;
};

// Per-table process-wide state: the collector's agent factory and the
// table's manager. Constant-initialised, so a collector may offer its agent
// during static initialisation.
struct TableSlot {
  std::atomic<AgentFactory> factory{nullptr};
  std::atomic<TableManagerBase*> manager{nullptr};
};

// The body of osm_<table>_init: without an agent DCF_E_NOTOFFERED; creates
// the manager once ("OSM", table name) and registers it; DCF_E_NOMEM when it
// cannot be allocated.
int InitTable(TableSlot& slot, const TableDef& def,
              TableManagerBase* (*newManager)(const char* appl, const char* table));
// The body of EventArrived_osm_<table>: DeliverRows of the table's manager, or
// 0 when the table has no manager.
int EventArrived(TableSlot& slot, const void* rows, int count);
// The body of osm_<table>_offer: records the agent factory; DCF_E_BADARG for null.
int OfferAgent(TableSlot& slot, AgentFactory factory);
// The body of osm_<table>_manager::CreateRequest.
dcfa* CreateAgent(TableSlot& slot, RequestDetail& detail, ContextInfo& context, TableManager* manager);

}  // namespace osm
