// dcfa: request objects, their handles, row buffer, conditions and filters.
#include "framework/dcfa.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>

#include "framework/cfw.h"
#include "framework/cfw_runtime.h"
#include "framework/condition.h"
#include "framework/ras1.h"

// Lets the handle table reach the pin count and open flag of a request.
struct DcfaOpenAccess {
  static int& Pins(dcfa* r) { return r->pins_; }
  static bool& Open(dcfa* r) { return r->open_; }
};

namespace {

struct HandleTable {
  std::mutex lock;
  std::condition_variable unpinned;
  std::map<unsigned, dcfa*> open;
};

HandleTable& Handles() {
  static HandleTable* table = new HandleTable();  // outlives static destructors
  return *table;
}

void CopyText(char* target, std::size_t size, const char* source) {
  std::size_t n = source ? std::strlen(source) : 0;
  if (n >= size) n = size - 1;
  if (n) std::memcpy(target, source, n);
  target[n] = '\0';
}

const char* KindOf(int sampleType) {
  switch (sampleType) {
    case DCF_SAMPLE_SITUATION: return "situation";
    case DCF_SAMPLE_REPORT: return "report";
    case DCF_SAMPLE_EVENT: return "event";
    default: return "action";
  }
}

}  // namespace

dcfa::dcfa(RequestDetail& requestDetail, ContextInfo& context, TableManager* manager)
    : detail(requestDetail), requestId(context.requestId), handle(context.handle), _data(),
      manager_(manager) {
  detail.appl[sizeof detail.appl - 1] = '\0';
  detail.table[sizeof detail.table - 1] = '\0';
  detail.name[sizeof detail.name - 1] = '\0';
  _data.allocSize = 20;
  if (context.condition) condition_ = *context.condition;
  BuildFilter();
}

dcfa::~dcfa() { std::free(_data.rows); }

void dcfa::BuildFilter() {
  for (std::size_t r = 0; r < condition_.size(); ++r) {
    if (r > 0) {
      FilterEntry sep;
      sep.column = "PARMA";
      sep.info = FilterInfo{nullptr, nullptr, 0, nullptr, 0, 0, nullptr, nullptr, static_cast<int>(r)};
      filter_.push_back(sep);
    }
    for (const cfw::ConditionTerm& term : condition_[r]) {
      FilterEntry e;
      e.column = term.attribute;
      e.text = term.value;
      int valLen;
      if (term.type == DCF_ATTR_INT32) {
        std::int32_t v = static_cast<std::int32_t>(term.number);
        e.value.assign(reinterpret_cast<const char*>(&v), sizeof v);
        valLen = 4;
      } else if (term.type == DCF_ATTR_INT64) {
        std::int64_t v = term.number;
        e.value.assign(reinterpret_cast<const char*>(&v), sizeof v);
        valLen = 8;
      } else {
        e.value = term.value;
        valLen = static_cast<int>(term.value.size());
      }
      e.info = FilterInfo{nullptr, nullptr, term.op, nullptr, term.type, valLen, nullptr, nullptr,
                          static_cast<int>(r)};
      filter_.push_back(e);
    }
  }
  // Point the records into their own, now stable, strings.
  for (FilterEntry& e : filter_) {
    e.info.name = detail.name;
    e.info.table = detail.table;
    e.info.colName = e.column.c_str();
    e.info.value = e.value.c_str();
    e.info.text = e.text.c_str();
  }
}

const FilterInfo* dcfa::GetFilterInfo() {
  if (filterIndex_ >= filter_.size()) return nullptr;
  return &filter_[filterIndex_++].info;
}

void dcfa::ResetFilterIndex() { filterIndex_ = 0; }

void dcfa::DumpThresholds() {
  RAS1_UNIT("dcfa::DumpThresholds");
  if (!(RAS1_LEVEL() & RAS1_FLOW)) return;
  if (condition_.empty()) {
    RAS1_ALWAYS("\tthresholds: none\n");
    return;
  }
  for (std::size_t r = 0; r < condition_.size(); ++r) {
    if (r > 0) RAS1_ALWAYS("\t  OR\n");
    for (const cfw::ConditionTerm& t : condition_[r]) {
      if (t.quoted) {
        RAS1_ALWAYS("\tthreshold: %s %s \"%s\"\n", t.attribute.c_str(), cfw::OperatorName(t.op),
                    t.value.c_str());
      } else {
        RAS1_ALWAYS("\tthreshold: %s %s %s\n", t.attribute.c_str(), cfw::OperatorName(t.op),
                    t.value.c_str());
      }
    }
  }
}

