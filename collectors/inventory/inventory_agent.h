// The request class of an inventory table. These tables read no performance
// data: each sample builds its rows from the platform's own interfaces and
// hands them to AddData. The three operations trace their invocation at
// detail level ("osm_ntservice_agent::TakeSample()  invoked").
//
//   OSM_INVENTORY_AGENT(ntprinter, CollectPrinters(*this, Unit()))
//
// defines osm_ntprinter_agent, whose samples return the expression (the
// AddData status), and offers it.
#pragma once

#include <new>

#include "framework/ras1.h"
#include "tables/table_base.h"

namespace osm {
namespace inventory {

enum class AgentOp { kConstructor, kTakeSample, kDestructor };

// Traces "<agent class>::<operation>()  invoked" at detail level.
void TraceAgentOp(const TableDef& table, AgentOp op);
// Traces "Not enough memory!" for a sample that ran out of memory.
void TraceOutOfMemory(const TableDef& table);
// The trace unit "<agent class>::TakeSample" of a table.
RAS1_EPB* SampleUnit(const TableDef& table);

template <class Base>
class InventoryAgent : public Base {
 public:
  InventoryAgent(RequestDetail& detail, ContextInfo& context, TableManager* manager) : Base(detail, context, manager) {
    TraceAgentOp(this->Table(), AgentOp::kConstructor);
  }
  ~InventoryAgent() override { TraceAgentOp(this->Table(), AgentOp::kDestructor); }

  int TakeSample() override {
    RAS1_Scope scope(SampleUnit(this->Table()), __LINE__);
    TraceAgentOp(this->Table(), AgentOp::kTakeSample);
    this->DiscardRows();
    // Memory that runs out while the rows are built ends this sample only.
    try {
      return Collect();
    } catch (const std::bad_alloc&) {
      TraceOutOfMemory(this->Table());
      this->DiscardRows();
      return 0;
    }
  }

 protected:
  // Builds the sample's rows and hands them over; the AddData status.
  virtual int Collect() = 0;
  RAS1_EPB* Unit() { return SampleUnit(this->Table()); }
};

}  // namespace inventory
}  // namespace osm

#define OSM_INVENTORY_AGENT(lower, ...)                                                   \
  class osm_##lower##_agent : public osm::inventory::InventoryAgent<osm_##lower##_base> { \
   public:                                                                                \
    using InventoryAgent::InventoryAgent;                                                 \
                                                                                          \
   protected:                                                                             \
    int Collect() override { return __VA_ARGS__; }                                        \
  };                                                                                      \
  OSM_AGENT(lower, osm_##lower##_agent)
