// The generic table classes.
#include "tables/table_base.h"

#include <cctype>
#include <cstring>
#include <map>
#include <mutex>

namespace osm {
namespace {

std::string Lower(const char* s) {
  std::string out(s ? s : "");
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

TableRuntime::TableRuntime(const TableDef& d) : def(d) {
  std::string lower = Lower(d.name);
  baseClass = "osm_" + lower + "_base";
  managerClass = "osm_" + lower + "_manager";
  lowerNames.reserve(d.attrCount);
  for (std::uint32_t i = 0; i < d.attrCount; ++i) lowerNames.push_back(Lower(d.attrs[i].name));
  for (std::uint32_t i = 0; i < d.attrCount; ++i) {
    infos.push_back(AttributeInfo{lowerNames[i].c_str(), d.attrs[i].offset, d.attrs[i].width,
                                  d.attrs[i].type});
  }
  unitNames_[0] = baseClass + "::PrintSelf";
  unitNames_[1] = baseClass + "::AddData";
  unitNames_[2] = managerClass + "::DeliverRows";
  unitNames_[3] = "osm_" + lower + "_init";
  RAS1_InitUnit(&printSelfUnit, unitNames_[0].c_str(), unitNames_[0].size());
  RAS1_InitUnit(&addDataUnit, unitNames_[1].c_str(), unitNames_[1].size());
  RAS1_InitUnit(&deliverRowsUnit, unitNames_[2].c_str(), unitNames_[2].size());
  RAS1_InitUnit(&initUnit, unitNames_[3].c_str(), unitNames_[3].size());
}

const TableRuntime& TableRuntime::For(const TableDef& def) {
  static std::mutex* lock = new std::mutex();
  static auto* runtimes = new std::map<const TableDef*, TableRuntime*>();
  std::lock_guard<std::mutex> guard(*lock);
  TableRuntime*& r = (*runtimes)[&def];
  if (r == nullptr) r = new TableRuntime(def);  // lives for the process
  return *r;
}

TableBase::TableBase(const TableDef& def, RequestDetail& detail, ContextInfo& context,
                     TableManager* manager)
    : dcfa(detail, context, manager), runtime_(TableRuntime::For(def)) {
  _data.rowSize = static_cast<int>(def.rowSize);
  _data.allocSize = 20;
}

void TableBase::PrintSelf() { PrintRequest(&runtime_.printSelfUnit, runtime_.baseClass.c_str()); }

int TableBase::GetAttributeCount() { return static_cast<int>(runtime_.def.attrCount); }

int TableBase::GetAttributeInfo(AttributeInfo* info, int index) {
  if (index < 0 || index >= static_cast<int>(runtime_.def.attrCount)) return DCF_E_ATTRINDEX;
  if (info == nullptr) return DCF_E_BADARG;
  *info = runtime_.infos[static_cast<std::size_t>(index)];
  return DCF_OK;
}

int TableBase::CheckAttribute(const void* row, const char* name, int op, const char* value) {
  if (row == nullptr || name == nullptr) return 0;
  const TableDef& def = runtime_.def;
  const char* bytes = static_cast<const char*>(row);
  for (std::uint32_t i = 0; i < def.attrCount; ++i) {
    const AttrDef& a = def.attrs[i];
    if (std::strcmp(a.name, name) != 0) continue;
    const char* field = bytes + a.offset;
    switch (a.type) {
      case kAttrText:
        return IsException(field, a.width, op, value);
      case kAttrUtf8:
        return IsException(field, a.width, static_cast<int>(kAttrUtf8), op, value);
      case kAttrInt32: {
        std::int32_t v;
        std::memcpy(&v, field, sizeof v);
        return IsException(v, op, value);
      }
      case kAttrInt64: {
        std::int64_t v;
        std::memcpy(&v, field, sizeof v);
        return IsException(v, op, value);
      }
      default:
        return 0;
    }
  }
  return 0;
}

int TableBase::AddData(const void* rows, int count) {
  RAS1_EPB* unit = &runtime_.addDataUnit;
  if (count < 1 || rows == nullptr) return 0;
  const char* row = static_cast<const char*>(rows);
  int status = 0;
  for (int i = 0; i < count && status == 0; ++i, row += runtime_.def.rowSize) {
    if (CheckForException(row)) {
      if (RAS1_Mask(unit) & RAS1_DETAIL) RAS1_Printf(unit, __LINE__, "Passing row %d to InsertRow().", i);
      status = InsertRow(row);
    }
  }
  return status;
}

TableManagerBase::TableManagerBase(const TableDef& def, const char* appl, const char* table)
    : TableManager(appl, table), runtime_(TableRuntime::For(def)) {
  DescribeRows(def.rowSize, runtime_.infos.data(), static_cast<int>(runtime_.infos.size()));
}

int TableManagerBase::DeliverRows(const void* rows, int count) {
  RAS1_EPB* unit = &runtime_.deliverRowsUnit;
  int status = 0;
  lock();
  DcfaListIter it(this);
  while (dcfa* listed = it.Next()) {
    dcfa* request = dcfa::UseHandle(listed->handle);
    if (request == nullptr) continue;  // closing
    try {
      request->AddData(rows, count);
      int rc = request->Dispatch();
      if (rc != 0) status = rc;
    } catch (...) {
      if (RAS1_Mask(unit) & RAS1_ERROR)
        RAS1_Printf(unit, __LINE__, "Request %s threw while taking pushed rows", request->detail.name);
      request->DiscardRows();
      status = DCF_E_STATE;
    }
    // Dispatch (or DiscardRows) left the row count at 0 under the buffer lock.
    request->Drop();
  }
  unlock();
  return status;
}

int InitTable(TableSlot& slot, const TableDef& def,
              TableManagerBase* (*newManager)(const char* appl, const char* table)) {
  RAS1_EPB* unit = &TableRuntime::For(def).initUnit;
  if (slot.factory.load() == nullptr) {
    if (RAS1_Mask(unit) & RAS1_FLOW)
      RAS1_Printf(unit, __LINE__, "Table %s has no collector; it is not offered", def.name);
    return DCF_E_NOTOFFERED;
  }
  TableManagerBase* manager = slot.manager.load();
  if (manager == nullptr) {
    TableManagerBase* made = newManager("OSM", def.name);
    if (made == nullptr) {
      if (RAS1_Mask(unit) & RAS1_ERROR)
        RAS1_Printf(unit, __LINE__, "Cannot allocate the manager of %s", def.name);
      return DCF_E_NOMEM;
    }
    if (slot.manager.compare_exchange_strong(manager, made)) {
      manager = made;
    } else {
      delete made;  // another thread was first; manager now holds its manager
    }
  }
  return TableManager::RegisterWithManager(manager);
}

int EventArrived(TableSlot& slot, const void* rows, int count) {
  TableManagerBase* manager = slot.manager.load();
  return manager ? manager->DeliverRows(rows, count) : 0;
}

int OfferAgent(TableSlot& slot, AgentFactory factory) {
  if (factory == nullptr) return DCF_E_BADARG;
  slot.factory.store(factory);
  return DCF_OK;
}

dcfa* CreateAgent(TableSlot& slot, RequestDetail& detail, ContextInfo& context, TableManager* manager) {
  AgentFactory factory = slot.factory.load();
  return factory ? factory(detail, context, manager) : nullptr;
}

}  // namespace osm