void dcfa::PrintSelf() {
  RAS1_UNIT("dcfa::PrintSelf");
  PrintRequest(&RAS1__EPB_, "dcfa");
}

void dcfa::PrintRequest(RAS1_EPB* unit, const char* className) {
  if (!(RAS1_Mask(unit) & RAS1_FLOW)) return;
  RAS1_Printf(unit, __LINE__, "%s @%p <%u,%u>\n", className, static_cast<void*>(this), requestId,
              handle);
  RAS1_Printf(unit, __LINE__, "\t::appl=%s,table=%s,interval=%d,samptype=%d\n", detail.appl,
              detail.table, detail.interval * 1000, detail.sampleType);
  DumpThresholds();
  std::lock_guard<std::recursive_mutex> guard(bufferLock_);
  RAS1_Printf(unit, __LINE__, "\t_data {\n");
  RAS1_Printf(unit, __LINE__, "\t\tcount=%d, allocated=%d, allocSize=%d\n", _data.count,
              _data.allocated, _data.allocSize);
  int attrCount = GetAttributeCount();
  for (int r = 0; r < _data.count && _data.rows; ++r) {
    const char* row = _data.rows + static_cast<std::size_t>(r) * _data.rowSize;
    RAS1_Printf(unit, __LINE__, "\t\t{\n");
    for (int i = 0; i < attrCount; ++i) {
      AttributeInfo a;
      if (GetAttributeInfo(&a, i) != 0) continue;
      if (static_cast<int>(a.offset) + a.width > _data.rowSize) continue;
      const char* field = row + a.offset;
      if (a.type == DCF_ATTR_INT32) {
        std::int32_t v;
        std::memcpy(&v, field, sizeof v);
        RAS1_Printf(unit, __LINE__, "\t\t%s=%d\n", a.name, static_cast<int>(v));
      } else if (a.type == DCF_ATTR_INT64) {
        std::int64_t v;
        std::memcpy(&v, field, sizeof v);
        RAS1_Printf(unit, __LINE__, "\t\t%s=%lld\n", a.name, static_cast<long long>(v));
      } else {
        RAS1_Printf(unit, __LINE__, "\t\t%s=\"%.*s\"\n", a.name, static_cast<int>(a.width), field);
      }
    }
    RAS1_Printf(unit, __LINE__, "\t\t}\n");
  }
  RAS1_Printf(unit, __LINE__, "}\n");
}

int dcfa::GetAttributeCount() { return 0; }

int dcfa::GetAttributeInfo(AttributeInfo* info, int index) {
  (void)info;
  (void)index;
  return DCF_E_ATTRINDEX;
}

int dcfa::CheckAttribute(const void* row, const char* name, int op, const char* value) {
  (void)row;
  (void)name;
  (void)op;
  (void)value;
  return 0;
}

int dcfa::InsertRow(const void* row) {
  RAS1_UNIT("dcfa::InsertRow");
  if (row == nullptr || _data.rowSize <= 0) return DCF_E_BADARG;
  std::lock_guard<std::recursive_mutex> guard(bufferLock_);
  if (_data.count < 0) _data.count = 0;
  if (_data.count >= _data.allocated || _data.rows == nullptr) {
    int step = _data.allocSize > 0 ? _data.allocSize : 1;
    long long rows = static_cast<long long>(_data.allocated) + step;
    long long bytes = rows * _data.rowSize;
    if (rows > 0x7FFFFFFF || bytes > 0x7FFFFFFF) {
      RAS1_TRACE(RAS1_ERROR, "Row buffer of %s would exceed 2 GiB; row refused", detail.name);
      return DCF_E_NOMEM;
    }
    void* grown = std::realloc(_data.rows, static_cast<std::size_t>(bytes));
    if (grown == nullptr) {
      RAS1_TRACE(RAS1_ERROR, "Cannot grow the row buffer of %s to %lld rows", detail.name, rows);
      return DCF_E_NOMEM;
    }
    _data.rows = static_cast<char*>(grown);
    _data.allocated = static_cast<int>(rows);
  }
  std::memcpy(_data.rows + static_cast<std::size_t>(_data.count) * _data.rowSize, row,
              static_cast<std::size_t>(_data.rowSize));
  ++_data.count;
  return DCF_OK;
}

