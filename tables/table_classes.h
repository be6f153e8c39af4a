// The class pattern every table follows, produced from one catalogue record.
//
// For a table TABLE (lower-case name `table`) the pattern gives:
//   class osm_table_manager : public osm::TableManagerBase   (TableManager)
//       osm_table_manager(const char* appl, const char* table);
//       dcfa* CreateRequest(RequestDetail&, ContextInfo&);   // the agent
//       int DeliverRows(const void* rows, int count);        // inherited
//   class osm_table_base : public osm::TableBase              (dcfa)
//       osm_table_base(RequestDetail&, ContextInfo&, TableManager*);
//       PrintSelf, GetAttributeCount, GetAttributeInfo, CheckAttribute,
//       AddData; TakeSample stays pure.
//   const osm::TableDef& osm_table_def();      // the catalogue record
//   int osm_table_offer(osm::AgentFactory);    // the collector's agent
//   bool osm_table_offered();                  // an agent was offered
//   int osm_table_init();                      // registration
//   int EventArrived_osm_table(const void* rows, int count);
//
// Agent classes. A table is offered only once its collector supplies the
// agent class, osm_table_agent, derived from osm_table_base:
//
//   class osm_ntpagefile_agent : public osm_ntpagefile_base {
//    public:
//     osm_ntpagefile_agent(RequestDetail& d, ContextInfo& c, TableManager* m)
//         : osm_ntpagefile_base(d, c, m) { TakeSampleConstructor(); }
//     ~osm_ntpagefile_agent() override { TakeSampleDestructor(); }
//     int TakeSample() override;
//     ...
//   };
//   OSM_AGENT(ntpagefile, osm_ntpagefile_agent)   // in the collector's .cpp
//
// OSM_AGENT offers the class while the program initialises, so the object
// file that holds it must be linked into the program (build collectors as
// OBJECT libraries, or keep OSM_AGENT in a file the program references). A
// host may instead call osm_table_offer(&osm::NewAgent<Agent>) itself before
// the loader runs. Without an offered agent, osm_table_init registers nothing
// and returns DCF_E_NOTOFFERED, so the table is not offered.
#pragma once

#include "tables/table_base.h"

#define OSM_DECLARE_TABLE_CLASSES(lower)                                                   \
  class osm_##lower##_base : public osm::TableBase {                                       \
   public:                                                                                 \
    osm_##lower##_base(RequestDetail& detail, ContextInfo& context, TableManager* manager); \
  };                                                                                       \
  class osm_##lower##_manager : public osm::TableManagerBase {                             \
   public:                                                                                 \
    osm_##lower##_manager(const char* appl, const char* table);                            \
    dcfa* CreateRequest(RequestDetail& detail, ContextInfo& context) override;             \
  };                                                                                       \
  const osm::TableDef& osm_##lower##_def();                                                \
  int osm_##lower##_offer(osm::AgentFactory factory);                                      \
  bool osm_##lower##_offered();                                                            \
  int osm_##lower##_init();                                                                \
  int EventArrived_osm_##lower(const void* rows, int count);

// DEF is an expression giving the table's `const osm::TableDef&`, evaluated
// once on first use.
#define OSM_DEFINE_TABLE_CLASSES(lower, DEF)                                                       \
  namespace {                                                                                      \
  osm::TableSlot osm_##lower##_slot;                                                               \
  osm::TableManagerBase* osm_##lower##_new_manager(const char* appl, const char* table) {          \
    return new (std::nothrow) osm_##lower##_manager(appl, table);                                  \
  }                                                                                                \
  }                                                                                                \
  const osm::TableDef& osm_##lower##_def() {                                                       \
    static const osm::TableDef& def = (DEF);                                                       \
    return def;                                                                                    \
  }                                                                                                \
  osm_##lower##_base::osm_##lower##_base(RequestDetail& detail, ContextInfo& context,              \
                                         TableManager* manager)                                    \
      : osm::TableBase(osm_##lower##_def(), detail, context, manager) {}                           \
  osm_##lower##_manager::osm_##lower##_manager(const char* appl, const char* table)                \
      : osm::TableManagerBase(osm_##lower##_def(), appl, table) {}                                 \
  dcfa* osm_##lower##_manager::CreateRequest(RequestDetail& detail, ContextInfo& context) {        \
    return osm::CreateAgent(osm_##lower##_slot, detail, context, this);                            \
  }                                                                                                \
  int osm_##lower##_offer(osm::AgentFactory factory) {                                             \
    return osm::OfferAgent(osm_##lower##_slot, factory);                                           \
  }                                                                                                \
  bool osm_##lower##_offered() { return osm_##lower##_slot.factory.load() != nullptr; }            \
  int osm_##lower##_init() {                                                                       \
    return osm::InitTable(osm_##lower##_slot, osm_##lower##_def(), &osm_##lower##_new_manager);    \
  }                                                                                                \
  int EventArrived_osm_##lower(const void* rows, int count) {                                      \
    return osm::EventArrived(osm_##lower##_slot, rows, count);                                     \
  }

// Offers a collector's agent class for its table (see above).
#define OSM_AGENT(lower, AgentClass)                                  \
  namespace {                                                         \
  struct osm_##lower##_agent_offering {                               \
    osm_##lower##_agent_offering() {                                  \
      osm_##lower##_offer(&osm::NewAgent<AgentClass>);                \
    }                                                                 \
  } osm_##lower##_agent_offered;                                      \
  }
