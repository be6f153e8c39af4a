// dcfa: the request object. One object per open situation, report or
// take-action command; every table's request class derives from it.
//
// Life of a request (see cfw.h for the framework side):
//   1. The table's manager creates it (TableManager::CreateRequest) from a
//      RequestDetail and a ContextInfo; the constructor copies both.
//   2. The framework opens it: from then on dcfa::UseHandle finds it, and a
//      situation (sample type 1 or 4) is on its manager's request list, where
//      pushed rows reach it. Reports are not on the list.
//   3. Sampled requests get TakeSample on a framework thread, once for a
//      report without interval, else every detail.interval seconds; after
//      each sample the framework calls Dispatch. Event situations (4) are
//      never sampled: they only receive pushed rows.
//   4. The framework closes it (off the list, unreachable by handle, no pin
//      left) and deletes it: a one-shot report right after its answer, every
//      other request at shut-down, in the order they were opened.
//
// Row buffer (_data): InsertRow appends one row of _data.rowSize bytes,
// growing the buffer by _data.allocSize rows at a time; Dispatch ships the
// rows as JSON Lines and empties the buffer. InsertRow and Dispatch take the
// request's buffer lock, so rows pushed by an event thread and rows of the
// request's own sample do not tear each other.
//
// Conditions: the request's condition is a disjunction of rows, each a
// conjunction of terms. CheckForException is non-zero when the row meets
// every term of some condition row (always, without condition); each term is
// tested through CheckAttribute, which the table class implements with the
// IsException overload of the attribute's type.
//
// Filter entries: the same terms, walked with GetFilterInfo in order; between
// two condition rows stands one separator entry whose colName is "PARMA"
// (func 0, no value). Text values are NUL-terminated texts; integer values are
// binary (4 bytes for a 32-bit attribute, 8 for a 64-bit one, valLen says
// which), and FilterInfo::text always holds the value as text.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "framework/attribute.h"
#include "framework/jsonrows.h"
#include "framework/ras1.h"
#include "framework/requests.h"

class TableManager;
class DcfaAutomationCapsule;

// Status codes of the framework family.
enum : int {
  DCF_OK = 0,
  DCF_E_BADARG = 0x21060001,     // null or malformed argument
  DCF_E_NOMEM = 0x21060002,      // allocation failed
  DCF_E_DUPLICATE = 0x21060003,  // another manager already serves the table
  DCF_E_OUTPUT = 0x21060004,     // rows could not be written
  DCF_E_STATE = 0x21060005,      // not possible in the current state
  DCF_E_NOHANDLER = 0x21060006,  // no command callback for the product
  DCF_E_ATTRINDEX = 0x21060007,  // attribute index out of range
  DCF_E_NOTOFFERED = 0x21060008  // the table has no collector
};

// Sample types as request objects report them in detail.sampleType.
enum : int {
  DCF_SAMPLE_SITUATION = 1,  // sampled situation
  DCF_SAMPLE_REPORT = 3,     // report
  DCF_SAMPLE_EVENT = 4       // event-driven situation
};

struct RequestDetail {
  char appl[32];     // application name ("OSM")
  char table[32];    // table name, upper case
  int interval;      // seconds between samples; 0 for a one-shot report
  int sampleType;    // DCF_SAMPLE_*; 0 for a take-action command
  char name[64];     // the request's name (situation, report or action)
};

struct ContextInfo {
  unsigned requestId = 0;  // first identifier
  unsigned handle = 0;     // second identifier: the handle for UseHandle
  const cfw::ConditionRows* condition = nullptr;  // null: no condition
};

struct FilterInfo {
  const char* name;     // request name
  const char* table;    // table name
  int func;             // operator (1 EQ, 2 NE, 3 GE, 4 LE, 5 LT, 6 GT); 0 separator
  const char* colName;  // upper-case attribute name; "PARMA" for a separator
  int dataType;         // attribute type (DCF_ATTR_*); 0 separator
  int valLen;           // bytes of value (without the terminator)
  const char* value;    // text, or the binary integer
  const char* text;     // the value as text ("" for a separator)
  int row;              // condition row, from 0
};