int dcfa::CheckForException(const void* row) {
  if (condition_.empty()) return 1;
  for (const auto& conjunction : condition_) {
    bool all = true;
    for (const cfw::ConditionTerm& t : conjunction) {
      if (!CheckAttribute(row, t.attribute.c_str(), t.op, t.value.c_str())) {
        all = false;
        break;
      }
    }
    if (all) return 1;
  }
  return 0;
}

int dcfa::AddData(const void* rows, int count) {
  RAS1_UNIT("dcfa::AddData");
  if (count < 1 || rows == nullptr) return 0;
  const char* row = static_cast<const char*>(rows);
  int status = 0;
  for (int i = 0; i < count && status == 0; ++i, row += _data.rowSize) {
    if (CheckForException(row)) {
      RAS1_TRACE(RAS1_DETAIL, "Passing row %d to InsertRow().", i);
      status = InsertRow(row);
    }
  }
  return status;
}

int dcfa::IsException(const char* field, int width, int op, const char* value) {
  if (width < 0) return 0;
  return cfw::TextMeets(field, static_cast<std::size_t>(width), op, value) ? 1 : 0;
}

int dcfa::IsException(const char* field, int width, int dataType, int op, const char* value) {
  (void)dataType;  // UTF-8 and ASCII text compare alike, byte for byte
  return IsException(field, width, op, value);
}

int dcfa::IsException(std::int32_t field, int op, const char* value) {
  return cfw::NumberMeets(field, op, value) ? 1 : 0;
}

int dcfa::IsException(std::int64_t field, int op, const char* value) {
  return cfw::NumberMeets(field, op, value) ? 1 : 0;
}

const cfw::RowLayout& dcfa::Layout() {
  if (!layoutReady_) {
    std::vector<AttributeInfo> attrs;
    int n = GetAttributeCount();
    for (int i = 0; i < n; ++i) {
      AttributeInfo a;
      if (GetAttributeInfo(&a, i) == 0) attrs.push_back(a);
    }
    layout_ = cfw::RowLayout(static_cast<unsigned>(_data.rowSize > 0 ? _data.rowSize : 0),
                             attrs.data(), static_cast<int>(attrs.size()));
    layoutReady_ = true;
  }
  return layout_;
}

int dcfa::Dispatch() {
  RAS1_UNIT("dcfa::Dispatch");
  std::lock_guard<std::recursive_mutex> guard(bufferLock_);
  if (_data.count <= 0 || _data.rows == nullptr || _data.rowSize <= 0) {
    _data.count = 0;
    return DCF_OK;
  }
  int count = _data.count > _data.allocated ? _data.allocated : _data.count;
  cfw::RowHeader header{detail.name, KindOf(detail.sampleType), detail.table,
                        cfw::FormatUtc(std::chrono::system_clock::now())};
  const cfw::RowLayout& layout = Layout();
  std::string lines;
  for (int i = 0; i < count; ++i) {
    lines += cfw::RowJson(header, layout, _data.rows + static_cast<std::size_t>(i) * _data.rowSize);
    lines.push_back('\n');
  }
  _data.count = 0;
  if (!cfw::WriteLines(lines)) {
    RAS1_TRACE(RAS1_ERROR, "Could not write %d rows of %s", count, detail.name);
    return DCF_E_OUTPUT;
  }
  RAS1_TRACE(RAS1_DETAIL, "Dispatched %d rows of %s", count, detail.name);
  return DCF_OK;
}

void dcfa::DiscardRows() {
  std::lock_guard<std::recursive_mutex> guard(bufferLock_);
  _data.count = 0;
}

// Take-action requests ------------------------------------------------------

DcfaAutomationCapsule::DcfaAutomationCapsule(dcfa* request, const char* product, const char* command)
    : request_(request), product_(product ? product : ""), command_(command ? command : "") {}

int dcfa::ExecuteCommand(DcfaAutomationCapsule* capsule) {
  RAS1_UNIT("dcfa::ExecuteCommand");
  if (capsule == nullptr) return DCF_E_BADARG;
  DCF_CommandCallback callback = cfw::CommandCallbackFor(capsule->Product());
  if (callback == nullptr) {
    RAS1_TRACE(RAS1_ERROR, "No command callback for product %s", capsule->Product());
    capsule->SetResults(-1);
    capsule->SetMessage("No command handler is registered for this product.");
    FinishedAutomationCommand(capsule);
    return DCF_E_NOHANDLER;
  }
  int rc = callback(capsule);
  if (!commandFinished_) {
    if (!capsule->ResultsSet()) capsule->SetResults(rc == 0 ? 0 : -1);
    FinishedAutomationCommand(capsule);
  }
  return rc;
}

