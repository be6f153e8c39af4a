// The requests file: one request per line, checked against the tables.
//
//   report    NAME TABLE [every SECONDS] [where CONDITION]
//   situation NAME TABLE every SECONDS where CONDITION
//   event     NAME TABLE [where CONDITION]
//   export    NAME TABLE every SECONDS [where CONDITION]
//   action    NAME PRODUCT COMMAND...
//
//   CONDITION  = TERM { AND TERM } { OR TERM { AND TERM } }
//   TERM       = ATTRIBUTE OPERATOR VALUE
//   OPERATOR   = EQ | NE | LT | LE | GT | GE
//   VALUE      = decimal integer | "quoted text" (a doubled "" is one quote)
//
// Keywords, operators, table and attribute names are read in any case; table
// and attribute names are kept in upper case. Blank lines and lines whose
// first non-blank character is '#' are ignored. NAME is 1 to 63 letters,
// digits, '_', '.' or '-' and unique within the file. SECONDS is 1 to 2147483.
// A table is exported by one export line at most.
// For an action, COMMAND is the rest of the line as written.
//
// This file only transforms text: no threads, no platform calls.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace cfw {

enum class RequestKind {
  kReport,     // sample type 3; once, or every SECONDS
  kSituation,  // sample type 1; sampled every SECONDS
  kEvent,      // sample type 4; kept open for pushed rows
  kExport,     // sampled as a report every SECONDS; rows go to the metrics endpoint
  kAction      // take-action command for a product's command callback
};

// Sample type as the request objects report it (3, 1, 4; 0 for an action).
int SampleTypeOf(RequestKind kind);
// "report", "situation", "event", "export" or "action".
const char* KindName(RequestKind kind);

struct ConditionTerm {
  std::string attribute;  // upper case
  int op = 0;             // Operator
  bool quoted = false;    // the value was a quoted text
  std::string value;      // the value as text (quotes removed)
  std::int64_t number = 0;  // the value as number when it is not quoted
  int type = 0;           // attribute type, filled by CheckRequest
  int width = 0;          // attribute width, filled by CheckRequest
};

// A condition is a disjunction of rows; a row is a conjunction of terms.
typedef std::vector<std::vector<ConditionTerm>> ConditionRows;

struct ParsedRequest {
  int line = 0;
  RequestKind kind = RequestKind::kReport;
  std::string name;
  std::string table;    // upper case; empty for an action
  int interval = 0;     // seconds; 0 for a one-shot report and for events
  ConditionRows condition;
  std::string product;  // actions
  std::string command;  // actions
};

// Attribute of a table as the checker needs it.
struct AttributeView {
  std::string name;  // upper case
  int type = 0;      // 3, 9, 12, 13
  int width = 0;
};

// The attributes of a registered table, or null when no such table is offered.
typedef std::function<const std::vector<AttributeView>*(const std::string& table)> SchemaLookup;

enum class LineResult { kEmpty, kRequest, kError };

// Reads one line. On kError, *error says what is wrong.
LineResult ParseRequestLine(const std::string& line, ParsedRequest* req, std::string* error);

// Checks the table, the attributes and the value types; fills each term's
// type and width. Returns false with *error set when the request is unusable.
bool CheckRequest(ParsedRequest* req, const SchemaLookup& lookup, std::string* error);

struct RequestProblem {
  int line = 0;
  std::string message;
};

struct ParsedRequests {
  std::vector<ParsedRequest> requests;   // usable requests, in file order
  std::vector<RequestProblem> problems;  // skipped lines
};

// Reads a whole file (lines end with LF or CRLF). A UTF-8 byte-order mark is
// skipped; a file that starts with a UTF-16 one is read as UTF-16.
ParsedRequests ParseRequests(const std::string& file, const SchemaLookup& lookup);

// "FILE(LINE): MESSAGE"
std::string FormatProblem(const std::string& file, const RequestProblem& problem);

}  // namespace cfw