class dcfa {
 public:
  dcfa(RequestDetail& detail, ContextInfo& context, TableManager* manager);

  // Virtual slots, in this order.
  virtual void PrintSelf();                                                // 0
  virtual int TakeSample() = 0;                                            // 1
  virtual int GetAttributeCount();                                         // 2
  virtual int GetAttributeInfo(AttributeInfo* info, int index);            // 3
  virtual int ExecuteCommand(DcfaAutomationCapsule* capsule);              // 4
  virtual ~dcfa();                                                         // 5
  virtual int InsertRow(const void* row);                                  // 6
  virtual int CheckForException(const void* row);                          // 7
  virtual int CheckAttribute(const void* row, const char* name, int op,
                             const char* value);                           // 8
  virtual void CommandCompleted(DcfaAutomationCapsule* capsule);           // 9
  virtual int AddData(const void* rows, int count);                        // 10

  // The open request with this handle, pinned until its Drop; null when no
  // open request has it (never opened, or already closing).
  static dcfa* UseHandle(unsigned handle);
  // Releases one pin taken by UseHandle.
  void Drop();
  // Ships the rows gathered so far and empties the buffer; 0 or DCF_E_OUTPUT.
  int Dispatch();

  // Condition tests; non-zero when "operand op value" holds.
  int IsException(const char* field, int width, int op, const char* value);
  int IsException(const char* field, int width, int dataType, int op, const char* value);
  int IsException(std::int32_t field, int op, const char* value);
  int IsException(std::int64_t field, int op, const char* value);

  // Traces the request's condition (flow level).
  void DumpThresholds();
  // The next filter entry, or null after the last; ResetFilterIndex starts over.
  const FilterInfo* GetFilterInfo();
  void ResetFilterIndex();

  // Take-action requests (see DcfaAutomationCapsule in cfw.h).
  bool IsAutomationRequest() const { return automation_; }
  // Ends the command: records its results and message once (CommandCompleted).
  // DCF_E_STATE when it was already finished or this is no take-action request.
  int FinishedAutomationCommand(DcfaAutomationCapsule* capsule);

  TableManager* Manager() const { return manager_; }
  const cfw::ConditionRows& Condition() const { return condition_; }
  // Empties the row buffer without shipping it.
  void DiscardRows();

  RequestDetail detail;
  unsigned requestId;
  unsigned handle;
  struct RowBuffer {
    char* rows;       // address of the first row
    int rowSize;      // bytes per row
    int count;        // rows in the buffer
    int allocated;    // rows the buffer can hold
    int allocSize;    // rows added each time the buffer grows
  } _data;

 protected:
  // The PrintSelf dump, traced through the given unit under this class name.
  void PrintRequest(RAS1_EPB* unit, const char* className);
  void MarkAutomation() { automation_ = true; }

 private:
  dcfa(const dcfa&) = delete;
  dcfa& operator=(const dcfa&) = delete;
  void BuildFilter();
  const cfw::RowLayout& Layout();

  TableManager* manager_;
  cfw::ConditionRows condition_;
  struct FilterEntry {
    std::string column;
    std::string value;  // bytes of the value, NUL-terminated by std::string
    std::string text;
    FilterInfo info;
  };
  std::vector<FilterEntry> filter_;
  std::size_t filterIndex_ = 0;
  std::recursive_mutex bufferLock_;
  bool layoutReady_ = false;
  cfw::RowLayout layout_;
  bool automation_ = false;
  bool commandFinished_ = false;

  friend struct DcfaOpenAccess;
  int pins_ = 0;         // guarded by the handle table's lock
  bool open_ = false;    // guarded by the handle table's lock
};