int dcfa::FinishedAutomationCommand(DcfaAutomationCapsule* capsule) {
  if (!automation_ || capsule == nullptr) return DCF_E_STATE;
  {
    std::lock_guard<std::recursive_mutex> guard(bufferLock_);
    if (commandFinished_) return DCF_E_STATE;
    commandFinished_ = true;
  }
  CommandCompleted(capsule);
  return DCF_OK;
}

void dcfa::CommandCompleted(DcfaAutomationCapsule* capsule) {
  std::string line("{\"record\":\"action\",\"request\":");
  cfw::AppendJsonQuoted(&line, detail.name);
  line.append(",\"product\":");
  cfw::AppendJsonQuoted(&line, capsule->Product());
  line.append(",\"command\":");
  cfw::AppendJsonQuoted(&line, capsule->Command());
  line.append(",\"time\":");
  cfw::AppendJsonQuoted(&line, cfw::FormatUtc(std::chrono::system_clock::now()));
  line.append(",\"result\":" + std::to_string(capsule->Results()) + ",\"message\":");
  cfw::AppendJsonQuoted(&line, capsule->Message());
  line.append("}\n");
  cfw::WriteLines(line);
  cfw::LogLine(std::string("action ") + detail.name + " (" + capsule->Product() + ") result " +
               std::to_string(capsule->Results()) + ": " + capsule->Message());
}

// Handles -------------------------------------------------------------------

dcfa* dcfa::UseHandle(unsigned handle) {
  HandleTable& t = Handles();
  std::lock_guard<std::mutex> guard(t.lock);
  auto it = t.open.find(handle);
  if (it == t.open.end()) return nullptr;
  ++DcfaOpenAccess::Pins(it->second);
  return it->second;
}

void dcfa::Drop() {
  HandleTable& t = Handles();
  std::lock_guard<std::mutex> guard(t.lock);
  if (pins_ > 0 && --pins_ == 0) t.unpinned.notify_all();
}

namespace cfw {

void OpenRequest(dcfa* request) {
  if (request == nullptr) return;
  {
    HandleTable& t = Handles();
    std::lock_guard<std::mutex> guard(t.lock);
    t.open[request->handle] = request;
    DcfaOpenAccess::Open(request) = true;
  }
  int type = request->detail.sampleType;
  TableManager* m = request->Manager();
  if (m && (type == DCF_SAMPLE_SITUATION || type == DCF_SAMPLE_EVENT)) {
    m->lock();
    m->RequestList()->Append(request);
    m->unlock();
  }
}

void CloseRequest(dcfa* request) {
  if (request == nullptr) return;
  TableManager* m = request->Manager();
  if (m) {
    m->lock();
    m->RequestList()->Remove(request);
    m->unlock();
  }
  {
    HandleTable& t = Handles();
    std::unique_lock<std::mutex> guard(t.lock);
    auto it = t.open.find(request->handle);
    if (it != t.open.end() && it->second == request) t.open.erase(it);
    DcfaOpenAccess::Open(request) = false;
    t.unpinned.wait(guard, [request] { return DcfaOpenAccess::Pins(request) == 0; });
  }
  delete request;
}

std::size_t OpenRequestCount() {
  HandleTable& t = Handles();
  std::lock_guard<std::mutex> guard(t.lock);
  return t.open.size();
}

RequestDetail MakeDetail(const char* appl, const char* table, const char* name, int interval,
                         int sampleType) {
  RequestDetail d;
  std::memset(&d, 0, sizeof d);
  CopyText(d.appl, sizeof d.appl, appl);
  CopyText(d.table, sizeof d.table, table);
  CopyText(d.name, sizeof d.name, name);
  d.interval = interval;
  d.sampleType = sampleType;
  return d;
}

ContextInfo NewContext(const ConditionRows* condition) {
  static std::atomic<unsigned> next{1};
  ContextInfo c;
  c.requestId = next.fetch_add(2);
  c.handle = c.requestId + 1;
  c.condition = condition;
  return c;
}

}  // namespace cfw
